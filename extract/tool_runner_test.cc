#include "extract/tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "port/files.h"
#include "port/scratch_folder.h"
#include "port/stand_in_tool.h"

namespace larkspur {
namespace {

class ToolRunnerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = port::CurrentDirectory();
    std::filesystem::create_directories(home_.Path("exebat"));
    // Start from elsewhere: the program folder is not the start directory.
    port::SetCurrentDirectory(std::filesystem::temp_directory_path().string());
  }
  void TearDown() override { port::SetCurrentDirectory(saved_); }

  void MakeTool(const std::string& name, const std::string& steps) {
    testing::InstallStandInTool(home_.Path("exebat"), name, steps);
  }

  testing::ScratchFolder home_;
  std::string saved_;
  std::vector<std::string> boxes_;
  UnableToRunBox box_ = [this](const std::string& text) { boxes_.push_back(text); };
};

TEST_F(ToolRunnerTest, RunsInTheToolFolderAndReturnsToTheProgramFolder) {
  MakeTool("readimage", "record ../where.txt");
  const auto outcome = RunInToolFolder(home_.path(), "readimage.exe -z ../rofs2 ../temp/rofs2.img", box_);
  EXPECT_TRUE(Succeeded(outcome)) << DescribeOutcome(outcome);
  const std::string expected_folder = std::filesystem::canonical(home_.Path("exebat")).string();
  EXPECT_EQ(home_.Read("where.txt"), expected_folder + "\n-z ../rofs2 ../temp/rofs2.img\n");
  EXPECT_EQ(port::CurrentDirectory(), home_.path());
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ToolRunnerTest, AMissingToolShowsUnableToRunAndStillReturnsToTheProgramFolder) {
  const auto outcome = RunInToolFolder(home_.path(), "readimage.exe -z ../rofs2 ../temp/rofs2.img", box_);
  EXPECT_FALSE(outcome.started);
  ASSERT_EQ(boxes_.size(), 1u);
  EXPECT_EQ(boxes_[0], "Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img");
  EXPECT_EQ(port::CurrentDirectory(), home_.path());
}

TEST_F(ToolRunnerTest, ANonZeroExitIsNotASuccess) {
  MakeTool("rofsbuild", "exit 254");
  const auto outcome = RunInToolFolder(home_.path(), "rofsbuild.exe ../temp/rofs2.obey", box_);
  EXPECT_TRUE(outcome.started);
  EXPECT_FALSE(Succeeded(outcome));
  EXPECT_EQ(DescribeOutcome(outcome), "exit status 254");
  EXPECT_TRUE(boxes_.empty());
}

TEST_F(ToolRunnerTest, WithoutTheToolFolderNothingRunsFromTheCurrentDirectory) {
  // After an earlier run the current directory is the program folder; a tool
  // found there would take "../" as the folder above the program folder.
  const std::string escaped = std::filesystem::path(home_.Path("x")).parent_path().filename().string() + "-escaped";
  testing::InstallStandInTool(home_.path(), "readimage", "touch ../" + escaped);
  std::filesystem::remove_all(home_.Path("exebat"));
  port::SetCurrentDirectory(home_.path());
  const auto outcome = RunInToolFolder(home_.path(), "readimage.exe -z ../rofs2 ../temp/rofs2.img", box_);
  EXPECT_FALSE(outcome.started);
  EXPECT_EQ(DescribeOutcome(outcome), "could not be started (the tool folder " + home_.Path("exebat") + " is missing)");
  EXPECT_EQ(boxes_, std::vector<std::string>{"Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img"});
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(home_.path()).parent_path().parent_path() / escaped));
  EXPECT_EQ(port::CurrentDirectory(), home_.path());
}

}  // namespace
}  // namespace larkspur
