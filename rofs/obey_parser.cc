#include "rofs/obey_parser.h"

#include <utility>

#include "base/quoted_words.h"
#include "rofs/rofs_errors.h"
#include "rofs/symbian_time.h"

namespace larkspur::rofs {
namespace {

std::string Lower(std::string_view word) {
  std::string lower(word);
  for (char& c : lower) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lower;
}

bool ParseUnsigned(std::string_view text, std::uint64_t max, std::uint64_t& value) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty()) return false;
  value = 0;
  for (char c : text) {
    int digit;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && c >= 'a' && c <= 'f') {
      digit = c - 'a' + 10;
    } else if (base == 16 && c >= 'A' && c <= 'F') {
      digit = c - 'A' + 10;
    } else {
      return false;
    }
    if (value > (max - digit) / base) return false;
    value = value * base + digit;
  }
  return true;
}

class ObeyParser {
 public:
  ObeyParser(std::string_view origin, NameDecoder decode) : decode_(decode) {
    result_.origin = origin;
  }

  ObeyFile Run(std::string_view text) {
    // A byte-order mark is not part of the first keyword.
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    int line = 0;
    while (!text.empty()) {
      ++line;
      const std::size_t end = text.find('\n');
      std::string_view content = text.substr(0, end);
      text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
      if (!content.empty() && content.back() == '\r') content.remove_suffix(1);
      ParseLine(content, line);
    }
    if (result_.rofs_name_line == 0) Fail(0, "no rofsname= line names the image file");
    if (result_.rofs_size_line == 0) Fail(0, "no rofssize= line gives the image size");
    if (result_.files.empty()) {
      Fail(0, "no data=, file= or hide= line: there is nothing to put into the image");
    }
    return std::move(result_);
  }

 private:
  [[noreturn]] void Fail(int line, const std::string& reason) const {
    throw ObeyError(result_.origin, line, reason);
  }

  // An obey line splits at blanks, tabs and '=' ("rofsname=x.img").
  std::vector<std::string> Words(std::string_view content, int line) const {
    QuotedWords split = SplitQuotedWords(content, " \t=");
    if (split.unclosed_quote) Fail(line, "a double quote is not closed");
    return std::move(split.words);
  }

  void ExpectWords(const std::vector<std::string>& words, std::size_t count, int line,
                   const char* form) const {
    if (words.size() < count) Fail(line, std::string("missing word: the form is ") + form);
    if (words.size() > count) {
      Fail(line, "unexpected word \"" + PrintableBytes(words[count]) + "\": the form is " + form);
    }
  }

  void Once(int& seen_line, int line, const std::string& keyword) const {
    if (seen_line != 0) {
      Fail(line, keyword + "= is given again (first on line " + std::to_string(seen_line) + ")");
    }
    seen_line = line;
  }

  void ParseLine(std::string_view content, int line) {
    const std::vector<std::string> words = Words(content, line);
    if (words.empty()) return;
    const std::string keyword = Lower(words[0]);
    if (keyword == "rem") return;
    if (keyword == "rofsname") {
      ExpectWords(words, 2, line, "rofsname=<image file>");
      Once(result_.rofs_name_line, line, keyword);
      if (words[1].empty()) Fail(line, "the image file name is empty");
      result_.rofs_name = words[1];
    } else if (keyword == "rofssize") {
      ExpectWords(words, 2, line, "rofssize=<bytes>");
      Once(result_.rofs_size_line, line, keyword);
      std::uint64_t size;
      if (!ParseUnsigned(words[1], 0xFFFFFFFF, size) || size == 0) {
        Fail(line, "rofssize \"" + PrintableBytes(words[1]) +
                       "\" is not a size from 1 to 0xFFFFFFFF (decimal or 0x hex)");
      }
      result_.rofs_size = static_cast<std::uint32_t>(size);
    } else if (keyword == "data" || keyword == "file") {
      ParseFileLine(words, line);
    } else if (keyword == "hide") {
      ExpectWords(words, 2, line, "hide=<image path>");
      ObeyFileLine file;
      file.hidden = true;
      file.image_path = ImagePath(words[1], line);
      file.line = line;
      result_.files.push_back(std::move(file));
    } else if (keyword == "time") {
      ExpectWords(words, 2, line, "time=dd/mm/yyyy_hh:mm:ss");
      Once(time_line_, line, keyword);
      result_.time = ParseObeyTime(words[1]);
      if (!result_.time) {
        Fail(line, "time \"" + PrintableBytes(words[1]) +
                       "\" is not dd/mm/yyyy[_hh:mm:ss[.micro]] with a year from 1970 to 2060");
      }
    } else if (keyword == "version") {
      ExpectWords(words, 2, line, "version=major[.minor][(build)]");
      Once(version_line_, line, keyword);
      ParseVersion(words[1], line);
    } else {
      Fail(line, "unknown keyword \"" + PrintableBytes(words[0]) + "\"");
    }
  }

