// Test helper: a text of the catalog said in English, whatever language
// the test runs in, so expectations can be written once in plain words.
// Not for tests that run on several threads at once (the language is the
// program's).
#ifndef LARKSPUR_TESTING_SAID_IN_ENGLISH_H_
#define LARKSPUR_TESTING_SAID_IN_ENGLISH_H_

#include <string>

#include "app/run_reports.h"
#include "app/texts.h"
#include "base/text.h"

namespace larkspur::testing {

inline std::string SaidInEnglish(const Text& text) {
  const Language before = CurrentLanguage();
  SetLanguage(Language::kEnglish);
  std::string said = SayText(text);
  SetLanguage(before);
  return said;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_SAID_IN_ENGLISH_H_
