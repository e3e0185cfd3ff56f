#include "rofs/kept_entries.h"

#include <optional>

#include "base/hex.h"
#include "rofs/rofs_reader.h"
#include "rofs/utf16.h"

namespace larkspur::rofs {
namespace {

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// Characters a name keeps as they are: printable ASCII but the escape sign,
// the two separators and the blank, and every character from U+0080.
bool KeptRaw(char16_t unit) {
  if (unit >= 0x80) return true;
  return unit > 0x20 && unit < 0x7F && unit != u'%' && unit != u'\\' && unit != u'/';
}

// Stands for an empty name, which no escape or character gives.
constexpr std::string_view kEmptyName = "%-";

void AppendEscapedName(std::u16string_view name, std::string& text) {
  if (name.empty()) {
    text += kEmptyName;
    return;
  }
  for (std::size_t i = 0; i < name.size(); ++i) {
    const char16_t unit = name[i];
    if (IsHighSurrogate(unit) && i + 1 < name.size() && IsLowSurrogate(name[i + 1])) {
      text += *Utf16ToUtf8(name.substr(i, 2));
      ++i;
    } else if (IsHighSurrogate(unit) || IsLowSurrogate(unit)) {
      text += "%u";
      text += HexDigits(unit, 4);
    } else if (KeptRaw(unit)) {
      text += *Utf16ToUtf8(name.substr(i, 1));
    } else {
      text += '%';
      text += HexDigits(unit, 2);
    }
  }
}

void CollectKept(const RofsDirectory& dir, KeptPath& path, KeptEntries& kept) {
  for (const RofsFile& file : dir.files) {
    path.push_back(file.name);
    if (file.hidden()) {
      kept.hidden.push_back(path);
    } else if (file.attributes != kDefaultFileAttributes ||
               file.extra_attributes != kDefaultExtraAttributes) {
      kept.attributes.push_back({path, file.attributes, file.extra_attributes});
    }
    path.pop_back();
  }
  for (const RofsDirectory& sub : dir.subdirectories) {
    path.push_back(sub.name);
    CollectKept(sub, path, kept);
    path.pop_back();
  }
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// The value of `digits` hex digits at `text`, or nullopt.
std::optional<unsigned> HexValue(std::string_view text, std::size_t digits) {
  if (text.size() < digits) return std::nullopt;
  unsigned value = 0;
  for (std::size_t i = 0; i < digits; ++i) {
    const int digit = HexDigit(text[i]);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return value;
}

class RecordParser {
 public:
  explicit RecordParser(std::string_view origin) : origin_(origin) {}

  KeptEntries Run(std::string_view text) {
    int line = 0;
    bool headed = false;
    while (!text.empty()) {
      ++line;
      const std::size_t end = text.find('\n');
      std::string_view content = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
      if (!headed) {
        if (content != kKeptEntriesHeading) {
          Fail(line, "the first line is not \"" + std::string(kKeptEntriesHeading) + "\"");
        }
        headed = true;
        continue;
      }
      ParseLine(content, line);
    }
    if (!headed) Fail(1, "the record is empty; its first line must be \"" +
                             std::string(kKeptEntriesHeading) + "\"");
    return std::move(kept_);
  }

 private:
  [[noreturn]] void Fail(int line, const std::string& reason) const {
    throw KeptEntriesError(origin_, line, reason);
  }

  static std::vector<std::string_view> Fields(std::string_view content) {
    std::vector<std::string_view> fields;
    while (true) {
      const std::size_t blank = content.find(' ');
      fields.push_back(content.substr(0, blank));
      if (blank == std::string_view::npos) return fields;
      content.remove_prefix(blank + 1);
    }
  }

  void ParseLine(std::string_view content, int line) {
    const std::vector<std::string_view> fields = Fields(content);
    if (fields[0] == "hidden") {
      if (fields.size() != 2) Fail(line, "a hidden record is \"hidden <path>\"");
      kept_.hidden.push_back(ParsePath(fields[1], line));
    } else if (fields[0] == "attributes") {
      if (fields.size() != 4) {
        Fail(line, "an attributes record is \"attributes <2 hex digits> <2 hex digits> <path>\"");
      }
      KeptAttributes record;
      record.attributes = ParseByte(fields[1], "attributes", line);
      record.extra_attributes = ParseByte(fields[2], "extra attributes", line);
      if (record.attributes & kAttDirectory) {
        Fail(line, "attributes " + std::string(fields[1]) +
                       " give a file the directory bit (0x10)");
      }
      record.path = ParsePath(fields[3], line);
      kept_.attributes.push_back(std::move(record));
    } else {
      // Appended, not '"' + name: g++ 12 at -O3 misreports inserting in
      // front of a string as an overlapping copy.
      std::string message(1, '"');
      message += PrintableBytes(fields[0]);
      Fail(line, message + "\" is not a record kind (hidden, attributes)");
    }
  }

  std::uint8_t ParseByte(std::string_view field, const char* what, int line) const {
    const std::optional<unsigned> value = HexValue(field, 2);
    if (field.size() != 2 || !value) {
      Fail(line, std::string(what) + " \"" + PrintableBytes(field) + "\" are not two hex digits");
    }
    return static_cast<std::uint8_t>(*value);
  }

  KeptPath ParsePath(const std::string_view whole, int line) const {
    KeptPath path;
    std::string_view field = whole;
    while (true) {
      const std::size_t cut = field.find('\\');
      const std::string_view name = field.substr(0, cut);
      if (name.empty()) Fail(line, "path \"" + PrintableBytes(whole) + "\" has an empty name");
      path.push_back(ParseName(name, line));
      if (cut == std::string_view::npos) return path;
      field.remove_prefix(cut + 1);
    }
  }

  std::u16string ParseName(std::string_view text, int line) const {
    std::u16string name;
    if (text == kEmptyName) return name;
    std::string raw;  // UTF-8 bytes since the last escape
    const auto flush = [&]() {
      const std::optional<std::u16string> decoded = Utf8ToUtf16(raw);
      if (!decoded) Fail(line, "name \"" + PrintableBytes(text) + "\" is not valid UTF-8");
      name += *decoded;
      raw.clear();
    };
    for (std::size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if (c == '%') {
        flush();
        const std::string_view rest = text.substr(i + 1);
        std::optional<unsigned> value;
        if (!rest.empty() && rest[0] == 'u') {
          value = HexValue(rest.substr(1), 4);
          if (!value || *value < 0xD800 || *value > 0xDFFF) {
            Fail(line, "name \"" + PrintableBytes(text) + "\": %u is not followed by 4 hex digits of "
                       "a surrogate (D800 to DFFF)");
          }
          i += 5;
        } else {
          value = HexValue(rest, 2);
          if (!value || *value >= 0x80) {
            Fail(line, "name \"" + PrintableBytes(text) + "\": % is not followed by 2 hex digits of an "
                       "ASCII character");
          }
          i += 2;
        }
        name += static_cast<char16_t>(*value);
      } else if (c <= 0x20 || c == 0x7F) {
        Fail(line, "name \"" + PrintableBytes(text) + "\" holds a blank or control character that "
                   "is not escaped");
      } else {
        raw += static_cast<char>(c);
      }
    }
    flush();
    return name;
  }

  std::string origin_;
  KeptEntries kept_;
};

}  // namespace

KeptEntriesError::KeptEntriesError(std::string_view origin, int line, const std::string& reason)
    : RofsError(std::string(origin) + ":" + std::to_string(line) + ": " + reason), line_(line) {}

KeptEntries KeptEntriesFromImage(std::span<const std::uint8_t> image, std::string_view image_name) {
  const RofsImage parsed = ParseRofsImage(image, image_name);
  KeptEntries kept;
  KeptPath path;
  CollectKept(parsed.root, path, kept);
  return kept;
}

std::string KeptPathText(const KeptPath& path) {
  std::string text;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i) text += '\\';
    AppendEscapedName(path[i], text);
  }
  return text;
}

std::string FormatKeptEntries(const KeptEntries& kept) {
  std::string text = std::string(kKeptEntriesHeading) + "\n";
  for (const KeptPath& path : kept.hidden) text += "hidden " + KeptPathText(path) + "\n";
  for (const KeptAttributes& record : kept.attributes) {
    text += "attributes " + HexDigits(record.attributes, 2) + " " + HexDigits(record.extra_attributes, 2) + " " +
            KeptPathText(record.path) + "\n";
  }
  return text;
}

KeptEntries ParseKeptEntries(std::string_view text, std::string_view origin) {
  return RecordParser(origin).Run(text);
}

}  // namespace larkspur::rofs
