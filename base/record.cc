#include "base/record.h"

#include <charconv>

#include "base/crc32.h"
#include "base/hex.h"

namespace larkspur {
namespace {

constexpr std::string_view kHeadingWord = "larkspur";
constexpr std::string_view kEndWord = "end";
constexpr std::string_view kEmptyField = "%-";

bool IsWordCharacter(char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-'; }

bool IsWord(std::string_view text) {
  if (text.empty()) return false;
  for (const char c : text) {
    if (!IsWordCharacter(c)) return false;
  }
  return true;
}

bool IsControlOrBlank(unsigned char byte) { return byte <= 0x20 || byte == 0x7F; }

// The length of the well-formed UTF-8 sequence of two to four bytes that
// starts at text[at], or 0: no overlong form, no surrogate, nothing above
// U+10FFFF.
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  std::size_t length = 0;
  unsigned char low = 0x80, high = 0xBF;  // the second byte's range
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // U+D800 to U+DFFF are surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;
  } else {
    return 0;
  }
  if (text.size() - at < length) return 0;
  if (byte(at + 1) < low || byte(at + 1) > high) return 0;
  for (std::size_t i = 2; i < length; ++i) {
    if (byte(at + i) < 0x80 || byte(at + i) > 0xBF) return 0;
  }
  return length;
}

// Escapes `bytes` into `out`; `also` are printable ASCII characters escaped
// besides the ones every field escapes.
void AppendEscaped(std::string_view bytes, std::string_view also, std::string& out) {
  if (bytes.empty()) {
    out += kEmptyField;
    return;
  }
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (byte >= 0x80) {
      if (const std::size_t length = Utf8SequenceAt(bytes, i)) {
        out.append(bytes.substr(i, length));
        i += length;
        continue;
      }
    } else if (!IsControlOrBlank(byte) && byte != '%' && also.find(static_cast<char>(byte)) == std::string_view::npos) {
      out += static_cast<char>(byte);
      ++i;
      continue;
    }
    out += '%';
    out += HexDigits(byte, 2);
    ++i;
  }
}

int CapitalHexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// What is wrong with the raw text of a field, or nothing: a field is
// never empty, holds no blank or control character, no byte outside
// well-formed UTF-8 and no '%' but in an escape.
std::optional<std::string> FieldProblem(std::string_view text) {
  if (text.empty()) return "an empty field (two blanks in a row, or a blank at the end)";
  for (std::size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte == '%') {
      if (text.substr(i, 2) == kEmptyField) {
        i += 2;
        continue;
      }
      if (i + 2 >= text.size() || CapitalHexDigit(text[i + 1]) < 0 || CapitalHexDigit(text[i + 2]) < 0) {
        return "\"" + PrintableBytes(text) + "\": % is not followed by two capital hex digits";
      }
      i += 3;
    } else if (byte >= 0x80) {
      const std::size_t length = Utf8SequenceAt(text, i);
      if (length == 0) return "\"" + PrintableBytes(text) + "\" holds a byte that is not UTF-8 and not escaped";
      i += length;
    } else if (IsControlOrBlank(byte)) {
      return "\"" + PrintableBytes(text) + "\" holds a control character that is not escaped";
    } else {
      ++i;
    }
  }
  return std::nullopt;
}

// The bytes of an escaped text, which holds no "%-" (checked by the
// caller), or nothing for a bad escape or a raw control character.
std::optional<std::string> Unescaped(std::string_view text) {
  std::string bytes;
  bytes.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (IsControlOrBlank(byte)) return std::nullopt;
    if (byte != '%') {
      bytes += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = CapitalHexDigit(text[i + 1]), low = CapitalHexDigit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return bytes;
}

[[noreturn]] void Fail(std::string_view origin, int line, const std::string& reason) {
  throw RecordError(origin, line, reason);
}

std::string EndLine(std::string_view text) { return std::string(kEndWord) + " " + HexDigits(Crc32Of(text), 8) + "\n"; }

}  // namespace

