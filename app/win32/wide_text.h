// Text between the program's byte strings and the wide (UTF-16) strings the
// Win32 window's W calls take. The program's own texts are UTF-8, and so
// are its paths, on Windows too: a path crosses with port::WideFromUtf8
// and port::Utf8FromWide (port/wide_paths_win32.h), the same conversions
// port/ uses for the file calls. Stateless; callable from any thread.
#ifndef LARKSPUR_APP_WIN32_WIDE_TEXT_H_
#define LARKSPUR_APP_WIN32_WIDE_TEXT_H_

#include <string>
#include <string_view>

namespace larkspur {

// `text` read as UTF-8; a text that is not valid UTF-8 (a reason the C++
// runtime gives in the ANSI code page) is read in the ANSI code page
// instead. A line break "\n" becomes "\r\n", as the edit control and
// message boxes need it.
std::wstring WideFromText(std::string_view text);

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WIDE_TEXT_H_
