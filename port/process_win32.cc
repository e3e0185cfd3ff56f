#include <windows.h>

#include <shellapi.h>

#include <string>
#include <string_view>
#include <vector>

#include "port/errors.h"
#include "port/process.h"
#include "port/wide_paths_win32.h"

namespace larkspur::port {
namespace {

wchar_t UpperAscii(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Compares environment names as Windows orders them: ignoring ASCII case.
int CompareNames(std::wstring_view a, std::wstring_view b) {
  for (std::size_t i = 0; i < a.size() && i < b.size(); ++i) {
    const wchar_t x = UpperAscii(a[i]);
    const wchar_t y = UpperAscii(b[i]);
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// The name of an entry "NAME=value"; entries such as "=C:=C:\dir" keep
// their first '=' in the name.
std::wstring_view EntryName(std::wstring_view entry) {
  const std::size_t equals = entry.find(L'=', 1);
  return entry.substr(0, equals == std::wstring_view::npos ? entry.size() : equals);
}

// A Unicode environment block for the tool: ours without LARKSPUR_PROGRESS,
// and with LARKSPUR_PROGRESS=1 when progress is asked for, in the sorted
// order Windows expects. Unicode, so names and values outside the ANSI code
// page (a user folder in Chinese) reach the tool unchanged. Built afresh for
// each program, because SetEnvironmentVariable would change the environment
// of every thread.
std::wstring ToolEnvironmentBlock(bool with_progress) {
  const std::string_view ascii_name = kProgressVariable;
  const std::wstring own_name(ascii_name.begin(), ascii_name.end());
  std::vector<std::wstring> entries;
  if (wchar_t* block = GetEnvironmentStringsW()) {
    for (const wchar_t* entry = block; *entry != L'\0'; entry += std::wstring_view(entry).size() + 1) {
      if (CompareNames(EntryName(entry), own_name) != 0) entries.emplace_back(entry);
    }
    FreeEnvironmentStringsW(block);
  }
  if (with_progress) {
    auto at = entries.begin();
    while (at != entries.end() && ((*at)[0] == L'=' || CompareNames(EntryName(*at), own_name) < 0)) ++at;
    entries.insert(at, own_name + L"=1");
  }
  std::wstring result;
  for (const std::wstring& entry : entries) {
    result += entry;
    result += L'\0';
  }
  result += L'\0';
  if (entries.empty()) result += L'\0';  // an empty block still ends in two NULs
  return result;
}

}  // namespace

ProcessOutcome RunCommandLine(const std::string& command_line, bool wait, const ProgressCallback& progress) {
  ProcessOutcome outcome;
  // The tool's console window stays hidden; the executable is looked up by
  // the system's rules from the first word, the current directory first.
  STARTUPINFOW startup = {};
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
  // Wide, so the paths on the line reach the tool as they are, whatever
  // the ANSI code page; CreateProcessW may write into the line.
  std::wstring writable = WideFromUtf8(command_line);
  std::wstring environment = ToolEnvironmentBlock(wait && progress);
  const BOOL created =
      CreateProcessW(nullptr, writable.data(), nullptr, nullptr, wait ? TRUE : FALSE,
                     CREATE_NEW_PROCESS_GROUP | NORMAL_PRIORITY_CLASS | CREATE_UNICODE_ENVIRONMENT,
                     environment.data(), nullptr, &startup, &process);
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

std::vector<std::string> ProgramArguments(int, char**) {
  // The C runtime's argv holds the ANSI form, in which a name outside the
  // code page is already lost ('?'): the wide command line has it whole.
  std::vector<std::string> arguments;
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; words != nullptr && i < count; ++i) arguments.push_back(Utf8FromWide(words[i]));
  if (words) LocalFree(words);
  return arguments;
}

}  // namespace larkspur::port
