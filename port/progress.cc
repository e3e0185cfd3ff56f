#include "port/progress.h"

#include <cstdlib>

namespace larkspur::port {
namespace {

// A decimal number without sign or leading blanks that fits 64 bits.
std::optional<std::uint64_t> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  std::uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
    if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
    value = value * 10 + digit;
  }
  return value;
}

// The text up to the next blank, and what follows that blank.
std::pair<std::string_view, std::string_view> NextWord(std::string_view text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return {text, std::string_view()};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

}  // namespace

std::string FormatProgressLine(const ProgressReport& report) {
  return std::string(kProgressLinePrefix) + report.kind + " " + std::to_string(report.done) + " " +
         std::to_string(report.total) + "\n";
}

std::optional<ProgressReport> ParseProgressLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (!line.starts_with(kProgressLinePrefix)) return std::nullopt;
  line.remove_prefix(kProgressLinePrefix.size());
  const auto [kind, after_kind] = NextWord(line);
  const auto [done_text, total_text] = NextWord(after_kind);
  if (kind.empty()) return std::nullopt;
  for (char c : kind) {
    if (c < 'a' || c > 'z') return std::nullopt;
  }
  const std::optional<std::uint64_t> done = ParseDecimal(done_text);
  const std::optional<std::uint64_t> total = ParseDecimal(total_text);
  // ParseDecimal refuses a blank, so a third number or trailing text fails.
  if (!done || !total || *done > *total) return std::nullopt;
  return ProgressReport{std::string(kind), *done, *total};
}

bool ProgressRequested() {
  const char* value = std::getenv(kProgressVariable);
  return value != nullptr && std::string_view(value) == "1";
}

ProgressPrinter::ProgressPrinter(bool enabled, std::string_view kind, std::FILE* out)
    : enabled_(enabled), kind_(kind), out_(out) {}

void ProgressPrinter::Update(std::uint64_t done, std::uint64_t total) {
  if (!enabled_) return;
  last_ = ProgressReport{kind_, done, total};
  const auto now = std::chrono::steady_clock::now();
  if (printed_ && now - printed_at_ < kMinimumInterval) return;
  Print();
  printed_at_ = now;
}

void ProgressPrinter::Finish() {
  if (!enabled_ || !last_ || printed_ == last_) return;
  Print();
}

void ProgressPrinter::Print() {
  const std::string line = FormatProgressLine(*last_);
  std::fwrite(line.data(), 1, line.size(), out_);
  std::fflush(out_);
  printed_ = last_;
}

ProgressLineSplitter::ProgressLineSplitter(ProgressCallback progress,
                                           std::function<void(std::string_view bytes)> pass_on)
    : progress_(std::move(progress)), pass_on_(std::move(pass_on)) {}

void ProgressLineSplitter::Feed(std::string_view bytes) {
  if (!progress_) {
    if (!bytes.empty()) pass_on_(bytes);
    return;
  }
  while (!bytes.empty()) {
    const std::size_t end = bytes.find('\n');
    if (end == std::string_view::npos) {
      if (long_line_) {
        pass_on_(bytes);
        return;
      }
      pending_.append(bytes);
      if (pending_.size() > kLongestLine) {
        // Too long to be a progress line: the rest of it is passed on as it
        // comes, up to its end.
        pass_on_(pending_);
        pending_.clear();
        long_line_ = true;
      }
      return;
    }
    const std::string_view piece = bytes.substr(0, end + 1);
    bytes.remove_prefix(end + 1);
    if (long_line_) {
      pass_on_(piece);
      long_line_ = false;
      continue;
    }
    if (pending_.empty()) {
      HandleLine(piece);
    } else {
      pending_.append(piece);
      HandleLine(pending_);
      pending_.clear();
    }
  }
}

void ProgressLineSplitter::Finish() {
  if (pending_.empty()) return;
  HandleLine(pending_);
  pending_.clear();
}

void ProgressLineSplitter::HandleLine(std::string_view line_with_end) {
  std::string_view line = line_with_end;
  if (line.ends_with('\n')) line.remove_suffix(1);
  if (const std::optional<ProgressReport> report = ParseProgressLine(line)) {
    progress_(*report);
  } else {
    pass_on_(line_with_end);
  }
}

}  // namespace larkspur::port