  void ParseFileLine(const std::vector<std::string>& words, int line) {
    static constexpr const char* kForm =
        "data=<host path> <image path> [attrib=<letters>] [exattrib=<letters>]";
    if (words.size() < 3) ExpectWords(words, 3, line, kForm);
    ObeyFileLine file;
    file.line = line;
    file.source = words[1];
    if (file.source.empty()) Fail(line, "the host path is empty");
    file.image_path = ImagePath(words[2], line);
    bool seen_attrib = false;
    bool seen_exattrib = false;
    for (std::size_t at = 3; at < words.size(); at += 2) {
      const std::string option = Lower(words[at]);
      bool* seen = option == "attrib" ? &seen_attrib : option == "exattrib" ? &seen_exattrib : nullptr;
      if (seen == nullptr) {
        Fail(line, "unexpected word \"" + PrintableBytes(words[at]) + "\": the form is " + kForm);
      }
      if (*seen) Fail(line, option + "= is given twice");
      *seen = true;
      if (at + 1 >= words.size()) ExpectWords(words, at + 2, line, kForm);
      if (seen == &seen_attrib) {
        file.attributes = ParseAttributes(words[at + 1], line);
      } else {
        file.extra_attributes = ParseExtraAttributes(words[at + 1], line);
      }
    }
    result_.files.push_back(std::move(file));
  }

  // Starts from "no feature" (all bits set); U clears the unique bit, u
  // sets it again.
  std::uint8_t ParseExtraAttributes(std::string_view letters, int line) const {
    std::uint8_t extra = kDefaultExtraAttributes;
    if (letters.empty()) Fail(line, "exattrib= gives no letter");
    for (char c : letters) {
      if (c == 'U') {
        extra &= static_cast<std::uint8_t>(~kExtraAttUnique);
      } else if (c == 'u') {
        extra |= kExtraAttUnique;
      } else {
        Fail(line, "extra attribute letter '" + PrintableBytes(std::string_view(&c, 1)) +
                       "' is not one of U u");
      }
    }
    return extra;
  }

  // Builds the byte from nothing, as the Symbian builder does: attrib=HS is
  // hidden and system but not read-only.
  std::uint8_t ParseAttributes(std::string_view letters, int line) const {
    std::uint8_t attributes = 0;
    for (char c : letters) {
      switch (c) {
        case 'R':
        case 'w':
          attributes |= kAttReadOnly;
          break;
        case 'r':
        case 'W':
          attributes &= ~kAttReadOnly;
          break;
        case 'H':
          attributes |= kAttHidden;
          break;
        case 'h':
          attributes &= ~kAttHidden;
          break;
        case 'S':
          attributes |= kAttSystem;
          break;
        case 's':
          attributes &= ~kAttSystem;
          break;
        default:
          Fail(line, "attribute letter '" + PrintableBytes(std::string_view(&c, 1)) +
                         "' is not one of R r W w H h S s");
      }
    }
    return attributes;
  }

  std::vector<std::u16string> ImagePath(std::string_view bytes, int line) const {
    const std::optional<std::u16string> decoded = decode_(bytes);
    if (!decoded) {
      Fail(line, "image path \"" + PrintableBytes(bytes) + "\" is not valid UTF-8");
    }
    std::u16string_view rest = *decoded;
    if (!rest.empty() && (rest.front() == u'\\' || rest.front() == u'/')) rest.remove_prefix(1);
    std::vector<std::u16string> components;
    while (true) {
      const std::size_t cut = rest.find_first_of(u"\\/");
      const std::u16string_view component = rest.substr(0, cut);
      if (component.empty()) {
        Fail(line, "image path \"" + PrintableBytes(bytes) + "\" has an empty folder or file name");
      }
      components.emplace_back(component);
      if (cut == std::u16string_view::npos) break;
      rest.remove_prefix(cut + 1);
    }
    return components;
  }

  void ParseVersion(std::string_view text, int line) {
    const auto bad = [&]() {
      Fail(line, "version \"" + PrintableBytes(text) +
                     "\" is not major[.minor][(build)] with major and minor up to 127 and build "
                     "up to 32767");
    };
    const std::size_t paren = text.find('(');
    std::string_view numbers = text.substr(0, paren);
    std::uint64_t build = 0;
    if (paren != std::string_view::npos) {
      if (text.back() != ')') bad();
      const std::string_view inside = text.substr(paren + 1, text.size() - paren - 2);
      if (inside.substr(0, 2) == "0x" || !ParseUnsigned(inside, 32767, build)) bad();
    }
    const std::size_t dot = numbers.find('.');
    std::uint64_t major = 0;
    std::uint64_t minor = 0;
    const std::string_view major_text = numbers.substr(0, dot);
    if (major_text.substr(0, 2) == "0x" || !ParseUnsigned(major_text, 127, major)) bad();
    if (dot != std::string_view::npos) {
      const std::string_view minor_text = numbers.substr(dot + 1);
      if (minor_text.substr(0, 2) == "0x" || !ParseUnsigned(minor_text, 127, minor)) bad();
    }
    result_.version.major = static_cast<std::int8_t>(major);
    result_.version.minor = static_cast<std::int8_t>(minor);
    result_.version.build = static_cast<std::int16_t>(build);
  }

  NameDecoder decode_;
  ObeyFile result_;
  int time_line_ = 0;
  int version_line_ = 0;
};

}  // namespace

ObeyFile ParseObey(std::string_view text, std::string_view origin, NameDecoder decode) {
  return ObeyParser(origin, decode ? decode : Utf8ToUtf16).Run(text);
}

}  // namespace larkspur::rofs
