// Writes the files of a parsed ROFS image into a folder on the host, keeping
// the folder structure and the case of every name as stored. Everything that
// can be decided without writing is decided first: every name is checked
// before the first byte goes to disk. Nothing is written outside the output
// folder, and a symbolic link met inside it is never written through. Not
// thread-safe for two extractions into the same folder.
#ifndef LARKSPUR_ROFS_ROFS_EXTRACT_H_
#define LARKSPUR_ROFS_ROFS_EXTRACT_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "rofs/rofs_reader.h"

namespace larkspur::rofs {

// One folder or file to create, in an order where every folder comes before
// what it holds.
struct ExtractItem {
  std::filesystem::path relative;  // below the output folder
  const RofsFile* file = nullptr;  // null for a folder
  std::uint32_t entry_offset = 0;  // for messages; 0 for the root
};

struct ExtractPlan {
  std::vector<ExtractItem> items;  // hidden entries are not among them
  std::size_t hidden_count = 0;
};

struct ExtractStats {
  std::size_t folders = 0;  // below the output folder
  std::size_t files = 0;
  std::uint64_t bytes = 0;
  std::size_t hidden_skipped = 0;
};

// Checks every name of `image` and orders the work. Throws FormatError
// naming `image_name`, the entry's offset and the name when a name is empty,
// "." or "..", holds '/', '\', ':' or NUL or an unpaired surrogate, cannot
// be held by the host file system, or repeats a name of its folder (ignoring
// ASCII case, as the phone does). The plan points into `image`.
ExtractPlan PlanExtraction(const RofsImage& image, std::string_view image_name);

// Plans, then writes every file of `image` (parsed from `bytes`) under
// `out_folder`, creating it and every needed folder; existing files of the
// same names are replaced. Hidden entries are not written. Throws what
// PlanExtraction throws (before anything is written), and HostFileError when
// a folder or file cannot be created or written, or when a symbolic link or
// a non-regular file stands where something is to be written.
//
// `progress`, when given, is called with the number of files written so far
// and the number to write (hidden entries not counted): once with 0 when
// the plan stands, then after each file.
using ExtractProgress = std::function<void(std::size_t files_done, std::size_t files_total)>;
ExtractStats ExtractImage(std::span<const std::uint8_t> bytes, const RofsImage& image,
                          std::string_view image_name, const std::filesystem::path& out_folder,
                          const ExtractProgress& progress = {});

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_EXTRACT_H_
