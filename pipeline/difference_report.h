// What a comparison of two firmware files (diff/firmware_diff.h) says to
// people: log lines as texts of the catalog with their values, so the
// window and the command line say them in the language in force. Repack
// closes with RepackSummary; larkspur-cli diff prints ReportLines. Pure but
// for RepackSummary, which reads both files; safe from any thread.
#ifndef LARKSPUR_PIPELINE_DIFFERENCE_REPORT_H_
#define LARKSPUR_PIPELINE_DIFFERENCE_REPORT_H_

#include <cstddef>
#include <string>
#include <vector>

#include "diff/firmware_diff.h"
#include "pipeline/reporter.h"

namespace larkspur::pipeline {

// The summary of a difference: one line of counts ("Files added: 3,
// changed: 1, removed: 2; blocks that differ: 12 of 34", or why the files
// could not be compared), a warning when the new file keeps less than half
// of the old one's files or of their bytes, then a line per entry that
// differs, at most `max_entry_lines` of them and a line counting the rest.
std::vector<Text> SummaryLines(const diff::FirmwareDifference& difference, std::size_t max_entry_lines);

// Everything: the summary with every entry, then the partition's fields,
// what differs outside the payload and the runs of differing blocks; or,
// for the same files, the one line that says so.
std::vector<Text> ReportLines(const diff::FirmwareDifference& difference);

// What a Repack logs after writing its REB- file at `output_path` from the
// firmware file at `input_path` named `name` (of `kind`, in `model`): a
// heading, then SummaryLines with at most 20 entry lines. Never throws: a
// comparison that cannot be made gives the heading and one line naming why.
std::vector<Text> RepackSummary(const std::string& input_path, const std::string& output_path, const std::string& name,
                                PartitionKind kind, int model);

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_DIFFERENCE_REPORT_H_
