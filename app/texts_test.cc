#include "app/texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "port/language.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;

// The string literals of a C++ source that hold more than ASCII, with
// adjacent literals joined as the compiler joins them.
std::vector<std::string> NonAsciiLiterals(const std::string& source) {
  std::vector<std::string> literals;
  std::string current;
  bool open = false;  // a literal ended and only blanks followed so far
  for (std::size_t i = 0; i < source.size(); ++i) {
    const char c = source[i];
    if (c == '/' && i + 1 < source.size() && source[i + 1] == '/') {  // a comment up to the line end
      i = source.find('\n', i);
      if (i == std::string::npos) break;
      continue;
    }
    if (c == '\'') {  // a character literal
      i = source.find('\'', i + (source[i + 1] == '\\' ? 3 : 2));
      continue;
    }
    if (c == '"') {
      std::string literal;
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        if (source[i] == '\\') {
          const char next = source[++i];
          literal += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
        } else {
          literal += source[i];
        }
      }
      current += literal;
      open = true;
      continue;
    }
    if (open && !std::isspace(static_cast<unsigned char>(c))) {
      if (std::any_of(current.begin(), current.end(), [](char b) { return static_cast<unsigned char>(b) >= 0x80; })) {
        literals.push_back(current);
      }
      current.clear();
      open = false;
    }
  }
  return literals;
}

// Every text the program can show in Chinese has an English form: the
// sources are walked, so a new text without one fails here.
TEST(TextsTest, EveryChineseTextOfTheProgramHasAnEnglishForm) {
  std::map<std::string_view, std::string_view> catalog;
  for (const CatalogEntry& entry : Catalog()) {
    EXPECT_TRUE(catalog.emplace(entry.chinese, entry.english).second) << "twice: " << entry.chinese;
    EXPECT_FALSE(entry.english.empty()) << entry.chinese;
    for (const char c : entry.english) {
      // English forms hold no CJK text (bytes of 3-byte UTF-8 from E3 on);
      // quotation marks and the like are fine.
      EXPECT_FALSE(static_cast<unsigned char>(c) >= 0xE3 && static_cast<unsigned char>(c) <= 0xE9) << entry.english;
    }
    for (char n = '1'; n <= '9'; ++n) {
      const std::string placeholder = {'%', n};
      EXPECT_EQ(entry.chinese.find(placeholder) != std::string_view::npos,
                entry.english.find(placeholder) != std::string_view::npos)
          << placeholder << " in " << entry.chinese;
    }
  }
  std::size_t walked = 0;
  for (const char* folder : {"app", "app/qt", "app/win32", "tools/larkspur-cli", "format", "pipeline", "workspace"}) {
    const fs::path root = fs::path(LARKSPUR_SOURCE_DIR) / folder;
    if (!fs::exists(root)) continue;
    for (const auto& entry : fs::directory_iterator(root)) {
      const std::string name = entry.path().filename().string();
      const bool source = name.ends_with(".cc") || name.ends_with(".h");
      if (!source || name.ends_with("_test.cc") ||
          name.find("fixture") != std::string::npos || name == "texts.cc") {
        continue;
      }
      std::ifstream in(entry.path(), std::ios::binary);
      std::stringstream bytes;
      bytes << in.rdbuf();
      for (const std::string& literal : NonAsciiLiterals(bytes.str())) {
        ++walked;
        EXPECT_TRUE(catalog.count(literal)) << entry.path().string() << ": no English form for \"" << literal << "\"";
      }
    }
  }
  EXPECT_GT(walked, 60u) << "the walk found too few texts to be looking in the right places";
}

TEST(TextsTest, SayGivesTheLanguageInForceAndPutsValuesInOnce) {
  SetLanguage(Language::kChinese);
  EXPECT_EQ(Say("文件: %1", {"/x/a.uda.bin"}), "文件: /x/a.uda.bin");
  EXPECT_EQ(Say("打开(&O)"), "打开(&O)");
  SetLanguage(Language::kEnglish);
  EXPECT_EQ(Say("文件: %1", {"/x/%2.bin"}), "File: /x/%2.bin") << "a value is never read for placeholders";
  EXPECT_EQ(Say("打开(&O)"), "&Open");
  EXPECT_EQ(Say("not in the catalog %1", {"v"}), "not in the catalog v");
  SetLanguage(Language::kChinese);
}

TEST(TextsTest, TheSystemsLanguageDecides) {
  const struct {
    std::map<std::string, std::string> environment;
    Language expected;
  } cases[] = {
      {{}, Language::kChinese},
      {{{"LANG", "C"}}, Language::kChinese},
      {{{"LANG", "C.UTF-8"}}, Language::kChinese},
      {{{"LANG", "POSIX"}}, Language::kChinese},
      {{{"LANG", "zh_CN.UTF-8"}}, Language::kChinese},
      {{{"LANG", "zh_TW.Big5"}}, Language::kChinese},
      {{{"LANG", "en_US.UTF-8"}}, Language::kEnglish},
      {{{"LANG", "de_DE.UTF-8"}}, Language::kEnglish},
      {{{"LANG", "zh_CN.UTF-8"}, {"LC_MESSAGES", "en_GB.UTF-8"}}, Language::kEnglish},
      {{{"LANG", "en_US.UTF-8"}, {"LC_ALL", "zh_CN.UTF-8"}}, Language::kChinese},
      {{{"LC_ALL", "en_US.UTF-8"}, {"LANGUAGE", "zh_CN:en"}}, Language::kChinese},
      {{{"LANGUAGE", "fr:zh"}, {"LANG", "zh_CN.UTF-8"}}, Language::kEnglish},
      {{{"LANGUAGE", ""}, {"LANG", "en_US.UTF-8"}}, Language::kEnglish},
  };
  for (const auto& c : cases) {
    const std::string name = port::LanguageNameFromEnvironment([&](const char* variable) -> const char* {
      const auto found = c.environment.find(variable);
      return found == c.environment.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(LanguageForName(name), c.expected) << name;
  }
  EXPECT_EQ(ParseLanguageOption("en"), Language::kEnglish);
  EXPECT_EQ(ParseLanguageOption("zh"), Language::kChinese);
  EXPECT_FALSE(ParseLanguageOption("fr"));
}

}  // namespace
}  // namespace larkspur
