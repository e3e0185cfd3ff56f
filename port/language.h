// The language the user's system speaks, as a setting names it ("zh_CN.UTF-8",
// "en_US", "C", "zh"): on POSIX the first of LANGUAGE (its first entry),
// LC_ALL, LC_MESSAGES and LANG that is set and not empty; on Windows the
// user's interface language as an ISO 639 name. Empty when nothing says.
#ifndef LARKSPUR_PORT_LANGUAGE_H_
#define LARKSPUR_PORT_LANGUAGE_H_

#include <functional>
#include <string>

namespace larkspur::port {

// `environment` reads a variable (nullptr when unset); POSIX only.
using EnvironmentReader = std::function<const char*(const char* name)>;

std::string SystemLanguageName();
std::string LanguageNameFromEnvironment(const EnvironmentReader& environment);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_LANGUAGE_H_