RecordError::RecordError(std::string_view origin, int line, const std::string& reason)
    : std::runtime_error(std::string(origin) + ":" + std::to_string(line) + ": " + reason),
      origin_(origin),
      line_(line),
      reason_(reason) {}

std::string EscapeField(std::string_view bytes) {
  std::string text;
  AppendEscaped(bytes, "", text);
  return text;
}

std::optional<std::string> UnescapeField(std::string_view text) {
  if (text == kEmptyField) return std::string();
  if (text.empty() || text.find(kEmptyField) != std::string_view::npos) return std::nullopt;
  return Unescaped(text);
}

RecordWriter::RecordWriter(std::string_view kind, int version)
    : text_(std::string(kHeadingWord) + " " + std::string(kind) + " " + std::to_string(version)) {}

RecordWriter& RecordWriter::Line(std::string_view word) {
  text_ += '\n';
  text_ += word;
  return *this;
}

RecordWriter& RecordWriter::Bytes(std::string_view bytes) {
  text_ += ' ';
  AppendEscaped(bytes, "", text_);
  return *this;
}

RecordWriter& RecordWriter::Names(const std::vector<std::string>& names) {
  text_ += ' ';
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) text_ += '/';
    AppendEscaped(names[i], "/\\", text_);
  }
  return *this;
}

RecordWriter& RecordWriter::Number(std::int64_t value) {
  text_ += ' ';
  text_ += std::to_string(value);
  return *this;
}

RecordWriter& RecordWriter::Hex(std::uint64_t value, int digits) {
  text_ += ' ';
  text_ += HexDigits(value, digits);
  return *this;
}

std::string RecordWriter::Finish() const {
  const std::string lines = text_ + '\n';
  return lines + EndLine(lines);
}

RecordLine::RecordLine(std::string origin, int number, std::vector<std::string> fields)
    : origin_(std::move(origin)), number_(number), fields_(std::move(fields)) {}

void RecordLine::Fail(const std::string& reason) const { throw RecordError(origin_, number_, reason); }

const std::string& RecordLine::Field(std::size_t index) const {
  if (index + 1 >= fields_.size()) {
    Fail("\"" + fields_.front() + "\" has " + std::to_string(fields()) + " fields, not " + std::to_string(index + 1));
  }
  return fields_[index + 1];
}

void RecordLine::ExpectFields(std::size_t count, std::string_view form) const {
  if (fields() != count) Fail("the line is not \"" + std::string(form) + "\"");
}

std::string RecordLine::Bytes(std::size_t index) const {
  const std::string& text = Field(index);
  const std::optional<std::string> bytes = UnescapeField(text);
  if (!bytes) Fail("\"" + PrintableBytes(text) + "\" is not a field (%- stands alone)");
  return *bytes;
}

std::vector<std::string> RecordLine::Names(std::size_t index) const {
  const std::string& text = Field(index);
  std::vector<std::string> names;
  std::string_view rest = text;
  while (true) {
    const std::size_t slash = rest.find('/');
    const std::string_view name = rest.substr(0, slash);
    const std::optional<std::string> bytes = name.empty() ? std::nullopt : UnescapeField(name);
    if (!bytes) Fail("path \"" + PrintableBytes(text) + "\" has an empty name (written %-) or a bad escape");
    names.push_back(*bytes);
    if (slash == std::string_view::npos) return names;
    rest.remove_prefix(slash + 1);
  }
}

std::int64_t RecordLine::Number(std::size_t index) const {
  const std::string& text = Field(index);
  std::int64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) {
    Fail("\"" + PrintableBytes(text) + "\" is not a number");
  }
  return value;
}

