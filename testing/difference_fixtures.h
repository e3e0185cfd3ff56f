// Test helpers for the difference of two firmware files: entries made by
// hand for the tests of what a difference says (JSON, log lines). Header
// only; the includer links larkspur_diff.
#ifndef LARKSPUR_TESTING_DIFFERENCE_FIXTURES_H_
#define LARKSPUR_TESTING_DIFFERENCE_FIXTURES_H_

#include <cstdint>
#include <string>

#include "diff/firmware_diff.h"

namespace larkspur::testing {

// A file that differs: `status`, its sizes, and other bytes when changed.
inline diff::EntryDifference FileDifference(const std::string& path, diff::EntryStatus status, std::uint64_t old_size,
                                            std::uint64_t new_size) {
  diff::EntryDifference entry;
  entry.path = path;
  entry.status = status;
  entry.old_size = old_size;
  entry.new_size = new_size;
  entry.content_changed = status == diff::EntryStatus::kChanged;
  return entry;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_DIFFERENCE_FIXTURES_H_
