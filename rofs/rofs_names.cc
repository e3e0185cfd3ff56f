#include "rofs/rofs_names.h"

#include <algorithm>

#include "rofs/utf16.h"

namespace larkspur::rofs {
namespace {

char16_t FoldUnit(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

}  // namespace

int CompareForLookup(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t left = FoldUnit(a[i]);
    const char16_t right = FoldUnit(b[i]);
    if (left != right) return left < right ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::u16string FoldAsciiCase(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

std::optional<std::string> UnsafeNameReason(std::u16string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == u"." || name == u"..") return "the name \".\" or \"..\" would leave its folder";
  for (char16_t unit : name) {
    if (unit == u'/' || unit == u'\\') return "the name holds a path separator";
    if (unit == u':') return "the name holds a colon";
    if (unit == 0) return "the name holds a NUL character";
  }
  if (!Utf16ToUtf8(name)) return "the name holds an unpaired UTF-16 surrogate";
  return std::nullopt;
}

}  // namespace larkspur::rofs
