// The ROFS image reader, the lookup-table check, listing and extraction on
// arbitrary bytes. Properties:
//   - only the library's own errors come out, each naming the image;
//   - a parsed tree agrees with its counts, and every file's data lies
//     inside the image;
//   - the kept-entries record of a parsed image holds one record per hidden
//     entry, and its text parses back to the same record;
//   - extraction into scratch/out writes nothing anywhere else in scratch/,
//     never writes through the symbolic links planted in out/ (one to a
//     folder, one dangling), writes nothing at all when a name is refused,
//     and on success leaves exactly the planned folders and files, each
//     with its data.
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

#include "fuzz/extraction_scratch.h"
#include "fuzz/fuzz_check.h"
#include "rofs/host_names.h"
#include "rofs/kept_entries.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_lookup.h"
#include "rofs/rofs_reader.h"

namespace larkspur::fuzz {
namespace {

namespace fs = std::filesystem;
using rofs::RofsDirectory;
using rofs::RofsFile;

constexpr char kImageName[] = "fuzz.img";


void CountTree(const RofsDirectory& dir, std::span<const std::uint8_t> bytes, const rofs::RofsImage& image,
               std::uint32_t& folders, std::uint32_t& files, std::size_t& hidden) {
  ++folders;
  for (const RofsFile& file : dir.files) {
    ++files;
    if (file.hidden()) ++hidden;
    Keep(rofs::ImageNameForDisplay(file.name).size());
    if (file.hidden()) continue;
    LARKSPUR_FUZZ_CHECK(std::uint64_t{file.address} + file.size <= image.header.image_size &&
                            image.header.image_size <= bytes.size(),
                        "file data at 0x%X (%u bytes) lies outside the image", file.address, file.size);
    Keep(rofs::FileData(bytes, file).size());
  }
  for (const RofsDirectory& sub : dir.subdirectories) {
    Keep(rofs::ImageNameForDisplay(sub.name).size());
    CountTree(sub, bytes, image, folders, files, hidden);
  }
}

bool StartsWith(const char* text, const std::string& start) { return std::string(text).rfind(start, 0) == 0; }

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  using namespace larkspur::fuzz;
  static const ExtractionScratch scratch("larkspur-rofs-fuzz");
  const std::span<const std::uint8_t> bytes(data, size);

  rofs::RofsImage image;
  try {
    image = rofs::ParseRofsImage(bytes, kImageName);
  } catch (const rofs::FormatError& error) {
    LARKSPUR_FUZZ_CHECK(StartsWith(error.what(), std::string(kImageName) + ": "), "message %s", error.what());
    return 0;
  }
  std::uint32_t folders = 0, files = 0;
  std::size_t hidden = 0;
  CountTree(image.root, bytes, image, folders, files, hidden);
  LARKSPUR_FUZZ_CHECK(folders == image.directory_count && files == image.file_count,
                      "counted %u folders and %u files, the image says %u and %u", folders, files,
                      image.directory_count, image.file_count);
  Keep(rofs::FindLookupTableProblems(bytes, image).size());
  const rofs::KeptEntries kept = rofs::KeptEntriesFromImage(bytes, kImageName);
  LARKSPUR_FUZZ_CHECK(kept.hidden.size() == hidden, "kept %zu hidden entries of %zu", kept.hidden.size(), hidden);
  LARKSPUR_FUZZ_CHECK(rofs::ParseKeptEntries(rofs::FormatKeptEntries(kept), "kept.txt") == kept,
                      "the kept record does not survive its text");

  scratch.Reset();
  std::map<std::string, std::string> planned_files;
  std::set<std::string> planned_folders;
  bool extracted = false;
  bool refused_name = false;
  try {
    const rofs::ExtractPlan plan = rofs::PlanExtraction(image, kImageName);
    for (const rofs::ExtractItem& item : plan.items) {
      if (item.file == nullptr) {
        planned_folders.insert(item.relative.generic_string());
      } else {
        const auto content = rofs::FileData(bytes, *item.file);
        planned_files[item.relative.generic_string()] = std::string(content.begin(), content.end());
      }
    }
    const rofs::ExtractStats stats = rofs::ExtractImage(bytes, image, kImageName, scratch.out());
    LARKSPUR_FUZZ_CHECK(stats.files == planned_files.size() && stats.folders == planned_folders.size(),
                        "stats differ from the plan");
    extracted = true;
  } catch (const rofs::FormatError& error) {
    LARKSPUR_FUZZ_CHECK(StartsWith(error.what(), std::string(kImageName) + ": "), "message %s", error.what());
    refused_name = true;
  } catch (const rofs::HostFileError& error) {
    Keep(error.what()[0]);
  }

  const ExtractedTree tree = CheckScratch(scratch);
  if (refused_name) {
    LARKSPUR_FUZZ_CHECK(tree.files.empty() && tree.folders.empty(), "a refused image wrote %zu files, %zu folders",
                        tree.files.size(), tree.folders.size());
  }
  if (extracted) {
    LARKSPUR_FUZZ_CHECK(tree.folders == planned_folders, "folders on disk differ from the plan");
    LARKSPUR_FUZZ_CHECK(tree.files == planned_files, "files on disk differ from the plan");
  }
  return 0;
}
