// Text between the program's byte strings and the wide (UTF-16) strings the
// Win32 window's W calls take. The program's own texts are UTF-8; paths are
// in the ANSI code page, because the rest of the Windows code opens files
// and starts tools with the A functions. Stateless; callable from any thread.
#ifndef LARKSPUR_APP_WIN32_WIDE_TEXT_H_
#define LARKSPUR_APP_WIN32_WIDE_TEXT_H_

#include <string>
#include <string_view>

namespace larkspur {

// `text` read as UTF-8; a text that is not valid UTF-8 (a log line quoting
// a path in the ANSI code page) is read in the ANSI code page instead. A
// line break "\n" becomes "\r\n", as the edit control and message boxes
// need it.
std::wstring WideFromText(std::string_view text);

// UTF-8 of `text`; unpaired surrogates become U+FFFD.
std::string Utf8FromWide(std::wstring_view text);

// `path` in the ANSI code page, as the A functions take it. Throws
// FileOpenError naming the path (in UTF-8) when a letter of it has no place
// in that code page: a best-fit or "?" stand-in would name another file, or
// none, so such a name is refused instead.
std::string AnsiPathFromWide(std::wstring_view path);

// The ANSI path back as wide text, for the W calls.
std::wstring WideFromAnsiPath(std::string_view path);

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WIDE_TEXT_H_
