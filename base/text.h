// A text the program shows, as a value: a key of the text catalog (its
// Chinese form, %1..%9 standing for the values) and its values. Libraries
// below the user interfaces build texts; only the user interfaces say them
// in the language in force (app/texts.h). A value is a literal (a path, a
// number, a name: shown as it is, control characters escaped) or a text of
// its own, said in the same language (a model's name, a reason).
#ifndef LARKSPUR_BASE_TEXT_H_
#define LARKSPUR_BASE_TEXT_H_

#include <initializer_list>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace larkspur {

struct Text {
  std::string key;
  std::vector<Text> values;
  bool literal = false;  // shown as it is, never looked up

  Text() = default;
  // The program's own text `key` (looked up in the catalog). A key the
  // catalog does not hold (the separator line) is shown as it is.
  Text(const char* key) : key(key) {}  // NOLINT: implicit, for values given as "..."
  // A literal: a std::string given as a value (a path, a number) is shown
  // as it is.
  Text(std::string value) : key(std::move(value)), literal(true) {}  // NOLINT: implicit on purpose
  Text(std::string_view key, std::initializer_list<Text> values) : key(key), values(values) {}
  Text(std::string_view key, std::vector<Text> values) : key(key), values(std::move(values)) {}

  bool operator==(const Text&) const = default;
};

// "%1, %2, %3": the texts joined by `separator`, each said in the language
// in force (a list of model names, of reasons). At most 9 can be joined;
// more are joined in groups.
inline Text JoinedTexts(std::vector<Text> parts, std::string_view separator = ", ") {
  while (parts.size() > 9) {
    std::vector<Text> rest(std::make_move_iterator(parts.begin() + 8), std::make_move_iterator(parts.end()));
    parts.resize(8);
    parts.push_back(JoinedTexts(std::move(rest), separator));
  }
  Text joined("", std::move(parts));
  for (std::size_t i = 0; i < joined.values.size(); ++i) {
    joined.key += (i == 0 ? "" : std::string(separator)) + "%" + std::to_string(i + 1);
  }
  return joined;
}

}  // namespace larkspur

#endif  // LARKSPUR_BASE_TEXT_H_
