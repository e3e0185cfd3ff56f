#include <windows.h>

#include "port/errors.h"
#include "port/process.h"

namespace larkspur::port {

ProcessOutcome RunCommandLine(const std::string& command_line, bool wait) {
  ProcessOutcome outcome;
  // The tool's console window stays hidden; the executable is looked up by
  // the system's rules from the first word, the current directory first.
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  // With `wait` the tool writes into a pipe that we read to its end,
  // passing every byte on to our standard error.
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
  const BOOL created = CreateProcessA(nullptr, writable.data(), nullptr, nullptr, wait ? TRUE : FALSE,
                                      CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                                      &startup, &process);
  const DWORD create_error = GetLastError();
  if (output_write) CloseHandle(output_write);
  if (!created) {
    if (output_read) CloseHandle(output_read);
    outcome.reason = WindowsErrorText(create_error);
    return outcome;
  }
  outcome.started = true;
  if (wait) {
    char buffer[4096];
    DWORD got = 0;
    const HANDLE our_error = GetStdHandle(STD_ERROR_HANDLE);
    while (ReadFile(output_read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      DWORD written = 0;
      if (our_error && our_error != INVALID_HANDLE_VALUE) WriteFile(our_error, buffer, got, &written, nullptr);
      outcome.output_tail.append(buffer, got);
      if (outcome.output_tail.size() > 2 * kOutputTailLimit) {
        outcome.output_tail.erase(0, outcome.output_tail.size() - kOutputTailLimit);
      }
    }
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
