#include "port/process.h"

#include <gtest/gtest.h>

#include "port/files.h"
#include "port/scratch_folder.h"
#include "port/stand_in_tool.h"

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
