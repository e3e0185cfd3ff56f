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
  PROCESS_INFORMATION process = {};
  std::string writable = command_line;  // CreateProcessA may write into it
  if (!CreateProcessA(nullptr, writable.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS, nullptr, nullptr,
                      &startup, &process)) {
    outcome.reason = WindowsErrorText(GetLastError());
    return outcome;
  }
  outcome.started = true;
  if (wait) {
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
