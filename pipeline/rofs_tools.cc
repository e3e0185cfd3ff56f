#include "pipeline/rofs_tools.h"

#include <exception>

#include "pipeline/tool_runner.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/image_file.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_reader.h"
#include "rofs/symbian_time.h"

namespace larkspur::pipeline {
namespace {

ToolResult ResultOf(const port::ProcessOutcome& outcome) {
  return {Succeeded(outcome), DescribeOutcome(outcome), LastOutputLines(outcome, kToolLinesLogged)};
}

ToolResult RunExternal(const Workspace& workspace, const char* command_line, Reporter& reporter) {
  const port::ProcessOutcome outcome = RunInToolFolder(
      workspace.folder(), command_line, [&reporter](const std::string& text) { reporter.UnableToRun(text); },
      [&reporter](const port::ProgressReport& report) {
        // Called while the tool runs: nothing may escape into the tool
        // runner.
        try {
          reporter.Progress(Text("进度: %1", {DescribeProgress(report)}));
        } catch (...) {
        }
      });
  reporter.Progress(std::nullopt);  // the report was the tool's; it has ended
  return ResultOf(outcome);
}

// What the in-process tools give for a failure: the tool's message as its
// last line, and the exit status the program would have.
ToolResult Failure(const std::string& tool, const std::string& message) {
  return {false, ExitStatusText(1), {tool + ": " + message}};
}

}  // namespace

ToolResult ExternalRofsTools::Unpack(const Workspace& workspace, Reporter& reporter) {
  return RunExternal(workspace, kUnpackCommand, reporter);
}

ToolResult ExternalRofsTools::Build(const Workspace& workspace, Reporter& reporter) {
  return RunExternal(workspace, kBuildCommand, reporter);
}

void ExternalRofsTools::Pause(int milliseconds) { port::SleepMilliseconds(milliseconds); }

ToolResult InProcessRofsTools::Unpack(const Workspace& workspace, Reporter& reporter) {
  const std::string image_path = workspace.Path(work::kRofsImage);
  try {
    const std::vector<std::uint8_t> bytes = rofs::ReadImageFile(rofs::HostPathFromBytes(image_path), image_path);
    const rofs::RofsImage image = rofs::ParseRofsImage(bytes, image_path);
    rofs::ExtractImage(bytes, image, image_path, rofs::HostPathFromBytes(workspace.Path(work::kRofsTree)));
  } catch (const std::exception& error) {
    return Failure("readimage", error.what());
  }
  return {true, ExitStatusText(0), {}};
}

ToolResult InProcessRofsTools::Build(const Workspace& workspace, Reporter& reporter) {
  const std::string obey_path = workspace.Path(work::kObeyFile);
  try {
    const std::string text = rofs::ReadTextFile(rofs::HostPathFromBytes(obey_path), obey_path);
    const rofs::ObeyFile obey = rofs::ParseObey(text, obey_path, rofs::ImageNameFromObeyBytes);
    // The obey file's paths are relative to the tool folder, where the
    // builder runs and leaves its image.
    rofs::BuildImageFromObey(obey, rofs::HostPathFromBytes(workspace.Path(work::kToolFolder)),
                             obey.time ? 0 : rofs::DefaultBuildTime());
  } catch (const std::exception& error) {
    return Failure("rofsbuild", error.what());
  }
  return {true, ExitStatusText(0), {}};
}

}  // namespace larkspur::pipeline
