// The benchmark's printed table: each phase's time, throughput, ratio to
// the copy of the same file, and peak resident memory against the file
// size. Also a digest of output files, so two runs (before and after a
// change) can show their outputs are the same bytes.
#ifndef LARKSPUR_BENCH_BENCH_REPORT_H_
#define LARKSPUR_BENCH_BENCH_REPORT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace larkspur::bench {

struct Figure {
  std::string label;
  double median_seconds = 0;       // of the runs
  double copy_median_seconds = 0;  // of the durable copies run just before them; 0 for none
  double copy_ratio = 0;           // the median of run / its copy, pair by pair; 0 for none
  std::uint64_t bytes = 0;         // what the throughput is counted of
  std::uint64_t peak_bytes = 0;    // the largest of the runs; 0 when unknown
};

// Prints a section: its title, then one line per figure: the median time,
// its throughput, the median of the paired copies, the ratio to them, and
// the peak as a ratio to `file_size`.
void PrintSection(std::ostream& out, const std::string& title, std::uint64_t file_size,
                  const std::vector<Figure>& figures);

// Prints "target ... PASS/MISS" for one measured value against its limit;
// `at_most` says which way the limit goes.
void PrintTarget(std::ostream& out, const std::string& what, double value, double limit, bool at_most,
                 const std::string& unit);

// A 64-bit digest of a file's bytes, as 16 hex digits, read in pieces so the
// caller's memory stays small. Empty when the file cannot be read.
std::string ContentDigest(const std::string& path);

// True when the two files hold the same bytes.
bool SameContent(const std::string& a, const std::string& b);

// The median of `values`; 0 for none.
double MedianOf(std::vector<double> values);

// `folder` with a separator at its end.
std::string WithSeparator(std::string folder);

// The benchmark's work folder: `given` made absolute, or a fresh name
// `stem`-NUMBER in the system's temporary folder; ends in a separator.
std::string WorkFolder(const std::string& given, const std::string& stem);

}  // namespace larkspur::bench

#endif  // LARKSPUR_BENCH_BENCH_REPORT_H_
