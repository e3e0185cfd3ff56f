// How the window's worker and the command line end a run: the box an error
// shows in, the line after it, and the program folder's lock given back
// whatever happens.
#include "app/pipeline_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "port/errors.h"
#include "port/run_lock.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;

// Tools on a disk that has filled up.
class FullDiskTools : public pipeline::RofsTools {
 public:
  pipeline::ToolResult Unpack(const Workspace& workspace, pipeline::Reporter&) override {
    throw FileCreateError(workspace.Path("rofs2/image.bin"), "No space left on device");
  }
  pipeline::ToolResult Build(const Workspace& workspace, pipeline::Reporter&) override {
    throw FileCreateError(workspace.Path("exebat/rofs2r.img"), "No space left on device");
  }
  void Pause(int) override {}
};

class QuietReporter : public pipeline::Reporter {
 public:
  void Log(const pipeline::Text&) override {}
  void Progress(const std::optional<pipeline::Text>&) override {}
  void UnableToRun(const std::string&) override {}
  bool Confirm(const pipeline::Text&) override { return false; }
};

TEST(PipelineRunTest, AnErrorShowsInTheBoxOfTheStepItEndedAndTheLockIsGivenBack) {
  const struct {
    const char* label;
    RunCommand command;
    // What happens to the opened file before the run.
    std::function<void(const testing::ProgramFolder&, const std::string&)> before;
    std::string title;
    MessageIcon icon;
    std::string text_begins;
  } cases[] = {
      // The file is mapped again at the start: one grown past the largest
      // handled cannot be.
      {"the start of an Extract", RunCommand::kExtract,
       [](const testing::ProgramFolder&, const std::string& path) {
         fs::resize_file(port::FileSystemPath(path), std::uintmax_t{1} << 31);
       },
       "Marrowby", MessageIcon::kError, "File too large to load"},
      {"Extract's work", RunCommand::kExtract, nullptr, "Application Error", MessageIcon::kStop,
       "Exception EFCreateError in module larkspur at "},
      {"a Repack", RunCommand::kRepack,
       [](const testing::ProgramFolder& home, const std::string& path) { home.MarkExtracted(path); }, "Marrowby",
       MessageIcon::kError, "Cannot create file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    testing::ProgramFolder home;
    const Workspace workspace(home.path());
    QuietReporter reporter;
    FullDiskTools tools;
    const std::string path = home.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
    pipeline::OpenedFile file = pipeline::OpenFirmware(path, std::nullopt, 0, reporter);
    if (c.before) c.before(home, path);
    RunRequest request;
    request.command = c.command;
    const RunEnd end = RunPipeline(request, file, workspace, tools, reporter);

    EXPECT_EQ(end.outcome.status, pipeline::Status::kFailed);
    ASSERT_TRUE(end.error_box && end.error_line);
    EXPECT_EQ(end.error_box->title, c.title);
    EXPECT_EQ(end.error_box->icon, c.icon);
    EXPECT_EQ(end.error_box->text.rfind(c.text_begins, 0), 0u) << end.error_box->text;
    // The line after the box: the reason, and the folder put back.
    EXPECT_EQ(end.error_line->key, "错误: %1 程序文件夹已恢复到本次运行之前的样子, 未生成任何文件.");
    EXPECT_TRUE(port::RunLock::TryTake(home.path())) << "the lock went with the run";
  }
}

}  // namespace
}  // namespace larkspur
