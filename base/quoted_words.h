// The one quote-aware word splitter: command lines of the external tools
// (port::SplitCommandLine) and the lines of an obey file (which also split
// at '='). Pure; callable from any thread.
#ifndef LARKSPUR_BASE_QUOTED_WORDS_H_
#define LARKSPUR_BASE_QUOTED_WORDS_H_

#include <string>
#include <string_view>
#include <vector>

namespace larkspur {

struct QuotedWords {
  std::vector<std::string> words;
  bool unclosed_quote = false;  // the text ended inside double quotes
};

// Splits `text` into words. Each character of `separators` outside double
// quotes ends a word; runs of them make no empty words. A double quote
// toggles quoting and is removed, so `"a b"c` is one word `a bc` and `""`
// an empty one. A text that ends inside quotes keeps its last word and sets
// `unclosed_quote`; the caller decides whether that is an error.
inline constexpr std::string_view kBlanks = " \t";
QuotedWords SplitQuotedWords(std::string_view text, std::string_view separators = kBlanks);

}  // namespace larkspur

#endif  // LARKSPUR_BASE_QUOTED_WORDS_H_
