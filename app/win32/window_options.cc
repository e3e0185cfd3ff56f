#include "app/win32/window_options.h"

#include <windows.h>

#include "port/files.h"
#include "port/wide_paths_win32.h"

namespace larkspur {

const char kWindowUsage[] =
    "usage: larkspur [--home DIR] [--lang zh|en]\n"
    "       larkspur --help | --version\n"
    "\n"
    "  --home  the folder that plays the program folder (exebat, temp, rofs2,\n"
    "          fat16, and where REB- files go); default: this program's folder\n"
    "  --lang  the language of the window: zh (Chinese) or en (English);\n"
    "          default: the user's interface language (Chinese or English)";

namespace {

std::string AbsoluteFolder(const std::wstring& folder) {
  const DWORD length = GetFullPathNameW(folder.c_str(), 0, nullptr, nullptr);
  std::wstring absolute(length, L'\0');
  if (length == 0 || GetFullPathNameW(folder.c_str(), length, absolute.data(), nullptr) >= length) {
    throw Error("The program folder \"" + port::Utf8FromWide(folder) + "\" is not a valid path");
  }
  absolute.resize(absolute.find(L'\0'));
  std::string home = port::Utf8FromWide(absolute);
  if (!port::IsDirectory(home)) {
    throw Error("The program folder \"" + home + "\" given with --home is not a folder");
  }
  if (home.back() != '\\' && home.back() != '/') home += port::kPathSeparator;
  return home;
}

}  // namespace

WindowOptions ParseWindowOptions(const std::vector<std::wstring>& arguments) {
  WindowOptions options;
  std::optional<std::wstring> home;
  std::string problem;  // the first thing wrong; --help and --version win over it
  const auto refuse = [&](std::string reason) {
    if (problem.empty()) problem = std::move(reason);
  };
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::wstring& argument = arguments[i];
    if (argument == L"--help" || argument == L"-h") {
      options.help = true;
    } else if (argument == L"--version") {
      options.version = true;
    } else if (argument == L"--home") {
      if (i + 1 >= arguments.size()) {
        refuse("--home needs a folder");
      } else {
        home = arguments[++i];
      }
    } else if (argument.rfind(L"--home=", 0) == 0) {
      home = argument.substr(7);
    } else if (argument == L"--lang" || argument.rfind(L"--lang=", 0) == 0) {
      if (argument == L"--lang" && i + 1 >= arguments.size()) {
        refuse("--lang needs zh or en");
        continue;
      }
      const std::wstring lang = argument == L"--lang" ? arguments[++i] : argument.substr(7);
      if (lang != L"zh" && lang != L"en") refuse("unknown language " + port::Utf8FromWide(lang) + " (use zh or en)");
      options.lang = port::Utf8FromWide(lang);
    } else {
      refuse("unknown argument " + port::Utf8FromWide(argument));
    }
  }
  if (options.help || options.version) return options;
  if (home && home->empty()) refuse("--home needs a folder");
  if (!problem.empty()) throw WindowUsageError(problem);
  options.home = home ? AbsoluteFolder(*home) : port::ExecutableFolder();
  options.home_given = home.has_value();
  return options;
}

}  // namespace larkspur
