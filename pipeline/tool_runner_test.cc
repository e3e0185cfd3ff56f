#include "pipeline/tool_runner.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <numeric>

#include "port/files.h"
#include "testing/said_in_english.h"
#include "testing/scratch_folder.h"
#include "testing/stand_in_tool.h"

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

  // The built tool `name` in this program folder's tool folder.
  void CopyBuiltTool(const std::string& name) {
    const std::string file = testing::ProgramFileName(name);
    std::filesystem::copy_file(port::JoinPath(port::JoinPath(LARKSPUR_BIN_DIR, "exebat"), file),
                               home_.Path("exebat/" + file));
  }

  // Runs `command_line` in the tool folder and keeps the reports.
  port::ProcessOutcome RunWithProgress(const std::string& command_line) {
    reports_.clear();
    return RunInToolFolder(home_.path(), command_line, box_,
                           [this](const port::ProgressReport& report) { reports_.push_back(report); });
  }

  // The reports are of one kind and total, never fall, and end at the total.
  void ExpectRisingTo(const std::string& kind, std::uint64_t total) {
    ASSERT_FALSE(reports_.empty());
    std::uint64_t last = 0;
    for (const port::ProgressReport& report : reports_) {
      EXPECT_EQ(report.kind, kind);
      EXPECT_EQ(report.total, total);
      EXPECT_GE(report.done, last);
      last = report.done;
    }
    EXPECT_EQ(reports_.back().done, total);
  }

  testing::ScratchFolder home_;
  std::string saved_;
  std::vector<std::string> boxes_;
  std::vector<port::ProgressReport> reports_;
  UnableToRunBox box_ = [this](const std::string& text) { boxes_.push_back(text); };
};

TEST_F(ToolRunnerTest, RunsInTheToolFolderAndReturnsToTheProgramFolder) {
  MakeTool("readimage", "record ../where.txt");
  const auto outcome = RunInToolFolder(home_.path(), "readimage.exe -z ../rofs2 ../temp/rofs2.img", box_);
  EXPECT_TRUE(Succeeded(outcome)) << testing::SaidInEnglish(DescribeOutcome(outcome));
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
  EXPECT_EQ(testing::SaidInEnglish(DescribeOutcome(outcome)), "exit status 254");
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
  EXPECT_EQ(testing::SaidInEnglish(DescribeOutcome(outcome)), "could not be started (the tool folder " + home_.Path("exebat") + " is missing)");
  EXPECT_EQ(boxes_, std::vector<std::string>{"Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img"});
  EXPECT_FALSE(std::filesystem::exists(std::filesystem::path(home_.path()).parent_path().parent_path() / escaped));
  EXPECT_EQ(port::CurrentDirectory(), home_.path());
}

// The real tools, run as the window runs them: rofsbuild reports bytes of
// file data, readimage the files it extracts; neither report reaches the
// output kept for the log, and both tools still say what they did.
TEST_F(ToolRunnerTest, TheRealToolsReportProgressUpToTheirTotal) {
  CopyBuiltTool("rofsbuild");
  CopyBuiltTool("readimage");
  std::string obey = "rofsname=rofs2.img\r\nrofssize=0x1000000\r\ntime=01/01/2020_00:00:00\r\n";
  std::vector<std::uint64_t> sizes;
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    sizes.push_back(static_cast<std::uint64_t>(i) * 5003);
    home_.Write("rofs2/sys/" + name, std::string(sizes.back(), static_cast<char>('a' + i % 26)));
    obey += "data=\"..\\rofs2\\sys\\" + name + "\" \"sys\\" + name + "\"\r\n";
  }
  home_.Write("temp/rofs2.obey", obey);

  const auto built = RunWithProgress("rofsbuild.exe ../temp/rofs2.obey");
  ASSERT_TRUE(Succeeded(built)) << testing::SaidInEnglish(DescribeOutcome(built)) << built.output_tail;
  ExpectRisingTo("bytes", std::accumulate(sizes.begin(), sizes.end(), std::uint64_t{0}));
  EXPECT_EQ(built.output_tail.find("@progress"), std::string::npos) << built.output_tail;
  EXPECT_NE(built.output_tail.find("rofs2.img (3904360 bytes, 40 files)"), std::string::npos) << built.output_tail;

  const auto extracted = RunWithProgress("readimage.exe -z ../out rofs2.img");
  ASSERT_TRUE(Succeeded(extracted)) << testing::SaidInEnglish(DescribeOutcome(extracted)) << extracted.output_tail;
  ExpectRisingTo("files", sizes.size());
  EXPECT_EQ(extracted.output_tail.find("@progress"), std::string::npos) << extracted.output_tail;
  EXPECT_NE(extracted.output_tail.find("readimage: extracted 40 files"), std::string::npos);
  EXPECT_EQ(home_.Read("out/sys/f39.bin"), std::string(39 * 5003, 'a' + 39 % 26));

  // Not asked, the tools write no progress lines.
  const auto quiet = RunInToolFolder(home_.path(), "readimage.exe -z ../out rofs2.img", box_);
  EXPECT_TRUE(Succeeded(quiet));
  EXPECT_EQ(quiet.output_tail.find("@progress"), std::string::npos) << quiet.output_tail;
}

// A failing tool's reports still arrive, and its exit status and last
// words are the same as without a callback.
TEST_F(ToolRunnerTest, ProgressLeavesTheExitStatusAndTheReasonAlone) {
  MakeTool("readimage", "progress files 0 7; progress files 3 7; say readimage: disk full; exit 1");
  const auto outcome = RunWithProgress("readimage.exe -z ../rofs2 ../temp/rofs2.img");
  EXPECT_EQ(testing::SaidInEnglish(DescribeOutcome(outcome)), "exit status 1");
  EXPECT_EQ(LastOutputLines(outcome, kToolLinesLogged), std::vector<std::string>{"readimage: disk full"});
  EXPECT_EQ(reports_, (std::vector<port::ProgressReport>{{"files", 0, 7}, {"files", 3, 7}}));
}

TEST_F(ToolRunnerTest, DescribesProgressForPeople) {
  struct Case {
    port::ProgressReport report;
    const char* text;
  };
  const Case cases[] = {
      {{"files", 12, 210}, "files 12 of 210"},
      {{"files", 0, 0}, "files 0 of 0"},
      {{"bytes", 0, 1023}, "bytes 0 B of 1023 B"},
      {{"bytes", 1024, 1024 * 1024 - 1}, "bytes 1.0 KiB of 1.0 MiB"},
      {{"bytes", 1258291, 7864320}, "bytes 1.2 MiB of 7.5 MiB"},
      {{"bytes", 3ull << 30, 5ull << 40}, "bytes 3.0 GiB of 5120.0 GiB"},
      {{"pages", 2, 9}, "pages 2 of 9"},
  };
  for (const Case& c : cases) EXPECT_EQ(testing::SaidInEnglish(DescribeProgress(c.report)), c.text);
  // The same reports in Chinese, the numbers as they are.
  SetLanguage(Language::kChinese);
  EXPECT_EQ(SayText(DescribeProgress({"files", 12, 210})), "文件 12/210");
  EXPECT_EQ(SayText(DescribeProgress({"bytes", 1258291, 7864320})), "字节 1.2 MiB/7.5 MiB");
}

}  // namespace
}  // namespace larkspur
