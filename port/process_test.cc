#include "port/process.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "port/files.h"
#include "testing/scratch_folder.h"
#include "testing/stand_in_tool.h"

namespace larkspur::port {
namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = CurrentDirectory(); }
  void TearDown() override { SetCurrentDirectory(saved_); }

  testing::ScratchFolder folder_;
  std::string saved_;
};

TEST_F(ProcessTest, SplitsWordsAndGroupsQuotes) {
  EXPECT_EQ(SplitCommandLine("tool -z  \"a b\" c"), (std::vector<std::string>{"tool", "-z", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("  "), std::vector<std::string>{});
}

// On POSIX the tool is the file "tool", found through the ".exe" fallback;
// on Windows "tool.exe", found by the system's own search.
TEST_F(ProcessTest, LooksInTheCurrentDirectoryAndPassesTheArguments) {
  testing::InstallStandInTool(folder_.path(), "tool", "record args.txt; exit 3");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("tool.exe -z ../rofs2 ../temp/rofs2.img", true);
  EXPECT_TRUE(outcome.started) << outcome.reason;
  EXPECT_TRUE(outcome.waited);
  EXPECT_EQ(outcome.exit_status, 3);
  std::string folder = folder_.path();
  folder.pop_back();
  EXPECT_EQ(folder_.Read("args.txt"), folder + "\n-z ../rofs2 ../temp/rofs2.img\n");
}

TEST_F(ProcessTest, QuotedWordsArriveAsOneArgument) {
  testing::InstallStandInTool(folder_.path(), "tool", "record args.txt");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  EXPECT_EQ(RunCommandLine("tool.exe \"my docs\" x", true).exit_status, 0);
  EXPECT_NE(folder_.Read("args.txt").find("\nmy docs x\n"), std::string::npos);
}

// A command line and a current directory in any script reach the program
// whole (on Windows through the wide calls, whatever the ANSI code page).
TEST_F(ProcessTest, ArgumentsAndFoldersInAnyScriptArriveWhole) {
  const std::string folder = folder_.Path("Папка 文件夹");
  folder_.Write("Папка 文件夹/Привет.txt", "hello");
  testing::InstallStandInTool(folder, "tool", "record args.txt; copy $1 $2");
  ASSERT_TRUE(SetCurrentDirectory(folder));
  const ProcessOutcome outcome = RunCommandLine("tool.exe Привет.txt \"日本 Grüße.txt\"", true);
  EXPECT_EQ(outcome.exit_status, 0) << outcome.output_tail;
  EXPECT_EQ(folder_.Read("Папка 文件夹/args.txt"), folder + "\nПривет.txt 日本 Grüße.txt\n");
  EXPECT_EQ(folder_.Read("Папка 文件夹/日本 Grüße.txt"), "hello");
}

TEST_F(ProcessTest, RunsWithoutWaiting) {
  testing::InstallStandInTool(folder_.path(), "tool", "exit 0");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("tool.exe", false);
  EXPECT_TRUE(outcome.started);
  EXPECT_FALSE(outcome.waited);
  // Let it end before the folder is removed (Windows keeps a running
  // program's file).
  SleepMilliseconds(500);
}

TEST_F(ProcessTest, AMissingProgramIsNotStarted) {
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("no-such-tool.exe x", true);
  EXPECT_FALSE(outcome.started);
#ifdef _WIN32
  EXPECT_FALSE(outcome.reason.empty());
  EXPECT_NE(outcome.reason.back(), '.');
#else
  EXPECT_EQ(outcome.reason, "No such file or directory");
#endif
}

// The output as lines end on POSIX: the stand-in writes "\r\n" on Windows.
std::string WithoutCarriageReturns(std::string text) {
  text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
  return text;
}

// A progress line that reaches us in two reads (the tool flushes half of it,
// then waits) is still one report; the other output and the exit status
// come through as without progress.
TEST_F(ProcessTest, ProgressLinesGoToTheCallbackAlone) {
  testing::InstallStandInTool(folder_.path(), "tool",
                              "say before; progress files 0 2; print @progress fi; sleep 0.3;"
                              "print les 1 2\\nhalf a line; sleep 0.3; print , whole\\n; progress files 2 2; exit 4");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  std::vector<ProgressReport> reports;
  const ProcessOutcome outcome =
      RunCommandLine("tool.exe", true, [&reports](const ProgressReport& report) { reports.push_back(report); });
  EXPECT_TRUE(outcome.waited);
  EXPECT_EQ(outcome.exit_status, 4);
  EXPECT_EQ(reports, (std::vector<ProgressReport>{{"files", 0, 2}, {"files", 1, 2}, {"files", 2, 2}}));
  EXPECT_EQ(WithoutCarriageReturns(outcome.output_tail), "before\nhalf a line, whole\n");
}

// A program without a callback is not asked for progress, even when we
// were; one with a callback is; our own environment stays as it was.
TEST_F(ProcessTest, OnlyARunWithACallbackIsAskedForProgress) {
  testing::InstallStandInTool(folder_.path(), "tool", "environment LARKSPUR_PROGRESS asked.txt");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  for (const char* ours : {"", "1"}) {
#ifdef _WIN32
    _putenv_s(kProgressVariable, ours);  // "" removes it
#else
    if (*ours) setenv(kProgressVariable, ours, 1); else unsetenv(kProgressVariable);
#endif
    EXPECT_EQ(RunCommandLine("tool.exe", true).exit_status, 0);
    EXPECT_EQ(folder_.Read("asked.txt"), "(unset)") << "ours: \"" << ours << '"';
    EXPECT_EQ(RunCommandLine("tool.exe", true, [](const ProgressReport&) {}).exit_status, 0);
    EXPECT_EQ(folder_.Read("asked.txt"), "1") << "ours: \"" << ours << '"';
    const char* after = std::getenv(kProgressVariable);
    EXPECT_EQ(std::string(after ? after : ""), ours);
  }
#ifdef _WIN32
  _putenv_s(kProgressVariable, "");
#else
  unsetenv(kProgressVariable);
#endif
}

// Without a callback a progress line is ordinary output, passed on whole.
TEST_F(ProcessTest, WithoutACallbackProgressLinesArePassedOn) {
  testing::InstallStandInTool(folder_.path(), "tool", "progress bytes 5 9");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("tool.exe", true);
  EXPECT_EQ(outcome.exit_status, 0);
  EXPECT_EQ(WithoutCarriageReturns(outcome.output_tail), "@progress bytes 5 9\n");
}

#ifndef _WIN32
TEST_F(ProcessTest, ASignalIsReported) {
  testing::InstallStandInTool(folder_.path(), "crash", "signal 11");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("crash", true);
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.signal, 11);
}
#endif

}  // namespace
}  // namespace larkspur::port
