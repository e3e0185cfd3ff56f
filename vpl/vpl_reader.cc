#include "vpl/vpl_reader.h"

#include <cstddef>
#include <optional>

#include "base/hex.h"
#include "base/utf8.h"
#include "vpl/vpl_errors.h"

namespace larkspur::vpl {
namespace {

constexpr std::size_t kNotFound = static_cast<std::size_t>(-1);

// A reference longer than this ("&#x0010FFFF;" is 12) is no reference.
constexpr std::size_t kLongestReference = 16;

// Real lists nest four or five deep; the bound keeps a hostile file from
// making the stack of open elements as large as the file.
constexpr std::size_t kDeepestNesting = 256;

bool IsBlank(std::uint32_t unit) { return unit == ' ' || unit == '\t' || unit == '\r' || unit == '\n'; }

// The text as code units, each with its place in the file's bytes. Markup
// is ASCII in every encoding read here, so the scan compares code units
// with ASCII characters and decodes only the texts it keeps.
class CodeUnits {
 public:
  CodeUnits(std::string_view bytes, VplEncoding encoding, std::size_t start)
      : bytes_(bytes),
        encoding_(encoding),
        start_(start),
        width_(CodeUnitSize(encoding)),
        count_((bytes.size() - start) / width_) {}

  std::size_t size() const { return count_; }

  std::uint32_t operator[](std::size_t index) const {
    const auto* at = reinterpret_cast<const unsigned char*>(bytes_.data()) + start_ + index * width_;
    switch (encoding_) {
      case VplEncoding::kUtf16Le:
        return std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8;
      case VplEncoding::kUtf16Be:
        return std::uint32_t{at[0]} << 8 | std::uint32_t{at[1]};
      default:
        return at[0];
    }
  }

  // Where code unit `index` begins in the file (the end of the file for
  // index size()).
  std::uint64_t Offset(std::size_t index) const { return start_ + std::uint64_t{index} * width_; }

  bool Is(std::size_t index, char ascii) const {
    return index < count_ && (*this)[index] == static_cast<unsigned char>(ascii);
  }

  bool StartsWith(std::size_t index, std::string_view ascii) const {
    if (index > count_ || ascii.size() > count_ - index) return false;
    for (std::size_t k = 0; k < ascii.size(); ++k) {
      if ((*this)[index + k] != static_cast<unsigned char>(ascii[k])) return false;
    }
    return true;
  }

  // The first place at or after `from` where `ascii` begins, or kNotFound.
  std::size_t Find(std::size_t from, std::string_view ascii) const {
    for (std::size_t index = from; index < count_; ++index) {
      if (StartsWith(index, ascii)) return index;
    }
    return kNotFound;
  }

  // Appends units [from, to) as UTF-8: UTF-8 bytes as they are, UTF-16
  // decoded, with U+FFFD for a surrogate without its partner.
  void AppendText(std::size_t from, std::size_t to, std::string& out) const {
    if (width_ == 1) {
      out.append(bytes_.substr(start_ + from, to - from));
      return;
    }
    for (std::size_t index = from; index < to; ++index) {
      const std::uint32_t unit = (*this)[index];
      if (unit >= 0xD800 && unit <= 0xDBFF && index + 1 < to && (*this)[index + 1] >= 0xDC00 &&
          (*this)[index + 1] <= 0xDFFF) {
        AppendUtf8(0x10000 + ((unit - 0xD800) << 10) + ((*this)[index + 1] - 0xDC00), out);
        ++index;
      } else if (unit >= 0xD800 && unit <= 0xDFFF) {
        AppendUtf8(0xFFFD, out);
      } else {
        AppendUtf8(unit, out);
      }
    }
  }

  std::string Text(std::size_t from, std::size_t to) const {
    std::string text;
    AppendText(from, to, text);
    return text;
  }

 private:
  std::string_view bytes_;
  VplEncoding encoding_;
  std::size_t start_;
  std::size_t width_;
  std::size_t count_;
};

// One pass over the code units with a stack of the open elements; the
// <File> being read is kept aside until its end tag.
class Parser {
 public:
  Parser(const CodeUnits& units, VplEncoding encoding, std::string_view vpl_name)
      : units_(units), encoding_(encoding), vpl_name_(vpl_name) {}

