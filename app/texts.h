// The texts the program shows, in Chinese (as users of the old program know
// them, and the default) or in English, from one catalog (texts.cc). Code
// writes the Chinese text, with %1..%9 standing for the values, and Say()
// gives it in the language in force. Callable from any thread.
#ifndef LARKSPUR_APP_TEXTS_H_
#define LARKSPUR_APP_TEXTS_H_

#include <functional>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace larkspur {

enum class Language { kChinese, kEnglish };

// The language in force; Chinese until set.
void SetLanguage(Language language);
Language CurrentLanguage();

// The language a system setting names: Chinese for "zh…", for the C or
// POSIX locale and for none; English for any other.
Language LanguageForName(std::string_view name);

// The language of the user's system (port::SystemLanguageName).
Language SystemLanguage();

// "zh" or "en" (--lang), or nothing.
std::optional<Language> ParseLanguageOption(std::string_view option);

// `chinese` in the language in force, each %N replaced by the Nth of
// `values` (values are put in as they are, never read for placeholders,
// with control characters escaped: see ControlCharactersEscaped). A form
// chooses between the words for one and for more by a value:
// "{1|file|files}" is "file" when value 1 is "1", else "files". A text
// missing from the catalog is given as it is.
std::string Say(std::string_view chinese, std::initializer_list<std::string_view> values = {});
std::string Say(std::string_view chinese, std::span<const std::string> values);

struct CatalogEntry {
  std::string_view chinese;
  std::string_view english;
};

// Every text with its English form, for tests.
std::span<const CatalogEntry> Catalog();

}  // namespace larkspur

#endif  // LARKSPUR_APP_TEXTS_H_
