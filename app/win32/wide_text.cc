#include "app/win32/wide_text.h"

#include <windows.h>

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

}  // namespace larkspur