  std::vector<VplEntry> Run() {
    RefuseNul();
    std::size_t at = 0;
    while (at < units_.size()) {
      // Character data up to the next markup or reference.
      std::size_t end = at;
      while (end < units_.size() && !units_.Is(end, '<') && !units_.Is(end, '&')) ++end;
      if (InName()) units_.AppendText(at, end, name_text_);
      at = end;
      if (at == units_.size()) break;
      if (units_.Is(at, '&')) {
        at = InName() ? ReadReference(at) : at + 1;
      } else {
        at = ReadMarkup(at);
      }
    }
    if (!open_.empty()) {
      const Element& innermost = open_.back();
      Fail(innermost.at, "<" + innermost.shown + "> without </" + innermost.shown + ">");
    }
    return std::move(entries_);
  }

 private:
  enum class Role { kOther, kFile, kName, kCrc };

  struct Element {
    std::string name;   // as UTF-8
    std::string shown;  // for messages
    std::size_t at;     // the unit of its '<'
    std::size_t content;  // the unit after its start tag
    Role role;
  };

  [[noreturn]] void Fail(std::size_t unit, const std::string& reason) const {
    throw VplFormatError(vpl_name_, units_.Offset(unit), reason);
  }

  std::string At(std::size_t unit) const { return "at byte " + HexNumber(units_.Offset(unit)); }

  bool InName() const { return !open_.empty() && open_.back().role == Role::kName; }

  // No NUL belongs in an XML text; read as UTF-8, UTF-16 without its byte
  // order mark is full of them.
  void RefuseNul() const {
    for (std::size_t at = 0; at < units_.size(); ++at) {
      if (units_[at] != 0) continue;
      Fail(at, encoding_ == VplEncoding::kUtf16Le || encoding_ == VplEncoding::kUtf16Be
                   ? "a NUL character"
                   : "a NUL byte (UTF-16 text is read only after its byte order mark)");
    }
  }

  // An element or end tag name begins at `from`: the units up to a blank,
  // '/', '>' or '<'.
  std::size_t NameEnd(std::size_t from) const {
    std::size_t end = from;
    while (end < units_.size() && !IsBlank(units_[end]) && !units_.Is(end, '/') && !units_.Is(end, '>') &&
           !units_.Is(end, '<')) {
      ++end;
    }
    return end;
  }

  // `at` is a '<'; returns the unit after the markup.
  std::size_t ReadMarkup(std::size_t at) {
    if (units_.StartsWith(at, "<!--")) return After(at, 4, "-->", "<!-- without -->");
    if (units_.StartsWith(at, "<![CDATA[")) {
      const std::size_t end = After(at, 9, "]]>", "<![CDATA[ without ]]>");
      if (InName()) units_.AppendText(at + 9, end - 3, name_text_);
      return end;
    }
    if (units_.StartsWith(at, "<?")) return After(at, 2, "?>", "<? without ?>");
    if (units_.StartsWith(at, "<!")) return AfterDeclaration(at);
    if (units_.StartsWith(at, "</")) return ReadEndTag(at);
    return ReadStartTag(at);
  }

  // The unit after `close`, looked for from `at + skip`.
  std::size_t After(std::size_t at, std::size_t skip, std::string_view close, const char* unclosed) const {
    const std::size_t end = units_.Find(at + skip, close);
    if (end == kNotFound) Fail(at, unclosed);
    return end + close.size();
  }

  // A <!DOCTYPE ...> or other declaration: up to its '>', past quoted
  // strings and an internal subset in brackets.
  std::size_t AfterDeclaration(std::size_t at) const {
    std::uint32_t quote = 0;
    std::size_t depth = 0;
    for (std::size_t end = at + 2; end < units_.size(); ++end) {
      const std::uint32_t unit = units_[end];
      if (quote != 0) {
        if (unit == quote) quote = 0;
      } else if (unit == '"' || unit == '\'') {
        quote = unit;
      } else if (unit == '[') {
        ++depth;
      } else if (unit == ']' && depth > 0) {
        --depth;
      } else if (unit == '>' && depth == 0) {
        return end + 1;
      }
    }
    Fail(at, "<! without its closing >");
  }

