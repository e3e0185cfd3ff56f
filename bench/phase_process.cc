#include "bench/phase_process.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "port/files.h"

#ifdef __linux__
#include <errno.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace larkspur::bench {
namespace {

constexpr std::size_t kLogTailBytes = 2000;

std::string LogTail(const std::string& log_path) {
  std::ifstream in(log_path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string all = text.str();
  return all.size() > kLogTailBytes ? all.substr(all.size() - kLogTailBytes) : all;
}

#ifdef __linux__
// Returns the child's peak resident bytes; throws when it did not exit 0.
std::uint64_t StartAndWait(const std::vector<std::string>& arguments, const std::string& log_path) {
  std::vector<std::string> with_program = {"/proc/self/exe"};
  with_program.insert(with_program.end(), arguments.begin(), arguments.end());
  return RunProcess(with_program, log_path).peak_bytes;
}
#else
std::uint64_t StartAndWait(const std::vector<std::string>& arguments, const std::string& log_path) {
  std::string command = "\"" + port::ExecutableFolder() + "larkspur_bench.exe\"";
  for (const std::string& argument : arguments) command += " \"" + argument + "\"";
  command += " > \"" + log_path + "\" 2>&1";
  // cmd /c drops the first and the last quote of a line that starts with
  // one: a pair around the whole line keeps the program's own.
  command = "\"" + command + "\"";
  if (std::system(command.c_str()) != 0) throw std::runtime_error("phase process failed:\n" + LogTail(log_path));
  return 0;
}
#endif

}  // namespace

#ifdef __linux__
ProcessRun RunProcess(const std::vector<std::string>& arguments, const std::string& log_path) {
  std::vector<std::string> owned = arguments;
  std::vector<char*> argv;
  for (std::string& argument : owned) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    const int log = ::open(log_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (log >= 0) {
      ::dup2(log, 1);
      ::dup2(log, 2);
      ::close(log);
    }
    ::execvp(argv[0], argv.data());
    ::_exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (::wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) throw std::runtime_error("waiting for " + arguments[0] + " failed");
  }
  ProcessRun run;
  run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.peak_bytes = static_cast<std::uint64_t>(usage.ru_maxrss) * 1024;  // kilobytes on Linux
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    throw std::runtime_error(arguments[0] + " failed (status " + std::to_string(status) + "):\n" + LogTail(log_path));
  }
  return run;
}
#else
ProcessRun RunProcess(const std::vector<std::string>& arguments, const std::string&) {
  throw std::runtime_error("timing " + arguments[0] + " from outside needs fork and wait4");
}
#endif

ChildMeasure RunChild(const std::vector<std::string>& arguments, const std::string& log_path,
                      const std::string& result_path) {
  port::DeleteFile(result_path);
#ifdef __linux__
  // Writeback left over from an earlier phase (or from generating the
  // inputs) would otherwise land in this phase's fsync.
  ::sync();
#endif
  ChildMeasure measure;
  measure.peak_bytes = StartAndWait(arguments, log_path);
  std::ifstream result(result_path);
  if (!(result >> measure.seconds)) throw std::runtime_error("phase wrote no result:\n" + LogTail(log_path));
  return measure;
}

void WriteChildResult(const std::string& result_path, double seconds) {
  std::ofstream result(result_path, std::ios::trunc);
  result.precision(9);
  result << seconds << '\n';
  if (!result) throw std::runtime_error("cannot write " + result_path);
}

}  // namespace larkspur::bench
