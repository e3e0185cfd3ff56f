// The two ROFS tools Extract and Repack hand their images to: the unpacker
// (readimage) and the builder (rofsbuild). The window and the command line
// run the programs in the tool folder `exebat` with their fixed command
// lines and pauses (ExternalRofsTools); tests and the benchmark can run the
// same work in this process (InProcessRofsTools). Called on the thread the
// pipeline runs on; the external tools change the process's current
// directory for the length of a run, so only one run may use them at a time
// (the program folder's run lock).
#ifndef LARKSPUR_PIPELINE_ROFS_TOOLS_H_
#define LARKSPUR_PIPELINE_ROFS_TOOLS_H_

#include <string>
#include <vector>

#include "pipeline/reporter.h"
#include "workspace/workspace.h"

namespace larkspur::pipeline {

// How a tool run ended.
struct ToolResult {
  bool succeeded = false;
  // How it ended, for a failure line: "exit status 2", "could not be started
  // (No such file or directory)".
  Text description;
  // The last lines it wrote, for the log after a failure line.
  std::vector<std::string> last_lines;
};

class RofsTools {
 public:
  virtual ~RofsTools() = default;
  // Unpacks temp/rofs2.img into the (empty) folder rofs2.
  virtual ToolResult Unpack(const Workspace& workspace, Reporter& reporter) = 0;
  // Builds the image temp/rofs2.obey describes into exebat/rofs2r.img.
  virtual ToolResult Build(const Workspace& workspace, Reporter& reporter) = 0;
  // The pause Repack makes around moving the built image: an external tool
  // may still hold its files a moment after it ended.
  virtual void Pause(int milliseconds) = 0;
};

// The unpacking command line, run in exebat.
inline constexpr char kUnpackCommand[] = "readimage.exe -z ../rofs2 ../temp/rofs2.img";
// The build command line, run in exebat.
inline constexpr char kBuildCommand[] = "rofsbuild.exe ../temp/rofs2.obey";

// The programs of the tool folder. A tool that cannot be started shows the
// "Unable to run " box through the reporter; its progress reports reach the
// reporter as "进度: %1".
class ExternalRofsTools : public RofsTools {
 public:
  ToolResult Unpack(const Workspace& workspace, Reporter& reporter) override;
  ToolResult Build(const Workspace& workspace, Reporter& reporter) override;
  void Pause(int milliseconds) override;
};

// The same work done by the ROFS library in this process, without pauses:
// the files the external tools would leave, left the same way. A failure
// gives the message the tool would print as its last line. The build takes
// its time stamp from SOURCE_DATE_EPOCH when that is set, as rofsbuild does.
class InProcessRofsTools : public RofsTools {
 public:
  ToolResult Unpack(const Workspace& workspace, Reporter& reporter) override;
  ToolResult Build(const Workspace& workspace, Reporter& reporter) override;
  void Pause(int milliseconds) override {}
};

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_ROFS_TOOLS_H_
