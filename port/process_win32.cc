#include <windows.h>

#include <string_view>
#include <vector>

#include "port/errors.h"
#include "port/process.h"

namespace larkspur::port {
namespace {

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

// Compares environment names as Windows orders them: ignoring ASCII case.
int CompareNames(std::string_view a, std::string_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const char x = UpperAscii(a[i]);
    const char y = UpperAscii(b[i]);
    if (x != y) return static_cast<unsigned char>(x) < static_cast<unsigned char>(y) ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The name of an entry "NAME=value"; entries such as "=C:=C:\dir" keep
// their first '=' in the name.
std::string_view EntryName(std::string_view entry) {
  const std::size_t equals = entry.find('=', 1);
  return entry.substr(0, equals == std::string_view::npos ? entry.size() : equals);
}

// An environment block for CreateProcessA: ours without LARKSPUR_PROGRESS,
// and with LARKSPUR_PROGRESS=1 when progress is asked for, in the sorted
// order Windows expects. Built afresh for each program, because
// SetEnvironmentVariable would change the environment of every thread.
std::vector<char> ToolEnvironmentBlock(bool with_progress) {
  std::vector<std::string> entries;
  if (char* block = GetEnvironmentStringsA()) {
    for (const char* entry = block; *entry != '\0'; entry += std::string_view(entry).size() + 1) {
      if (CompareNames(EntryName(entry), kProgressVariable) != 0) entries.emplace_back(entry);
    }
    FreeEnvironmentStringsA(block);
  }
  if (with_progress) {
    auto at = entries.begin();
    while (at != entries.end() && ((*at)[0] == '=' || CompareNames(EntryName(*at), kProgressVariable) < 0)) ++at;
    entries.insert(at, std::string(kProgressVariable) + "=1");
  }
  std::vector<char> result;
  for (const std::string& entry : entries) result.insert(result.end(), entry.c_str(), entry.c_str() + entry.size() + 1);
  result.push_back('\0');
  if (entries.empty()) result.push_back('\0');  // an empty block still ends in two NULs
  return result;
}

}  // namespace

ProcessOutcome RunCommandLine(const std::string& command_line, bool wait, const ProgressCallback& progress) {
  ProcessOutcome outcome;
  // The tool's console window stays hidden; the executable is looked up by
  // the system's rules from the first word, the current directory first.
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  // With `wait` the tool writes into a pipe that we read to its end,
  // passing every byte on to our standard error, progress lines aside.
  HANDLE output_read = nullptr;
  HANDLE output_write = nullptr;
  if (wait) {
    SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
    if (!CreatePipe(&output_read, &output_write, &inheritable, 0)) {
      outcome.reason = WindowsErrorText(GetLastError());
      return outcome;
    }
    SetHandleInformation(output_read, HANDLE_FLAG_INHERIT, 0);
    startup.dwFlags |= STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output_write;
    startup.hStdError = output_write;
  }
  PROCESS_INFORMATION process = {};
  std::string writable = command_line;  // CreateProcessA may write into it
  std::vector<char> environment = ToolEnvironmentBlock(wait && progress);
  const BOOL created = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, wait ? TRUE : FALSE,
                                      CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, environment.data(),
                                      nullptr, &startup, &process);
  const DWORD create_error = GetLastError();
  if (output_write) CloseHandle(output_write);
  if (!created) {
    if (output_read) CloseHandle(output_read);
    outcome.reason = WindowsErrorText(create_error);
    return outcome;
  }
  outcome.started = true;
  if (wait) {
    const HANDLE our_error = GetStdHandle(STD_ERROR_HANDLE);
    ProgressLineSplitter splitter(progress, [&outcome, our_error](std::string_view bytes) {
      DWORD written = 0;
      if (our_error && our_error != INVALID_HANDLE_VALUE) {
        WriteFile(our_error, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
      }
      outcome.output_tail.append(bytes);
      if (outcome.output_tail.size() > 2 * kOutputTailLimit) {
        outcome.output_tail.erase(0, outcome.output_tail.size() - kOutputTailLimit);
      }
    });
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(output_read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      splitter.Feed(std::string_view(buffer, got));
    }
    splitter.Finish();
    CloseHandle(output_read);
    if (outcome.output_tail.size() > kOutputTailLimit) {
      outcome.output_tail.erase(0, outcome.output_tail.size() - kOutputTailLimit);
    }
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD exit_code = 0;
    if (GetExitCodeProcess(process.hProcess, &exit_code)) {
      outcome.waited = true;
      outcome.exit_status = static_cast<int>(exit_code);
    }
  }
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return outcome;
}

}  // namespace larkspur::port
