#include "bench/bench_inputs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "app/run_reports.h"
#include "fat/fat_writer.h"
#include "pipeline/tool_runner.h"
#include "port/errors.h"
#include "port/files.h"
#include "repack/obey_file.h"
#include "testing/firmware_fixture.h"

namespace larkspur::bench {
namespace {

constexpr std::size_t kShortFirstBlock = 0x400;
constexpr int kFilesPerFolder = 100;
constexpr char kTreeObey[] = "temp/bench-tree.obey";

// How many blocks MakeFirmware cuts a partition of `size` bytes into.
std::uint64_t BlockCount(std::uint64_t size, std::uint64_t block, bool short_first) {
  if (short_first && size > block) return 1 + (size - kShortFirstBlock + block - 1) / block;
  return (size + block - 1) / block;
}

// The partition size that makes prefix, headers and partition exactly
// `file_size` bytes.
std::uint64_t PartitionSizeFor(std::uint64_t file_size, std::uint64_t prefix, std::uint64_t header,
                               std::uint64_t block, bool short_first) {
  for (std::uint64_t blocks = 1; blocks <= file_size / block + 2; ++blocks) {
    const std::uint64_t overhead = prefix + header * blocks;
    if (overhead >= file_size) break;
    const std::uint64_t size = file_size - overhead;
    if (BlockCount(size, block, short_first) == blocks) return size;
  }
  throw std::runtime_error("no partition size gives a firmware file of " +
                           std::to_string(file_size) + " bytes");
}

// Writes the firmware file block by block, so only the partition is held
// whole.
void WriteFirmwareFile(const std::string& path, const testing::FirmwareSpec& spec,
                       const std::string& partition, std::uint64_t block) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(spec.prefix.data(), static_cast<std::streamsize>(spec.prefix.size()));
  std::uint32_t address = spec.start_address;
  std::size_t at = 0;
  auto put = [&](std::size_t length) {
    const std::string bytes = testing::MakeBlock(spec, partition.substr(at, length), address);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    address += static_cast<std::uint32_t>(length);
    at += length;
  };
  if (spec.n96_short_first_block && partition.size() > block) put(kShortFirstBlock);
  while (at < partition.size()) put(std::min<std::size_t>(block, partition.size() - at));
  out.close();
  if (!out) throw FileCreateError(path, "writing the generated firmware file failed");
}

void CheckSize(const std::string& path, std::uint64_t file_size) {
  if (port::FileSize(path) != static_cast<std::int64_t>(file_size)) {
    throw FileCreateError(path, "the generated firmware file is " +
                                    std::to_string(port::FileSize(path)) + " bytes, not " +
                                    std::to_string(file_size));
  }
}

std::string ReadAll(const std::string& path) {
  std::string bytes;
  if (!port::ReadWholeFile(path, bytes, static_cast<std::uint64_t>(1) << 32)) {
    throw FileOpenError(path, "missing or empty");
  }
  return bytes;
}

// An empty FAT16 volume of `size` bytes (whole sectors; the rest stays
// zero behind it): 8 KiB clusters, two FATs, 512 root entries, a label.
std::vector<std::uint8_t> EmptyFat16Volume(std::uint64_t size) {
  constexpr std::uint32_t kSector = 512;
  constexpr std::uint32_t kSectorsPerCluster = 16;
  constexpr std::uint32_t kReserved = 4;
  constexpr std::uint32_t kRootSectors = 512 * 32 / kSector;
  const auto total = static_cast<std::uint32_t>(size / kSector);
  const std::uint32_t clusters = (total - kReserved - kRootSectors) / kSectorsPerCluster;
  const std::uint32_t fat_sectors = ((clusters + 2) * 2 + kSector - 1) / kSector;
  std::vector<std::uint8_t> volume(static_cast<std::size_t>(size), 0);
  const std::string boot = testing::FatBootSector(0);
  std::copy(boot.begin(), boot.end(), volume.begin());
  const auto put = [&](std::size_t at, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) volume[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  volume[13] = kSectorsPerCluster;
  put(22, fat_sectors, 2);
  put(32, total, 4);  // the 16-bit count (19) stays 0: too many sectors for it
  volume[38] = 0x29;
  put(39, 0x12345678, 4);
  std::copy_n("BENCH      FAT16   ", 19, volume.begin() + 43);
  for (std::uint32_t copy = 0; copy < 2; ++copy) {
    const std::size_t fat = (kReserved + copy * fat_sectors) * kSector;
    put(fat, 0xFFFFFFF8, 4);  // the media byte and the end mark of clusters 0 and 1
  }
  return volume;
}

void WriteUdaPartition(const std::string& path, int model, std::uint64_t file_size,
                       const std::vector<std::uint8_t>& partition) {
  const ModelProfile& profile = ProfileForModel(model);
  const testing::FirmwareSpec spec{.model = model, .uda = true, .prefix = testing::PatternBytes(4096, 11)};
  WriteFirmwareFile(path, spec, std::string(partition.begin(), partition.end()),
                    static_cast<std::uint64_t>(profile.UdaBlockSize));
  CheckSize(path, file_size);
}

}  // namespace

void WriteUdaFirmwarePair(const std::string& old_path, const std::string& new_path, int model,
                          std::uint64_t file_size, const std::string& tree, const std::string& edited_tree) {
  namespace fs = std::filesystem;
  const ModelProfile& profile = ProfileForModel(model);
  const std::uint64_t size = PartitionSizeFor(file_size, 4096, profile.UdaHeaderSize,
                                              static_cast<std::uint64_t>(profile.UdaBlockSize), false);
  const std::vector<std::uint8_t> empty = EmptyFat16Volume(size);
  WriteUdaPartition(old_path, model, file_size, fat::BuildFatImage(empty, "fat16.img", tree));
  // The edited tree: the same files with the same times, then one removed,
  // one changed in place, one added.
  fs::remove_all(edited_tree);
  fs::create_directories(edited_tree);
  fs::copy(tree, edited_tree, fs::copy_options::recursive);
  for (const auto& entry : fs::recursive_directory_iterator(tree)) {
    const fs::path copy = fs::path(edited_tree) / fs::relative(entry.path(), tree);
    fs::last_write_time(copy, fs::last_write_time(entry.path()));
  }
  fs::remove(fs::path(edited_tree) / "dir00/file0000.dat");
  fs::last_write_time(fs::path(edited_tree) / "dir00", fs::last_write_time(fs::path(tree) / "dir00"));
  {
    std::fstream changed(fs::path(edited_tree) / "dir01/file0100.dat", std::ios::binary | std::ios::in | std::ios::out);
    changed.seekp(100);
    changed.write("changed", 7);
  }
  fs::last_write_time(fs::path(edited_tree) / "dir01/file0100.dat",
                      fs::last_write_time(fs::path(tree) / "dir01/file0100.dat"));
  const std::string added = testing::PatternBytes(1 << 20, 77);
  std::ofstream(fs::path(edited_tree) / "added.dat", std::ios::binary).write(added.data(), added.size());
  WriteUdaPartition(new_path, model, file_size, fat::BuildFatImage(empty, "fat16.img", edited_tree));
}

void WriteUdaFirmware(const std::string& path, int model, std::uint64_t file_size) {
  const ModelProfile& profile = ProfileForModel(model);
  const testing::FirmwareSpec spec{
      .model = model, .uda = true, .prefix = testing::PatternBytes(4096, 11)};
  const auto block = static_cast<std::uint64_t>(profile.UdaBlockSize);
  const std::uint64_t size =
      PartitionSizeFor(file_size, spec.prefix.size(), profile.UdaHeaderSize, block, false);
  // A FAT16 boot sector's jump opens the partition, as carving expects.
  const std::string partition = std::string("\xE9\x00\x90", 3) + testing::PatternBytes(size - 3, 5);
  WriteFirmwareFile(path, spec, partition, block);
  CheckSize(path, file_size);
}

void WriteTree(const std::string& folder, int file_count, std::uint64_t total_bytes) {
  const std::uint64_t mean = total_bytes / static_cast<std::uint64_t>(file_count);
  std::uint64_t written = 0;
  for (int index = 0; index < file_count; ++index) {
    // Sizes go up and down in pairs around the mean, so the total holds.
    const std::uint64_t swing = (static_cast<std::uint64_t>(index / 2) * 7919) % (mean * 3 / 4);
    std::uint64_t size = index % 2 == 0 ? mean + swing : mean - swing;
    if (index == file_count - 1) size = total_bytes - written;
    char relative[64];
    std::snprintf(relative, sizeof relative, "dir%02d/file%04d.dat", index / kFilesPerFolder,
                  index);
    const std::filesystem::path file = std::filesystem::path(folder) / relative;
    std::filesystem::create_directories(file.parent_path());
    const std::string bytes =
        testing::PatternBytes(static_cast<std::size_t>(size), static_cast<unsigned>(index + 1));
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw FileCreateError(file.string(), "writing a tree file failed");
    written += size;
  }
}

void WriteRofsFirmware(const std::string& program_folder, const std::string& path, int model,
                       std::uint64_t file_size) {
  std::vector<std::string> found;
  ListFilesDepthFirst(port::JoinPath(program_folder, "rofs2"), "*.*", true, "rofs2\\", found);
  std::vector<std::string> lines = {kObeyNameLine, kObeySizeLine, "time=01/01/2010_00:00:00"};
  for (const std::string& relative : found) lines.push_back(ObeyDataLine(relative));
  port::WriteFileReplacing(port::JoinPath(program_folder, kTreeObey), {JoinObeyLines(lines)});

  const std::string built = port::JoinPath(program_folder, "exebat/rofs2r.img");
  port::DeleteFile(built);
  const port::ProcessOutcome outcome =
      RunInToolFolder(program_folder, std::string("rofsbuild.exe ../") + kTreeObey, nullptr);
  if (!Succeeded(outcome)) throw std::runtime_error("rofsbuild " + SayText(DescribeOutcome(outcome)));
  const std::string image = ReadAll(built);
  port::DeleteFile(built);

  const ModelProfile& profile = ProfileForModel(model);
  const testing::FirmwareSpec spec{.model = model,
                                   .prefix = testing::PatternBytes(1024, 13),
                                   .n96_short_first_block = model == kN96ModelIndex};
  const auto block = static_cast<std::uint64_t>(profile.RofsBlockSize);
  const std::uint64_t size = PartitionSizeFor(file_size, spec.prefix.size(), profile.RofsHeaderSize,
                                              block, spec.n96_short_first_block);
  if (kRofsFiller + image.size() > size) {
    throw std::runtime_error("the ROFS image of " + std::to_string(image.size()) +
                             " bytes does not fit " + std::to_string(size) + " bytes of stream");
  }
  std::string stream(kRofsFiller, '\0');
  stream += image;
  stream.append(static_cast<std::size_t>(size) - stream.size(), '\xFF');
  WriteFirmwareFile(path, spec, stream, block);
  CheckSize(path, file_size);
}

}  // namespace larkspur::bench
