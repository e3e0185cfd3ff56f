// Starting an external program from a command line, as the Windows shell
// would: the executable is the first word of the line and is looked up first
// in the current directory, then along the search path. Callable from any
// thread; the current directory it uses is the process's.
#ifndef LARKSPUR_PORT_PROCESS_H_
#define LARKSPUR_PORT_PROCESS_H_

#include <cstddef>
#include <string>
#include <vector>

#include "port/progress.h"

namespace larkspur::port {

struct ProcessOutcome {
  bool started = false;   // false: the program could not be started at all
  bool waited = false;    // true when the outcome below is known
  int exit_status = 0;    // the program's exit code, when it exited
  int signal = 0;         // POSIX: the signal that ended it, 0 when it exited
  std::string reason;     // why it could not be started
  // With `wait`: the end of what the program wrote to its standard output
  // and standard error (the last kOutputTailLimit bytes), so a caller can
  // show why it failed.
  std::string output_tail;
};

inline constexpr std::size_t kOutputTailLimit = 16384;

// Runs `command_line` with no console window shown. With `wait`, returns
// only when the program has ended, without a time limit. Never throws for a
// program that cannot be started: `started` is false and `reason` says why.
//
// On POSIX a first word ending in ".exe" that names no program is tried once
// more without ".exe", so command lines written for Windows run the
// platform's own build of the same tool. The program's standard output and
// standard error go to our standard error as it writes them, so they never
// mix with what the program prints as its own results; with `wait` they are
// also kept in `output_tail`.
//
// With `wait` and a `progress` callback, the program finds
// LARKSPUR_PROGRESS=1 in its environment, and the progress lines it writes
// (port/progress.h) go to `progress` alone, on the calling thread while the
// program runs; they are neither passed on nor kept in `output_tail`. The
// rest of its output is then passed on a line at a time. `progress` must
// not throw: the program is still running while it is called. Without a callback
// the program's environment holds no LARKSPUR_PROGRESS, even when ours
// does. Our own environment is never changed.
ProcessOutcome RunCommandLine(const std::string& command_line, bool wait,
                              const ProgressCallback& progress = {});

// The arguments the program was started with, after its own name, as the
// program's strings: on POSIX argv[1..argc-1] as they are; on Windows the
// wide command line (GetCommandLineW, split by CommandLineToArgvW) as
// UTF-8, `argv` unused, so names in any script arrive whole.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Splits a command line into words: blanks and tabs separate words, double
// quotes group a word (and are removed); an unclosed quote runs to the end.
// SplitQuotedWords (base/quoted_words.h) does the work.
std::vector<std::string> SplitCommandLine(const std::string& command_line);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_PROCESS_H_
