// What a comparison of two firmware files says to people and to programs:
// log lines for the pipeline and the command line (texts of the catalog
// with their values, never finished lines, so each says them in the
// language in force), and the same as JSON. Pure; safe from any thread.
#ifndef LARKSPUR_DIFF_DIFF_REPORT_H_
#define LARKSPUR_DIFF_DIFF_REPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "diff/firmware_diff.h"

namespace larkspur::diff {

// A log line: a text of the catalog (app/texts.cc: its Chinese form, %1..%9
// standing for the values) and its values, each shown as it is. What the
// pipeline's reporter takes as a Text.
struct DiffLine {
  std::string key;
  std::vector<std::string> values;
  bool operator==(const DiffLine&) const = default;
};

// The counts of the summary line: files (hidden entries among them) and
// folders by what happened to them.
struct EntryCounts {
  std::size_t files_added = 0;
  std::size_t files_changed = 0;
  std::size_t files_removed = 0;
  std::size_t folders_added = 0;
  std::size_t folders_changed = 0;
  std::size_t folders_removed = 0;
};
EntryCounts CountEntries(const FirmwareDifference& difference);

// The summary of a difference: one line of counts ("3 files added, 1
// changed, 2 removed; 12 of 34 blocks differ", or why the files could not
// be compared), a warning when the new file keeps less than half of the old
// one's files or of their bytes, then a line per entry that differs, at
// most `max_entry_lines` of them and a line counting the rest.
std::vector<DiffLine> SummaryLines(const FirmwareDifference& difference, std::size_t max_entry_lines);

// Everything: the summary with every entry, then the partition's fields,
// what differs outside the payload and the runs of differing blocks; or,
// for the same files, the one line that says so.
std::vector<DiffLine> ReportLines(const FirmwareDifference& difference);

// The same as one JSON object (the shape is in the README), ending in a
// newline. `old_path` and `new_path` name the files.
std::string DiffJson(const FirmwareDifference& difference, const std::string& old_path,
                     const std::string& new_path);

// Why two files could not be compared, as JSON: {"error": "..."} and a
// newline.
std::string ErrorJson(const std::string& reason);

// What a Repack logs after writing its REB- file at `output_path` from the
// firmware file at `input_path` named `name` (of `kind`, in `model`): a
// heading, then SummaryLines with at most 20 entry lines. Never throws: a
// comparison that cannot be made gives the heading and one line naming why.
std::vector<DiffLine> RepackSummary(const std::string& input_path, const std::string& output_path,
                                    const std::string& name, PartitionKind kind, int model);

}  // namespace larkspur::diff

#endif  // LARKSPUR_DIFF_DIFF_REPORT_H_