std::uint64_t RecordLine::Hex(std::size_t index, int digits) const {
  const std::string& text = Field(index);
  std::uint64_t value = 0;
  bool hex = text.size() == static_cast<std::size_t>(digits) && digits <= 16;
  for (std::size_t i = 0; hex && i < text.size(); ++i) {
    const int digit = CapitalHexDigit(text[i]);
    hex = digit >= 0;
    value = value * 16 + static_cast<std::uint64_t>(digit);
  }
  if (!hex) Fail("\"" + PrintableBytes(text) + "\" is not " + std::to_string(digits) + " capital hex digits");
  return value;
}

std::optional<RecordHeading> RecordHeadingOf(std::string_view text) {
  const std::string_view line = text.substr(0, text.find('\n'));
  const std::size_t first = line.find(' ');
  const std::size_t second = first == std::string_view::npos ? first : line.find(' ', first + 1);
  if (second == std::string_view::npos || line.substr(0, first) != kHeadingWord) return std::nullopt;
  const std::string_view kind = line.substr(first + 1, second - first - 1);
  const std::string_view version = line.substr(second + 1);
  int number = 0;
  const auto [end, error] = std::from_chars(version.data(), version.data() + version.size(), number);
  if (!IsWord(kind) || error != std::errc() || end != version.data() + version.size() || number < 1 ||
      version.front() == '0') {
    return std::nullopt;
  }
  return RecordHeading{std::string(kind), number};
}

Record ParseRecord(std::string_view text, std::string_view origin, std::string_view kind, int min_version,
                   int max_version) {
  if (text.empty()) Fail(origin, 1, "the record is empty");
  Record record;
  const std::optional<RecordHeading> heading = RecordHeadingOf(text);
  const std::string wanted = std::string(kHeadingWord) + " " + std::string(kind);
  if (!heading || heading->kind != kind) {
    Fail(origin, 1, "the first line is \"" + PrintableBytes(text.substr(0, std::min<std::size_t>(text.find('\n'), 80))) +
                "\", not \"" + wanted + " <version>\"");
  }
  if (heading->version < min_version || heading->version > max_version) {
    Fail(origin, 1, wanted + " version " + std::to_string(heading->version) + " is not one this program reads (" +
                std::to_string(min_version) + (max_version > min_version ? " to " + std::to_string(max_version) : "") +
                ")");
  }
  record.heading = *heading;
  std::string_view rest = text;
  int number = 0;
  while (true) {
    ++number;
    const std::size_t line_end = rest.find('\n');
    if (line_end == std::string_view::npos) {
      // A last line without its line end, or nothing after the last line:
      // either way the end line never came.
      Fail(origin, rest.empty() ? number - 1 : number, "the record is cut short: it ends without its end line");
    }
    const std::string_view line = rest.substr(0, line_end);
    const std::size_t line_start = static_cast<std::size_t>(rest.data() - text.data());
    rest.remove_prefix(line_end + 1);
    if (number == 1) continue;  // the heading, read above
    std::vector<std::string> fields;
    for (std::string_view fields_left = line;;) {
      const std::size_t blank = fields_left.find(' ');
      const std::string_view field = fields_left.substr(0, blank);
      if (const std::optional<std::string> problem = FieldProblem(field)) Fail(origin, number, *problem);
      fields.emplace_back(field);
      if (blank == std::string_view::npos) break;
      fields_left.remove_prefix(blank + 1);
    }
    if (!IsWord(fields.front())) {
      Fail(origin, number, "\"" + PrintableBytes(fields.front()) + "\" is not a word (letters, digits and -)");
    }
    if (fields.front() != kEndWord) {
      record.lines.emplace_back(std::string(origin), number, std::move(fields));
      continue;
    }
    const std::string expected = EndLine(text.substr(0, line_start));
    if (std::string(line) + "\n" != expected) {
      Fail(origin, number, "the end line \"" + PrintableBytes(line) + "\" is not \"" +
                       expected.substr(0, expected.size() - 1) +
                       "\", that of the lines above: the record was changed or damaged");
    }
    if (!rest.empty()) Fail(origin, number + 1, "a line follows the end line");
    return record;
  }
}

}  // namespace larkspur
