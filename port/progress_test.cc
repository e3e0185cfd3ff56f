#include "port/progress.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace larkspur::port {
namespace {

TEST(ProgressLineTest, ParsesWellFormedLinesOnly) {
  struct Case {
    const char* line;
    std::optional<ProgressReport> report;
  };
  const Case cases[] = {
      {"@progress files 12 210", ProgressReport{"files", 12, 210}},
      {"@progress bytes 0 0", ProgressReport{"bytes", 0, 0}},
      {"@progress bytes 18446744073709551615 18446744073709551615",
       ProgressReport{"bytes", UINT64_MAX, UINT64_MAX}},
      {"@progress files 3 5\r", ProgressReport{"files", 3, 5}},  // a Windows line end
      {"@progress files 6 5", std::nullopt},                     // done beyond total
      {"@progress bytes 18446744073709551616 18446744073709551616", std::nullopt},
      {"@progress files 1", std::nullopt},
      {"@progress files 1 2 3", std::nullopt},
      {"@progress files 1 2 ", std::nullopt},
      {"@progress files  1 2", std::nullopt},
      {"@progress files -1 2", std::nullopt},
      {"@progress files +1 2", std::nullopt},
      {"@progress Files 1 2", std::nullopt},
      {"@progress  1 2", std::nullopt},
      {"@progressfiles 1 2", std::nullopt},
      {" @progress files 1 2", std::nullopt},
      {"readimage: extracted 3 files", std::nullopt},
      {"", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseProgressLine(c.line), c.report) << '"' << c.line << '"';
  }
}

TEST(ProgressLineTest, FormattedLinesParseBack) {
  const ProgressReport report{"bytes", 123456, 7890123};
  const std::string line = FormatProgressLine(report);
  EXPECT_EQ(line, "@progress bytes 123456 7890123\n");
  EXPECT_EQ(ParseProgressLine(std::string_view(line).substr(0, line.size() - 1)), report);
}

// What a splitter hands on: the reports, and the other bytes in order.
struct Split {
  std::vector<ProgressReport> reports;
  std::string passed_on;
};

Split SplitInPieces(const std::string& stream, std::size_t piece_size, bool with_callback) {
  Split split;
  ProgressCallback progress;
  if (with_callback) progress = [&split](const ProgressReport& report) { split.reports.push_back(report); };
  ProgressLineSplitter splitter(progress, [&split](std::string_view bytes) { split.passed_on.append(bytes); });
  for (std::size_t at = 0; at < stream.size(); at += piece_size) splitter.Feed(std::string_view(stream).substr(at, piece_size));
  splitter.Finish();
  return split;
}

// However the pipe cuts the output, progress lines are found and every
// other byte is passed on once, in order.
TEST(ProgressLineSplitterTest, FindsProgressLinesCutAtAnyPoint) {
  const std::string stream =
      "starting\n@progress files 0 3\r\n@progress files 2 3\nwarning: @progress files 1 3\n"
      "@progress files 9 3\n\n@progress files 3 3";
  const std::vector<ProgressReport> expected_reports = {{"files", 0, 3}, {"files", 2, 3}, {"files", 3, 3}};
  const std::string expected_passed = "starting\nwarning: @progress files 1 3\n@progress files 9 3\n\n";
  for (std::size_t piece = 1; piece <= stream.size(); ++piece) {
    const Split split = SplitInPieces(stream, piece, true);
    EXPECT_EQ(split.reports, expected_reports) << "pieces of " << piece;
    EXPECT_EQ(split.passed_on, expected_passed) << "pieces of " << piece;
  }
}

TEST(ProgressLineSplitterTest, WithoutACallbackEveryByteIsPassedOn) {
  const std::string stream = "@progress files 1 2\nlast words without an end";
  const Split split = SplitInPieces(stream, 7, false);
  EXPECT_TRUE(split.reports.empty());
  EXPECT_EQ(split.passed_on, stream);
}

// A line too long to be a progress line is passed on whole, and what
// follows it is read as lines again.
TEST(ProgressLineSplitterTest, AnOverlongLineIsPassedOn) {
  const std::string long_line = "@progress files 1 2" + std::string(ProgressLineSplitter::kLongestLine, ' ');
  const std::string stream = long_line + "\n@progress files 2 2\n" + long_line;
  for (std::size_t piece : {std::size_t{1}, std::size_t{100}, stream.size()}) {
    const Split split = SplitInPieces(stream, piece, true);
    EXPECT_EQ(split.reports, (std::vector<ProgressReport>{{"files", 2, 2}})) << "pieces of " << piece;
    EXPECT_EQ(split.passed_on, long_line + "\n" + long_line) << "pieces of " << piece;
  }
}

std::string PrintedBy(bool enabled, const std::vector<std::pair<std::uint64_t, std::uint64_t>>& updates) {
  std::FILE* file = std::tmpfile();
  EXPECT_NE(file, nullptr);
  if (file == nullptr) return "";
  {
    ProgressPrinter printer(enabled, kProgressFiles, file);
    for (const auto& [done, total] : updates) printer.Update(done, total);
    printer.Finish();
  }
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
  std::fclose(file);
  return text;
}

TEST(ProgressPrinterTest, WritesTheFirstAndTheLastStateAndFewerLinesThanUpdates) {
  std::vector<std::pair<std::uint64_t, std::uint64_t>> updates;
  for (std::uint64_t done = 0; done <= 5000; ++done) updates.emplace_back(done, 5000);
  const std::string text = PrintedBy(true, updates);
  EXPECT_TRUE(text.starts_with("@progress files 0 5000\n")) << text;
  EXPECT_TRUE(text.ends_with("\n@progress files 5000 5000\n")) << text;
  std::size_t lines = 0;
  for (char c : text) lines += c == '\n';
  EXPECT_LT(lines, updates.size() / 2);
}

TEST(ProgressPrinterTest, WritesNothingUnlessAskedAndNoLineTwice) {
  EXPECT_EQ(PrintedBy(false, {{0, 3}, {3, 3}}), "");
  EXPECT_EQ(PrintedBy(true, {}), "");
  EXPECT_EQ(PrintedBy(true, {{0, 0}}), "@progress files 0 0\n");
}

}  // namespace
}  // namespace larkspur::port
