#include "base/quoted_words.h"

#include <utility>

namespace larkspur {

QuotedWords SplitQuotedWords(std::string_view text, std::string_view separators) {
  QuotedWords split;
  std::string word;
  bool in_word = false;
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
      in_word = true;
    } else if (!quoted && separators.find(c) != std::string_view::npos) {
      if (in_word) split.words.push_back(std::move(word));
      word.clear();
      in_word = false;
    } else {
      word += c;
      in_word = true;
    }
  }
  if (in_word) split.words.push_back(std::move(word));
  split.unclosed_quote = quoted;
  return split;
}

}  // namespace larkspur
