#include "bench/bench_inputs.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <vector>

#include "app/run_reports.h"
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

}  // namespace

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
