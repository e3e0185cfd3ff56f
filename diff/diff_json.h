// What a comparison of two firmware files says to programs: the counts of
// what happened to the entries, and the whole difference as one JSON object
// (its shape is in the README). What it says to people is
// pipeline/difference_report.h. Pure; safe from any thread.
#ifndef LARKSPUR_DIFF_DIFF_JSON_H_
#define LARKSPUR_DIFF_DIFF_JSON_H_

#include <cstddef>
#include <string>

#include "diff/firmware_diff.h"

namespace larkspur::diff {

// Files (hidden entries among them) and folders by what happened to them.
struct EntryCounts {
  std::size_t files_added = 0;
  std::size_t files_changed = 0;
  std::size_t files_removed = 0;
  std::size_t folders_added = 0;
  std::size_t folders_changed = 0;
  std::size_t folders_removed = 0;
};
EntryCounts CountEntries(const FirmwareDifference& difference);

// The difference as one JSON object, ending in a newline. `old_path` and
// `new_path` name the files.
std::string DiffJson(const FirmwareDifference& difference, const std::string& old_path, const std::string& new_path);

// Why two files could not be compared, as JSON: {"error": "..."} and a
// newline.
std::string ErrorJson(const std::string& reason);

}  // namespace larkspur::diff

#endif  // LARKSPUR_DIFF_DIFF_JSON_H_
