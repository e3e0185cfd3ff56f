#include "app/win32/window_options.h"

#include <windows.h>

#include "app/win32/wide_text.h"
#include "port/files.h"

namespace larkspur {

const char kWindowUsage[] =
    "usage: larkspur [--home DIR]\n"
    "       larkspur --version\n"
    "\n"
    "  --home  the folder that plays the program folder (exebat, temp, rofs2,\n"
    "          fat16, and where REB- files go); default: this program's folder";

namespace {

std::string AbsoluteFolder(const std::wstring& folder) {
  const DWORD length = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  std::wstring absolute(length, L'\0');
  if (length == 0 || GetFullPathNameW(folder.c_str(), length, absolute.data(), nullptr) >= length) {
    throw Error("The program folder \"" + Utf8FromWide(folder) + "\" is not a valid path");
  }
  absolute.resize(absolute.find(L'\0'));
  std::string ansi = AnsiPathFromWide(absolute);
  if (!port::IsDirectory(ansi)) {
    throw Error("The program folder \"" + Utf8FromWide(absolute) + "\" given with --home is not a folder");
  }
  if (ansi.back() != '\\' && ansi.back() != '/') ansi += port::kPathSeparator;
  return ansi;
}

}  // namespace

WindowOptions ParseWindowOptions(const std::vector<std::wstring>& arguments) {
  WindowOptions options;
  std::optional<std::wstring> home;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--version") {
      options.version = true;
    } else if (argument == L"--home") {
      if (i + 1 >= arguments.size()) throw WindowUsageError("--home needs a folder");
      home = arguments[++i];
    } else if (argument.rfind(L"--home=", 0) == 0) {
      home = argument.substr(7);
    } else {
      throw WindowUsageError("unknown argument " + Utf8FromWide(argument));
    }
  }
  if (home && home->empty()) throw WindowUsageError("--home needs a folder");
  options.home = home ? AbsoluteFolder(*home) : port::ExecutableFolder();
  return options;
}

}  // namespace larkspur
