#include "port/process.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "port/files.h"
#include "port/scratch_folder.h"

namespace larkspur::port {
namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = CurrentDirectory(); }
  void TearDown() override { SetCurrentDirectory(saved_); }

  // A shell script tool in the scratch folder.
  void MakeTool(const std::string& name, const std::string& body) {
    const std::string path = folder_.Write(name, "#!/bin/sh\n" + body + "\n");
    std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  }

  testing::ScratchFolder folder_;
  std::string saved_;
};

TEST_F(ProcessTest, SplitsWordsAndGroupsQuotes) {
  EXPECT_EQ(SplitCommandLine("tool -z  \"a b\" c"), (std::vector<std::string>{"tool", "-z", "a b", "c"}));
  EXPECT_EQ(SplitCommandLine("  "), std::vector<std::string>{});
}

TEST_F(ProcessTest, LooksInTheCurrentDirectoryAndFallsBackFromExe) {
  MakeTool("tool", "echo \"$@\" > args.txt; exit 3");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("tool.exe -z ../rofs2 ../temp/rofs2.img", true);
  EXPECT_TRUE(outcome.started);
  EXPECT_TRUE(outcome.waited);
  EXPECT_EQ(outcome.exit_status, 3);
  EXPECT_EQ(folder_.Read("args.txt"), "-z ../rofs2 ../temp/rofs2.img\n");
}

TEST_F(ProcessTest, AMissingProgramIsNotStarted) {
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("no-such-tool.exe x", true);
  EXPECT_FALSE(outcome.started);
  EXPECT_EQ(outcome.reason, "No such file or directory");
}

TEST_F(ProcessTest, ASignalIsReported) {
  MakeTool("crash", "kill -SEGV $$");
  ASSERT_TRUE(SetCurrentDirectory(folder_.path()));
  const ProcessOutcome outcome = RunCommandLine("crash", true);
  EXPECT_TRUE(outcome.started);
  EXPECT_EQ(outcome.signal, 11);
}

}  // namespace
}  // namespace larkspur::port
