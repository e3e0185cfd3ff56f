#include "fat/fat_names.h"

#include <string>

#include "fat/fat_format.h"
#include "rofs/utf16.h"

namespace larkspur::fat {
namespace {

// Characters a short name may hold besides A-Z and 0-9.
constexpr std::u16string_view kShortNameSpecials = u"!#$%&'()-@^_`{}~";

bool IsShortNameUnit(char16_t unit) {
  return (unit >= u'A' && unit <= u'Z') || (unit >= u'0' && unit <= u'9') ||
         kShortNameSpecials.find(unit) != std::u16string_view::npos;
}

char16_t FoldUnit(char16_t unit) {
  if (unit >= u'a' && unit <= u'z') return unit - 0x20;
  if (unit >= 0xE0 && unit <= 0xFE && unit != 0xF7) return unit - 0x20;   // Latin-1
  if (unit >= 0x3B1 && unit <= 0x3C9 && unit != 0x3C2) return unit - 0x20;  // Greek
  if (unit >= 0x430 && unit <= 0x44F) return unit - 0x20;                  // Cyrillic
  if (unit >= 0x450 && unit <= 0x45F) return unit - 0x50;
  return unit;
}

bool IsReservedDeviceName(std::u16string_view name) {
  // The device names are reserved whatever the extension: "nul.txt" is NUL.
  const std::u16string base = FoldFatCase(name.substr(0, name.find(u'.')));
  if (base == u"CON" || base == u"PRN" || base == u"AUX" || base == u"NUL") return true;
  return base.size() == 4 && (base.starts_with(u"COM") || base.starts_with(u"LPT")) &&
         base[3] >= u'1' && base[3] <= u'9';
}

}  // namespace

std::optional<std::string> FatNameProblem(std::u16string_view name) {
  if (name.empty()) return "the name is empty";
  if (name == u"." || name == u"..") return "the name \".\" or \"..\" would leave its folder";
  if (name.size() > kMaxLongNameUnits) {
    return "the name is " + std::to_string(name.size()) + " UTF-16 units long, more than 255";
  }
  for (char16_t unit : name) {
    if (unit < 0x20 || unit == 0x7F) return "the name holds a control character";
    if (std::u16string_view(u"\"*/:<>?\\|").find(unit) != std::u16string_view::npos) {
      std::string shown(1, static_cast<char>(unit));
      return "the name holds the character '" + shown + "'";
    }
  }
  if (name.back() == u'.' || name.back() == u' ') return "the name ends with a dot or a blank";
  if (!rofs::Utf16ToUtf8(name)) return "the name holds an unpaired UTF-16 surrogate";
  if (IsReservedDeviceName(name)) return "the name is a device name Windows reserves";
  return std::nullopt;
}

std::u16string FoldFatCase(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) unit = FoldUnit(unit);
  return folded;
}

std::uint8_t ShortNameChecksum(const ShortName& short_name) {
  std::uint8_t sum = 0;
  for (std::uint8_t byte : short_name) {
    sum = static_cast<std::uint8_t>(((sum & 1) << 7) + (sum >> 1) + byte);
  }
  return sum;
}

std::optional<ShortName> PlainShortName(std::u16string_view name) {
  const std::size_t dot = name.find(u'.');
  const std::u16string_view base = name.substr(0, dot);
  const std::u16string_view extension =
      dot == std::u16string_view::npos ? std::u16string_view() : name.substr(dot + 1);
  if (base.empty() || base.size() > 8 || extension.size() > 3) return std::nullopt;
  if (dot != std::u16string_view::npos && extension.empty()) return std::nullopt;
  ShortName stored;
  stored.fill(' ');
  for (std::size_t i = 0; i < base.size(); ++i) {
    if (!IsShortNameUnit(base[i])) return std::nullopt;
    stored[i] = static_cast<std::uint8_t>(base[i]);
  }
  for (std::size_t i = 0; i < extension.size(); ++i) {
    if (!IsShortNameUnit(extension[i])) return std::nullopt;
    stored[8 + i] = static_cast<std::uint8_t>(extension[i]);
  }
  return stored;
}

std::optional<ShortName> GenerateShortName(std::u16string_view name, const std::set<ShortName>& taken) {
  // The basis: upper-cased, blanks and dots of the base dropped (leading dots
  // too), anything a short name cannot hold turned into '_'.
  const auto keep = [](char16_t unit) -> char {
    const char16_t upper = FoldUnit(unit);
    return IsShortNameUnit(upper) ? static_cast<char>(upper) : '_';
  };
  const std::size_t last_dot = name.rfind(u'.');
  const bool has_extension = last_dot != std::u16string_view::npos && last_dot > 0;
  const std::u16string_view base_part = has_extension ? name.substr(0, last_dot) : name;
  std::string base;
  for (char16_t unit : base_part) {
    if (unit == u' ' || unit == u'.') continue;
    base += keep(unit);
  }
  std::string extension;
  if (has_extension) {
    for (char16_t unit : name.substr(last_dot + 1)) {
      if (unit == u' ') continue;
      if (extension.size() < 3) extension += keep(unit);
    }
  }
  // Appended rather than assigned or inserted in front: g++ 12 at -O3
  // misreports both as overlapping copies.
  if (base.empty()) base += '_';
  for (std::uint32_t tail = 1; tail <= 999999; ++tail) {
    std::string suffix(1, '~');
    suffix += std::to_string(tail);
    const std::string stem = base.substr(0, 8 - suffix.size()) + suffix;
    ShortName stored;
    stored.fill(' ');
    for (std::size_t i = 0; i < stem.size(); ++i) stored[i] = static_cast<std::uint8_t>(stem[i]);
    for (std::size_t i = 0; i < extension.size(); ++i) stored[8 + i] = static_cast<std::uint8_t>(extension[i]);
    if (!taken.contains(stored)) return stored;
  }
  return std::nullopt;
}

std::u16string ShortNameText(const ShortName& short_name, std::uint8_t case_flags) {
  const auto part = [&](std::size_t begin, std::size_t end, bool lower) {
    while (end > begin && short_name[end - 1] == ' ') --end;
    std::u16string text;
    for (std::size_t i = begin; i < end; ++i) {
      std::uint8_t byte = short_name[i];
      if (i == 0 && byte == kEntryKanjiE5) byte = kEntryDeleted;
      if (byte >= 0x80) {
        text += u'\uFFFD';
      } else {
        if (lower && byte >= 'A' && byte <= 'Z') byte += 0x20;
        text += static_cast<char16_t>(byte);
      }
    }
    return text;
  };
  std::u16string text = part(0, 8, case_flags & kCaseLowerBase);
  const std::u16string extension = part(8, 11, case_flags & kCaseLowerExtension);
  if (!extension.empty()) text += u"." + extension;
  return text;
}

}  // namespace larkspur::fat
