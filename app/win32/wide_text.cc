#include "app/win32/wide_text.h"

#include <windows.h>

#include "port/errors.h"

namespace larkspur {
namespace {

// Converts with MultiByteToWideChar; false when `flags` makes it refuse
// the bytes.
bool Widen(unsigned code_page, DWORD flags, std::string_view text, std::wstring& wide) {
  wide.clear();
  if (text.empty()) return true;
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(code_page, flags, text.data(), size, nullptr, 0);
  if (length <= 0) return false;
  wide.resize(static_cast<std::size_t>(length));
  return MultiByteToWideChar(code_page, flags, text.data(), size, wide.data(), length) == length;
}

std::string Narrow(unsigned code_page, std::wstring_view text, BOOL* used_default) {
  if (text.empty()) return {};
  const int size = static_cast<int>(text.size());
  // WC_NO_BEST_FIT_CHARS keeps "ä" from quietly turning into "a" where the
  // code page lacks it; UTF-8 takes no flags and never needs a stand-in.
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  BOOL* const check = code_page == CP_UTF8 ? nullptr : used_default;
  const int length = WideCharToMultiByte(code_page, flags, text.data(), size, nullptr, 0, nullptr, check);
  if (length <= 0) return {};
  std::string narrow(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(code_page, flags, text.data(), size, narrow.data(), length, nullptr, check);
  return narrow;
}

}  // namespace

std::wstring WideFromText(std::string_view text) {
  std::wstring wide;
  if (!Widen(CP_UTF8, MB_ERR_INVALID_CHARS, text, wide)) Widen(CP_ACP, 0, text, wide);
  std::wstring lines;
  lines.reserve(wide.size());
  for (std::size_t i = 0; i < wide.size(); ++i) {
    if (wide[i] == L'\n' && (i == 0 || wide[i - 1] != L'\r')) lines += L'\r';
    lines += wide[i];
  }
  return lines;
}

std::string Utf8FromWide(std::wstring_view text) { return Narrow(CP_UTF8, text, nullptr); }

std::string AnsiPathFromWide(std::wstring_view path) {
  BOOL used_default = FALSE;
  std::string ansi = Narrow(CP_ACP, path, &used_default);
  if (used_default || (ansi.empty() && !path.empty())) {
    throw FileOpenError(Utf8FromWide(path),
                        "Its name has letters outside this system's ANSI code page " + std::to_string(GetACP()) +
                            "; rename the file and its folders with letters of that code page, or set the "
                            "system locale for non-Unicode programs to a language that has them");
  }
  return ansi;
}

std::wstring WideFromAnsiPath(std::string_view path) {
  std::wstring wide;
  Widen(CP_ACP, 0, path, wide);
  return wide;
}

}  // namespace larkspur
