#include "port/language.h"

#include <cstdlib>

#ifdef _WIN32
#include <windows.h>
#endif

namespace larkspur::port {

std::string LanguageNameFromEnvironment(const EnvironmentReader& environment) {
  for (const char* name : {"LANGUAGE", "LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = environment(name);
    if (value == nullptr || *value == '\0') continue;
    std::string setting(value);
    // LANGUAGE lists languages by preference, separated by colons.
    if (std::string(name) == "LANGUAGE") setting = setting.substr(0, setting.find(':'));
    if (!setting.empty()) return setting;
  }
  return std::string();
}

std::string SystemLanguageName() {
#ifdef _WIN32
  char name[16] = {};
  const LCID locale = MAKELCID(GetUserDefaultUILanguage(), SORT_DEFAULT);
  if (GetLocaleInfoA(locale, LOCALE_SISO639LANGNAME, name, sizeof name) > 0) return name;
  return std::string();
#else
  return LanguageNameFromEnvironment([](const char* variable) { return std::getenv(variable); });
#endif
}

}  // namespace larkspur::port
