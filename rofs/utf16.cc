#include "rofs/utf16.h"

#include <cstdint>

#include "base/utf8.h"

namespace larkspur::rofs {
namespace {

bool IsHighSurrogate(char32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Shared walk of both UTF-16 encoders; `lossy` decides what an unpaired
// surrogate becomes.
std::optional<std::string> Encode(std::u16string_view utf16, bool lossy) {
  std::string out;
  out.reserve(utf16.size());
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t unit = utf16[i];
    if (IsHighSurrogate(unit) && i + 1 < utf16.size() && IsLowSurrogate(utf16[i + 1])) {
      unit = 0x10000 + ((unit - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      if (!lossy) return std::nullopt;
      unit = 0xFFFD;
    }
    AppendUtf8(unit, out);
  }
  return out;
}

}  // namespace

std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  std::size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<std::uint8_t>(utf8[i]);
    int extra;
    char32_t code_point;
    char32_t minimum;
    if (lead < 0x80) {
      extra = 0, code_point = lead, minimum = 0;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, code_point = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, code_point = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, code_point = lead & 0x07, minimum = 0x10000;
    } else {
      return std::nullopt;
    }
    if (static_cast<std::size_t>(extra) > utf8.size() - i - 1) return std::nullopt;
    for (int k = 1; k <= extra; ++k) {
      const auto next = static_cast<std::uint8_t>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      code_point = (code_point << 6) | (next & 0x3F);
    }
    if (code_point < minimum || code_point > 0x10FFFF || IsHighSurrogate(code_point) ||
        IsLowSurrogate(code_point)) {
      return std::nullopt;
    }
    if (code_point >= 0x10000) {
      code_point -= 0x10000;
      out += static_cast<char16_t>(0xD800 + (code_point >> 10));
      out += static_cast<char16_t>(0xDC00 + (code_point & 0x3FF));
    } else {
      out += static_cast<char16_t>(code_point);
    }
    i += 1 + extra;
  }
  return out;
}

std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16) { return Encode(utf16, false); }

std::string Utf16ToUtf8Lossy(std::u16string_view utf16) { return *Encode(utf16, true); }

}  // namespace larkspur::rofs
