// Progress reports from the external tools to the program that started
// them. A tool asked for progress (LARKSPUR_PROGRESS=1 in its environment)
// writes lines such as "@progress files 12 210" to its standard output; the
// process runner (port/process.h) picks them out of the tool's output and
// hands them to a callback instead of passing them on.
//
// The line format and the parser are shared by both sides. ProgressPrinter
// is for the tools; LineSplitter for the runner. Nothing here keeps global
// state; each object belongs to one thread.
#ifndef LARKSPUR_PORT_PROGRESS_H_
#define LARKSPUR_PORT_PROGRESS_H_

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::port {

// The environment variable that asks a tool for progress lines; the tools
// write them only when it is "1".
inline constexpr char kProgressVariable[] = "LARKSPUR_PROGRESS";

// A progress line is this prefix, a kind, the work done and the total, in
// decimal, separated by one blank: "@progress bytes 123456 7890123".
inline constexpr std::string_view kProgressLinePrefix = "@progress ";

// The kinds the tools write: readimage counts files extracted, rofsbuild
// bytes of file data written.
inline constexpr std::string_view kProgressFiles = "files";
inline constexpr std::string_view kProgressBytes = "bytes";

struct ProgressReport {
  std::string kind;  // a lower-case word: kProgressFiles, kProgressBytes
  std::uint64_t done = 0;
  std::uint64_t total = 0;

  bool operator==(const ProgressReport&) const = default;
};

using ProgressCallback = std::function<void(const ProgressReport& report)>;

// "@progress <kind> <done> <total>" and a line end.
std::string FormatProgressLine(const ProgressReport& report);

// The report a line (without its line end; a trailing '\r' is allowed)
// carries, or nothing when it is not a well-formed progress line: the
// prefix, a kind of lower-case letters, two decimal numbers that fit 64
// bits with done <= total, and nothing after them.
std::optional<ProgressReport> ParseProgressLine(std::string_view line);

// True when this process was asked for progress lines.
bool ProgressRequested();

// Writes progress lines of one kind for a tool: at most one per
// kMinimumInterval while the work goes on, and the last state once more
// when Finish is called, unless it was the last line written. Does nothing
// unless `enabled`. Each line is flushed at once, so it reaches the reader
// while the tool works.
class ProgressPrinter {
 public:
  static constexpr std::chrono::milliseconds kMinimumInterval{100};

  ProgressPrinter(bool enabled, std::string_view kind, std::FILE* out = stdout);

  // The work done so far and in all; prints when the last line is old
  // enough (the first call always prints).
  void Update(std::uint64_t done, std::uint64_t total);
  // Prints the state of the last Update, unless that is what the last line
  // said; nothing without an Update.
  void Finish();

 private:
  void Print();

  bool enabled_;
  std::string kind_;
  std::FILE* out_;
  std::optional<ProgressReport> last_;     // the last Update
  std::optional<ProgressReport> printed_;  // the last line written
  std::chrono::steady_clock::time_point printed_at_;
};

// Cuts a stream of bytes into lines and picks out the progress lines. Bytes
// are given as they arrive, in pieces of any size; a progress line split
// across pieces is still found. Every byte that is not part of a progress
// line goes to `pass_on` in order (line ends included); progress lines go to
// `progress` alone. Without `progress` every byte is passed on at once, as
// it arrives.
class ProgressLineSplitter {
 public:
  // A line longer than this without its end is no progress line: it is
  // passed on as it is, so a tool writing binary noise cannot make the
  // buffer grow without bound.
  static constexpr std::size_t kLongestLine = 256;

  ProgressLineSplitter(ProgressCallback progress, std::function<void(std::string_view bytes)> pass_on);

  void Feed(std::string_view bytes);
  // The end of the stream: a last line without a line end is handled too.
  void Finish();

 private:
  void HandleLine(std::string_view line_with_end);

  ProgressCallback progress_;
  std::function<void(std::string_view)> pass_on_;
  std::string pending_;     // the start of a line whose end has not come yet
  bool long_line_ = false;  // within a line already found too long
};

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_PROGRESS_H_