  std::size_t ReadEndTag(std::size_t at) {
    const std::size_t name_end = NameEnd(at + 2);
    if (name_end == at + 2) Fail(at, "</ not followed by a name");
    const std::string name = units_.Text(at + 2, name_end);
    std::size_t end = name_end;
    while (end < units_.size() && IsBlank(units_[end])) ++end;
    if (!units_.Is(end, '>')) Fail(at, "</" + PrintableBytes(name) + " without its closing >");
    if (open_.empty()) Fail(at, "</" + PrintableBytes(name) + "> with no element open");
    if (open_.back().name != name) {
      Fail(at, "</" + PrintableBytes(name) + "> where <" + open_.back().shown + "> " + At(open_.back().at) +
                   " is open");
    }
    const Element element = open_.back();
    open_.pop_back();
    Close(element, at);
    return end + 1;
  }

  std::size_t ReadStartTag(std::size_t at) {
    const std::size_t name_end = NameEnd(at + 1);
    if (name_end == at + 1) Fail(at, "'<' not followed by a name");
    const std::string name = units_.Text(at + 1, name_end);
    const std::string shown = PrintableBytes(name);
    // Attributes are passed over; a quoted value may hold '>' and '/'.
    for (std::size_t end = name_end; end < units_.size(); ++end) {
      const std::uint32_t unit = units_[end];
      if (unit == '"' || unit == '\'') {
        while (++end < units_.size() && units_[end] != unit) {
        }
        if (end == units_.size()) break;
      } else if (unit == '<') {
        Fail(end, "'<' inside the tag <" + shown + " " + At(at));
      } else if (unit == '>' || (unit == '/' && units_.Is(end + 1, '>'))) {
        const bool empty = unit == '/';
        const std::size_t content = end + (empty ? 2 : 1);
        const Element element{name, shown, at, content, Open(name, shown, at, content)};
        if (empty) {
          Close(element, at);
        } else {
          if (open_.size() == kDeepestNesting) {
            Fail(at, "<" + shown + "> nested deeper than " + std::to_string(kDeepestNesting) + " elements");
          }
          open_.push_back(element);
        }
        return content;
      }
    }
    Fail(at, "<" + shown + " without its closing >");
  }

  // What an element opening at `at` is to the <File> being read, checked
  // against what that <File> holds so far.
  Role Open(const std::string& name, const std::string& shown, std::size_t at, std::size_t content) {
    if (InName()) Fail(at, "<" + shown + "> inside the <Name> " + At(open_.back().at));
    if (name == "File") {
      if (file_) Fail(at, "<File> inside the <File> " + At(file_at_));
      file_.emplace();
      file_->file_offset = units_.Offset(at);
      file_at_ = at;
      has_name_ = false;
      return Role::kFile;
    }
    // Only the <File>'s own children count; a <Name> deeper down names
    // something else.
    if (open_.empty() || open_.back().role != Role::kFile) return Role::kOther;
    if (name == "Name") {
      if (has_name_) Fail(at, "a second <Name> in the <File> " + At(file_at_));
      has_name_ = true;
      name_text_.clear();
      return Role::kName;
    }
    if (name == "Crc") {
      if (file_->has_crc) Fail(at, "a second <Crc> in the <File> " + At(file_at_));
      file_->has_crc = true;
      file_->crc_offset = units_.Offset(content);
      return Role::kCrc;
    }
    return Role::kOther;
  }

  // The element ends with the markup at `end` (its end tag, or its own
  // start tag when empty).
  void Close(const Element& element, std::size_t end) {
    switch (element.role) {
      case Role::kName:
        file_->name = Trimmed(name_text_);
        break;
      case Role::kCrc:
        if (end < element.content) {  // <Crc/>: nothing between, at the tag
          file_->crc_offset = units_.Offset(element.at);
          file_->crc_size = 0;
        } else {
          file_->crc_text = units_.Text(element.content, end);
          file_->crc_size = units_.Offset(end) - units_.Offset(element.content);
        }
        break;
      case Role::kFile:
        if (!has_name_) Fail(element.at, "<File> without <Name>");
        entries_.push_back(std::move(*file_));
        file_.reset();
        break;
      case Role::kOther:
        break;
    }
  }

