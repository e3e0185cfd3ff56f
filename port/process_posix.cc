#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>

#include "port/errors.h"
#include "port/process.h"

extern char** environ;

namespace larkspur::port {
namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

// The current directory first, as on Windows, then the search path.
std::string FindProgram(const std::string& name) {
  if (name.find('/') != std::string::npos) return IsExecutableFile(name) ? name : std::string();
  if (IsExecutableFile("./" + name)) return "./" + name;
  const char* search_path = std::getenv("PATH");
  std::string_view rest = search_path ? search_path : "";
  while (!rest.empty()) {
    const auto colon = rest.find(':');
    const std::string_view entry = rest.substr(0, colon);
    rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
    // An empty entry is the current directory. Built by appending: g++ 12
    // at -O3 sees an overlap that cannot happen in assigning "." to a string.
    std::string candidate(entry.empty() ? std::string_view(".") : entry);
    candidate += '/';
    candidate += name;
    if (IsExecutableFile(candidate)) return candidate;
  }
  return std::string();
}

// Our environment without LARKSPUR_PROGRESS, and with LARKSPUR_PROGRESS=1
// when progress is asked for. Built afresh for each program, because
// setenv would change the environment of every thread.
std::vector<std::string> ToolEnvironment(bool with_progress) {
  const std::string own_entry = std::string(kProgressVariable) + "=";
  std::vector<std::string> entries;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
    if (!std::string_view(*entry).starts_with(own_entry)) entries.emplace_back(*entry);
  }
  if (with_progress) entries.push_back(own_entry + "1");
  return entries;
}

void WriteToOurStandardError(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t step = ::write(STDERR_FILENO, bytes.data(), bytes.size());
    if (step < 0 && errno == EINTR) continue;
    if (step <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(step));
  }
}

}  // namespace

ProcessOutcome RunCommandLine(const std::string& command_line, bool wait, const ProgressCallback& progress) {
  ProcessOutcome outcome;
  std::vector<std::string> words = SplitCommandLine(command_line);
  if (words.empty()) {
    outcome.reason = "empty command line";
    return outcome;
  }
  std::string program = FindProgram(words[0]);
  constexpr std::string_view kWindowsSuffix = ".exe";
  if (program.empty() && words[0].size() > kWindowsSuffix.size() &&
      words[0].ends_with(kWindowsSuffix)) {
    program = FindProgram(words[0].substr(0, words[0].size() - kWindowsSuffix.size()));
  }
  if (program.empty()) {
    outcome.reason = SystemReason(ENOENT);
    return outcome;
  }

  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);

  // With `wait` the tool writes into a pipe that we read to its end,
  // passing every byte on to our standard error, progress lines aside.
  int output[2] = {-1, -1};
  if (wait && ::pipe2(output, O_CLOEXEC) != 0) {
    outcome.reason = SystemReason(errno);
    return outcome;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (wait) {
    posix_spawn_file_actions_adddup2(&actions, output[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, output[1], STDERR_FILENO);
  } else {
    posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  }
  std::vector<std::string> environment = ToolEnvironment(wait && progress);
  std::vector<char*> envp;
  for (std::string& entry : environment) envp.push_back(entry.data());
  envp.push_back(nullptr);
  pid_t pid = 0;
  const int error_number = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (wait) ::close(output[1]);
  if (error_number != 0) {
    if (wait) ::close(output[0]);
    outcome.reason = SystemReason(error_number);
    return outcome;
  }
  outcome.started = true;
  if (!wait) return outcome;

  ProgressLineSplitter splitter(progress, [&outcome](std::string_view bytes) {
    WriteToOurStandardError(bytes);
    outcome.output_tail.append(bytes);
    if (outcome.output_tail.size() > 2 * kOutputTailLimit) {
      outcome.output_tail.erase(0, outcome.output_tail.size() - kOutputTailLimit);
    }
  });
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(output[0], buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    splitter.Feed(std::string_view(buffer, static_cast<std::size_t>(got)));
  }
  splitter.Finish();
  ::close(output[0]);
  if (outcome.output_tail.size() > kOutputTailLimit) {
    outcome.output_tail.erase(0, outcome.output_tail.size() - kOutputTailLimit);
  }

  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return outcome;
  }
  outcome.waited = true;
  if (WIFEXITED(status)) {
    outcome.exit_status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    outcome.signal = WTERMSIG(status);
  }
  return outcome;
}

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + (argc > 0 ? 1 : 0), argv + (argc > 0 ? argc : 0));
}

}  // namespace larkspur::port
