// Runs one benchmark phase in a fresh process: the benchmark's own
// executable started again with the phase's arguments. A fresh process (not
// a bare fork, whose resident set would start with the parent's pages)
// makes the peak resident memory the phase's own. Called from the
// benchmark's main thread only.
#ifndef LARKSPUR_BENCH_PHASE_PROCESS_H_
#define LARKSPUR_BENCH_PHASE_PROCESS_H_

#include <cstdint>
#include <string>
#include <vector>

namespace larkspur::bench {

struct ChildMeasure {
  double seconds = 0;            // what the child wrote to the result file
  std::uint64_t peak_bytes = 0;  // 0 where the platform does not tell
};

// Flushes the file systems' dirty data (untimed), then starts the
// benchmark executable with `arguments`, its standard output and
// error going to `log_path`, and waits for it. The child writes its timed
// seconds into `result_path`. Throws std::runtime_error carrying the end of
// the log when the child fails or writes no result.
//
// On Linux the peak is the child's ru_maxrss from wait4: the largest
// resident set of the child or of any tool it ran and waited for.
ChildMeasure RunChild(const std::vector<std::string>& arguments, const std::string& log_path,
                      const std::string& result_path);

struct ProcessRun {
  double seconds = 0;            // from just before the start to the reaping
  std::uint64_t peak_bytes = 0;  // ru_maxrss of it or of a tool it waited for
};

// POSIX: runs `arguments` (the program first, looked up along PATH) in a
// fresh process with its standard output and error going to `log_path`,
// timed from outside. Throws std::runtime_error carrying the end of the log
// when it does not exit 0; elsewhere throws at once.
ProcessRun RunProcess(const std::vector<std::string>& arguments, const std::string& log_path);

// The child's side: writes `seconds` into `result_path`.
void WriteChildResult(const std::string& result_path, double seconds);

}  // namespace larkspur::bench

#endif  // LARKSPUR_BENCH_PHASE_PROCESS_H_
