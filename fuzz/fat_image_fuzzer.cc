// The FAT12/16 reader, the volume description, extraction and the writer on
// arbitrary bytes. Properties:
//   - only the library's own errors come out, each naming the image;
//   - a parsed tree agrees with its counts and with the cluster totals,
//     every name passes the name check and is unique in its folder ignoring
//     case, and every file's extents lie inside the data region and add up
//     to its size;
//   - extraction into scratch/out writes nothing anywhere else in scratch/,
//     never writes through the symbolic links planted in out/ (one to a
//     folder, one dangling), and on success leaves exactly the planned
//     folders and files, each with its data;
//   - an extracted tree built back into the image's geometry, when it fits,
//     reads back with the same files.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <span>
#include <string>
#include <unistd.h>

#include "fat/fat_extract.h"
#include "fat/fat_names.h"
#include "fat/fat_reader.h"
#include "fat/fat_writer.h"
#include "fuzz/extraction_scratch.h"
#include "fuzz/fuzz_check.h"
#include "rofs/rofs_errors.h"
#include "rofs/utf16.h"

namespace larkspur::fuzz {
namespace {

namespace fs = std::filesystem;
using fat::FatFile;
using fat::FatFolder;

constexpr char kImageName[] = "fuzz.img";


void CheckName(std::u16string_view name, std::set<std::u16string>& seen) {
  const auto problem = fat::FatNameProblem(name);
  LARKSPUR_FUZZ_CHECK(!problem, "the reader let through a name that is refused: %s", problem->c_str());
  LARKSPUR_FUZZ_CHECK(seen.insert(fat::FoldFatCase(name)).second, "two names of a folder match ignoring case");
}

void CheckFolder(const FatFolder& folder, std::span<const std::uint8_t> bytes, const fat::FatVolume& volume,
                 std::uint32_t& folders, std::uint32_t& files) {
  const fat::VolumeLayout& layout = volume.geometry.layout;
  const std::uint64_t data_end =
      layout.data_offset + std::uint64_t{layout.cluster_count} * layout.cluster_size;
  std::set<std::u16string> seen;
  for (const FatFile& file : folder.files) {
    ++files;
    CheckName(file.name, seen);
    std::uint64_t total = 0;
    for (const fat::Extent& extent : file.extents) {
      LARKSPUR_FUZZ_CHECK(extent.offset >= layout.data_offset && extent.offset <= data_end &&
                              extent.length <= data_end - extent.offset && data_end <= bytes.size(),
                          "file data at 0x%llX (%llu bytes) lies outside the data region",
                          static_cast<unsigned long long>(extent.offset),
                          static_cast<unsigned long long>(extent.length));
      total += extent.length;
    }
    LARKSPUR_FUZZ_CHECK(total == file.size, "extents hold %llu bytes of a file of %u",
                        static_cast<unsigned long long>(total), file.size);
    Keep(fat::FileBytes(bytes, file).size());
  }
  for (const FatFolder& sub : folder.folders) {
    ++folders;
    CheckName(sub.name, seen);
    CheckFolder(sub, bytes, volume, folders, files);
  }
}

// name -> content of every file, and the folders, by path.
void Collect(const FatFolder& folder, std::span<const std::uint8_t> bytes, const std::string& prefix,
             ExtractedTree& tree) {
  for (const FatFile& file : folder.files) {
    tree.files[prefix + rofs::Utf16ToUtf8Lossy(file.name)] = fat::FileBytes(bytes, file);
  }
  for (const FatFolder& sub : folder.folders) {
    const std::string path = prefix + rofs::Utf16ToUtf8Lossy(sub.name);
    tree.folders.insert(path);
    Collect(sub, bytes, path + "/", tree);
  }
}

bool StartsWith(const char* text, const std::string& start) { return std::string(text).rfind(start, 0) == 0; }

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  using namespace larkspur::fuzz;
  static const ExtractionScratch scratch("larkspur-fat-fuzz");
  const std::span<const std::uint8_t> bytes(data, size);

  fat::FatVolume volume;
  try {
    volume = fat::ParseFatImage(bytes, kImageName);
  } catch (const rofs::FormatError& error) {
    LARKSPUR_FUZZ_CHECK(StartsWith(error.what(), std::string(kImageName) + ": "), "message %s", error.what());
    return 0;
  }
  std::uint32_t folders = 0, files = 0;
  CheckFolder(volume.root, bytes, volume, folders, files);
  LARKSPUR_FUZZ_CHECK(folders == volume.folder_count && files == volume.file_count,
                      "counted %u folders and %u files, the volume says %u and %u", folders, files,
                      volume.folder_count, volume.file_count);
  LARKSPUR_FUZZ_CHECK(volume.used_clusters + volume.free_clusters + volume.bad_clusters ==
                          volume.geometry.layout.cluster_count,
                      "cluster totals do not add up");
  Keep(fat::DescribeFatVolume(volume).size());

  scratch.Reset();
  ExtractedTree planned;
  bool extracted = false;
  try {
    for (const fat::FatExtractItem& item : fat::PlanFatExtraction(volume, kImageName)) {
      if (item.folder != nullptr) {
        planned.folders.insert(item.relative.generic_string());
      } else {
        planned.files[item.relative.generic_string()] = fat::FileBytes(bytes, *item.file);
      }
    }
    const fat::FatExtractStats stats = fat::ExtractFatImage(bytes, volume, kImageName, scratch.out());
    LARKSPUR_FUZZ_CHECK(stats.files == planned.files.size() && stats.folders == planned.folders.size(),
                        "stats differ from the plan");
    extracted = true;
  } catch (const rofs::FormatError& error) {
    LARKSPUR_FUZZ_CHECK(StartsWith(error.what(), std::string(kImageName) + ": "), "message %s", error.what());
  } catch (const rofs::HostFileError& error) {
    Keep(error.what()[0]);
  } catch (const std::runtime_error& error) {
    // port's errors, when a planted link stands where a file goes.
    Keep(error.what()[0]);
  }

  const ExtractedTree tree = CheckScratch(scratch);
  if (!extracted) return 0;
  LARKSPUR_FUZZ_CHECK(tree.folders == planned.folders, "folders on disk differ from the plan");
  LARKSPUR_FUZZ_CHECK(tree.files == planned.files, "files on disk differ from the plan");

  // Back into the same geometry, without the planted links.
  fs::remove(scratch.out() / "lnk");
  fs::remove(scratch.out() / "lnkf");
  std::vector<std::uint8_t> rebuilt;
  try {
    rebuilt = fat::BuildFatImage(bytes, kImageName, scratch.out());
  } catch (const fat::FatBuildError& error) {
    Keep(error.what()[0]);  // more than the volume holds; the original may have packed tighter
    return 0;
  }
  LARKSPUR_FUZZ_CHECK(rebuilt.size() == bytes.size(), "the rebuilt image has another size");
  const fat::FatVolume again = fat::ParseFatImage(rebuilt, "rebuilt.img");
  ExtractedTree read_back;
  Collect(again.root, rebuilt, "", read_back);
  LARKSPUR_FUZZ_CHECK(read_back.files == tree.files && read_back.folders == tree.folders,
                      "the rebuilt image holds other files");
  return 0;
}
