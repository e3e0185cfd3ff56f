// The command line of the Windows window program: larkspur [--home DIR].
// Stateless; callable from any thread.
#ifndef LARKSPUR_APP_WIN32_WINDOW_OPTIONS_H_
#define LARKSPUR_APP_WIN32_WINDOW_OPTIONS_H_

#include <optional>
#include <string>
#include <vector>

#include "port/errors.h"

namespace larkspur {

// A command line the program does not take; the message says why.
class WindowUsageError : public Error {
 public:
  using Error::Error;
};

struct WindowOptions {
  bool help = false;     // --help: show the usage and end
  bool version = false;  // --version: show the version and end
  std::string home;      // the program folder, ending in a separator
  bool home_given = false;  // --home named it
  std::string lang;         // "zh" or "en" from --lang; empty: the system's language
};

extern const char kWindowUsage[];

// Parses the arguments after the program name. The program folder is DIR
// of "--home DIR" (or "--home=DIR"), made absolute, or else the
// executable's own folder. --help and --version win wherever they stand:
// with either, nothing else is checked and home stays empty. Otherwise
// throws WindowUsageError for an unknown option, a missing or empty DIR,
// or any other word; Error when DIR is not an existing folder. `home` is
// UTF-8, as every path of the program, whatever the ANSI code page.
WindowOptions ParseWindowOptions(const std::vector<std::wstring>& arguments);

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WINDOW_OPTIONS_H_