  // `at` is a '&' inside a <Name>; appends what the reference stands for
  // and returns the unit after its ';'.
  std::size_t ReadReference(std::size_t at) {
    std::size_t end = at + 1;
    while (end < units_.size() && end - at <= kLongestReference && !units_.Is(end, ';')) ++end;
    if (!units_.Is(end, ';')) Fail(at, "'&' in <Name> without its ';'");
    std::string reference;
    for (std::size_t k = at + 1; k < end; ++k) {
      reference += units_[k] < 0x80 ? static_cast<char>(units_[k]) : '?';
    }
    const std::optional<char32_t> code_point = ReferencedCharacter(reference);
    if (!code_point) {
      Fail(at, "&" + PrintableBytes(reference) +
                   "; in <Name> is neither one of XML's five entities nor a character reference");
    }
    AppendUtf8(*code_point, name_text_);
    return end + 1;
  }

  static std::optional<char32_t> ReferencedCharacter(const std::string& reference) {
    if (reference == "amp") return U'&';
    if (reference == "lt") return U'<';
    if (reference == "gt") return U'>';
    if (reference == "quot") return U'"';
    if (reference == "apos") return U'\'';
    if (reference.size() < 2 || reference[0] != '#') return std::nullopt;
    const bool hex = reference[1] == 'x';
    const std::string digits = reference.substr(hex ? 2 : 1);
    if (digits.empty()) return std::nullopt;
    std::uint32_t value = 0;
    for (char c : digits) {
      int digit;
      if (c >= '0' && c <= '9') {
        digit = c - '0';
      } else if (hex && c >= 'a' && c <= 'f') {
        digit = c - 'a' + 10;
      } else if (hex && c >= 'A' && c <= 'F') {
        digit = c - 'A' + 10;
      } else {
        return std::nullopt;
      }
      value = value * (hex ? 16 : 10) + static_cast<std::uint32_t>(digit);
      if (value > 0x10FFFF) return std::nullopt;
    }
    if (value == 0 || (value >= 0xD800 && value <= 0xDFFF)) return std::nullopt;
    return static_cast<char32_t>(value);
  }

  static std::string Trimmed(const std::string& text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(static_cast<unsigned char>(text[begin]))) ++begin;
    while (end > begin && IsBlank(static_cast<unsigned char>(text[end - 1]))) --end;
    return text.substr(begin, end - begin);
  }

  const CodeUnits& units_;
  const VplEncoding encoding_;
  const std::string_view vpl_name_;
  std::vector<Element> open_;
  std::vector<VplEntry> entries_;
  std::optional<VplEntry> file_;  // the <File> being read
  std::size_t file_at_ = 0;       // the unit of its '<'
  bool has_name_ = false;
  std::string name_text_;  // the <Name> being read
};

char FoldAsciiCase(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

unsigned CodeUnitSize(VplEncoding encoding) {
  return encoding == VplEncoding::kUtf16Le || encoding == VplEncoding::kUtf16Be ? 2 : 1;
}

VplFile ParseVpl(std::string_view bytes, std::string_view vpl_name) {
  VplFile vpl;
  std::size_t start = 0;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    vpl.encoding = VplEncoding::kUtf8WithBom;
    start = 3;
  } else if (bytes.starts_with("\xFF\xFE")) {
    vpl.encoding = VplEncoding::kUtf16Le;
    start = 2;
  } else if (bytes.starts_with("\xFE\xFF")) {
    vpl.encoding = VplEncoding::kUtf16Be;
    start = 2;
  }
  if (CodeUnitSize(vpl.encoding) == 2 && bytes.size() % 2 != 0) {
    throw VplFormatError(vpl_name, bytes.size() - 1, "UTF-16 text that ends in the middle of a code unit");
  }
  const CodeUnits units(bytes, vpl.encoding, start);
  vpl.entries = Parser(units, vpl.encoding, vpl_name).Run();
  return vpl;
}

std::optional<std::uint32_t> CrcOfEntry(const VplEntry& entry) {
  if (entry.crc_text.size() != 8) return std::nullopt;
  std::uint32_t value = 0;
  for (char c : entry.crc_text) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    value = value << 4 | digit;
  }
  return value;
}

bool SameFileName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t k = 0; k < a.size(); ++k) {
    if (FoldAsciiCase(a[k]) != FoldAsciiCase(b[k])) return false;
  }
  return true;
}

std::vector<std::size_t> EntriesNaming(const VplFile& vpl, std::string_view file_name) {
  std::vector<std::size_t> found;
  for (std::size_t index = 0; index < vpl.entries.size(); ++index) {
    if (SameFileName(vpl.entries[index].name, file_name)) found.push_back(index);
  }
  return found;
}

}  // namespace larkspur::vpl
