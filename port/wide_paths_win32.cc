#include "port/wide_paths_win32.h"

#include <filesystem>

#include "base/utf8.h"
#include "port/files.h"

namespace larkspur::port {
namespace {

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

}  // namespace

std::wstring WideFromUtf8(std::string_view text) {
  std::wstring wide;
  wide.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const auto lead = static_cast<unsigned char>(text[i]);
    const std::size_t length = lead < 0x80 ? 1
                               : (lead & 0xE0) == 0xC0 ? 2
                               : (lead & 0xF0) == 0xE0 ? 3
                               : (lead & 0xF8) == 0xF0 ? 4
                                                       : 0;
    char32_t code = length == 1 ? lead : length == 2 ? lead & 0x1F : length == 3 ? lead & 0x0F : lead & 0x07;
    bool valid = length != 0 && length <= text.size() - i;
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = static_cast<unsigned char>(text[i + k]);
      valid = IsContinuation(next);
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms and values past U+10FFFF name no character; the
    // surrogates' own values pass, for the names Utf8FromWide wrote.
    static constexpr char32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (!valid || code < kSmallest[length] || code > 0x10FFFF) {
      wide += L'\uFFFD';
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      wide += static_cast<wchar_t>(0xD800 + (code >> 10));
      wide += static_cast<wchar_t>(0xDC00 + (code & 0x3FF));
    } else {
      wide += static_cast<wchar_t>(code);
    }
    i += length;
  }
  return wide;
}

std::string Utf8FromWide(std::wstring_view text) {
  std::string utf8;
  utf8.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t code = text[i];
    if (code >= 0xD800 && code <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((code - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    AppendUtf8(code, utf8);
  }
  return utf8;
}

std::filesystem::path FileSystemPath(std::string_view path) { return std::filesystem::path(WideFromUtf8(path)); }

std::string PathText(const std::filesystem::path& path) { return Utf8FromWide(path.native()); }

}  // namespace larkspur::port
