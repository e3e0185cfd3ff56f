// Between the program's path strings and the wide (UTF-16) strings of the
// Windows W calls. Every path string inside the program is UTF-8, on
// Windows too: port/ (and the Win32 window) turn it into UTF-16 where it
// meets the system, so a name in any script reaches the file system
// whatever the system's ANSI code page. Windows only; stateless, callable
// from any thread.
#ifndef LARKSPUR_PORT_WIDE_PATHS_WIN32_H_
#define LARKSPUR_PORT_WIDE_PATHS_WIN32_H_

#include <string>
#include <string_view>

namespace larkspur::port {

// `text` (UTF-8) as UTF-16. A byte that begins no UTF-8 sequence becomes
// U+FFFD. The three-byte form of a lone surrogate, which Utf8FromWide
// writes, gives that surrogate back: a name Windows listed opens the same
// file again.
std::wstring WideFromUtf8(std::string_view text);

// `text` (UTF-16, as Windows gives names) as UTF-8. Windows does not hold
// its names to valid UTF-16: a lone surrogate gets the three-byte form of
// its value, which is not UTF-8, so a reader that wants UTF-8 refuses the
// name instead of taking it for another.
std::string Utf8FromWide(std::wstring_view text);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_WIDE_PATHS_WIN32_H_
