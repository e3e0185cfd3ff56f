#include "repack/obey_names.h"

#include <cstdint>

namespace larkspur {
namespace {

// UTF-16 code units of a UTF-8 name, or -1 when the bytes are not UTF-8.
long Utf16Length(std::string_view name) {
  long units = 0;
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead < 0x80) {
      length = 1, code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
      length = 2, code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3, code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      length = 4, code = lead & 0x07;
    } else {
      return -1;
    }
    if (length > name.size() - i) return -1;
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      if ((next & 0xC0) != 0x80) return -1;
      code = code << 6 | (next & 0x3F);
    }
    // Overlong forms, surrogates and code points past U+10FFFF are not UTF-8.
    static constexpr std::uint32_t kSmallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[length] || (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF) return -1;
    units += code >= 0x10000 ? 2 : 1;
    i += length;
  }
  return units;
}

}  // namespace

std::optional<Text> ObeyPathProblem(std::string_view relative_path, bool utf8_names) {
  for (const char c : relative_path) {
    if (c == '"') return Text("obey 文件的行中不能有双引号");
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return Text("obey 文件的行中不能有控制字符");
  }
  constexpr long kLongestName = 255;
  for (std::size_t start = 0; start <= relative_path.size();) {
    std::size_t end = relative_path.find('\\', start);
    if (end == std::string_view::npos) end = relative_path.size();
    const std::string_view name = relative_path.substr(start, end - start);
    if (utf8_names) {
      const long units = Utf16Length(name);
      if (units < 0) return Text("名称不是 UTF-8 文本");
      if (units > kLongestName) return Text("ROFS 映像中不能存放超过 255 个字符的名称");
    } else if (static_cast<long>(name.size()) > kLongestName) {
      return Text("ROFS 映像中不能存放超过 255 个字符的名称");
    }
    start = end + 1;
  }
  return std::nullopt;
}

}  // namespace larkspur
