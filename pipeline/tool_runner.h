// Running the external tools (the ROFS unpacker and builder) from the tool
// folder. Called from the worker threads of Extract and Repack; only one
// tool runs at a time, because the menu commands stay disabled while one
// does and the program folder is locked for the run. The current directory, which belongs to the
// whole process, is the tool folder during a run and the program folder
// afterwards.
#ifndef LARKSPUR_PIPELINE_TOOL_RUNNER_H_
#define LARKSPUR_PIPELINE_TOOL_RUNNER_H_

#include <functional>
#include <string>
#include <vector>

#include "base/text.h"
#include "port/process.h"

namespace larkspur {

// Shows the "Unable to run " box (on the user-interface thread) and returns
// when the user has dismissed it.
using UnableToRunBox = std::function<void(const std::string& text)>;

// Starts `command_line` with no window shown and, with `wait`, waits for its
// end without a time limit. When the program cannot be started, shows
// "Unable to run " followed by the command line and returns; the outcome
// says so. With `wait` and `progress`, the tool is asked for progress and
// its reports reach `progress` on the calling thread while it runs (see
// port::RunCommandLine).
port::ProcessOutcome RunTool(const std::string& command_line, bool wait,
                             const UnableToRunBox& unable_to_run,
                             const port::ProgressCallback& progress = {});

// RunTool with the tool folder (`program_folder` + "exebat") as the current
// directory, waiting for the end; the current directory is the program
// folder afterwards, also when the tool could not be started. When the tool
// folder cannot be entered nothing is started: the "Unable to run " box is
// shown and the outcome's reason names the folder. `progress` as for
// RunTool: readimage reports files extracted, rofsbuild bytes of file data
// written.
port::ProcessOutcome RunInToolFolder(const std::string& program_folder,
                                     const std::string& command_line,
                                     const UnableToRunBox& unable_to_run,
                                     const port::ProgressCallback& progress = {});

// A progress report for people, as a text of the catalog: "files 12 of
// 210", "bytes 1.2 MiB of 7.5 MiB" in English. Byte counts below 1 KiB are
// given in bytes ("bytes 512 B of 900 B"), larger ones in KiB, MiB or GiB
// with one decimal. Other kinds are shown as numbers, like files, after the
// kind's own name.
Text DescribeProgress(const port::ProgressReport& report);

// A short description of how a tool run ended, for the log, as a text of
// the catalog: "exit status 3", "ended by signal 11", "could not be started
// (No such file or directory)" in English (the reason is the system's).
Text DescribeOutcome(const port::ProcessOutcome& outcome);

// "exit status N".
Text ExitStatusText(int status);

// The last `count` non-empty lines a tool wrote (its output tail), without
// line ends, for the log after a failure line.
inline constexpr std::size_t kToolLinesLogged = 6;
std::vector<std::string> LastOutputLines(const port::ProcessOutcome& outcome, std::size_t count);

// True when the tool ran and exited with status 0.
bool Succeeded(const port::ProcessOutcome& outcome);

}  // namespace larkspur

#endif  // LARKSPUR_PIPELINE_TOOL_RUNNER_H_
