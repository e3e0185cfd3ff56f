#include "app/texts.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "app/run_reports.h"
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

// The texts the program had from the start: users know them as they are,
// trailing blanks included, so their Chinese never changes (and a few of
// them hold Latin words of their own: "Donate", the models' names, the
// menus' keys, the disk-image tools).
constexpr std::string_view kOriginalTexts[] = {
    "打开(&O)",
    "解包(&E)",
    "打包(&R)",
    "打开本程序文件夹(&F)",
    "如果你喜欢本程序，请点击旁边的“Donate”按钮捐赠我们，这将帮助我们创造更好的程序以及支持更多的手机型号. 谢谢！ :)",
    "文件名:    ",
    "类型: ",
    "手机型号(5530, 5800, N97, N86)",
    "手机型号(N96)",
    "手机型号(5320)",
    "手机型号(N78)",
    "正在打开文件...  ",
    "文件: %1",
    "正在定位文件.   ",
    "定位成功-偏移        %1 标识   ",
    "rofs2.img 文件创建成功",
    "正在解包 rofs2.img 文件. ",
    "请稍等...       ",
    "rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ",
    "fat16.img 文件创建成功",
    "fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  ",
    "正在创建 obey 文件.    ",
    "完成!    ",
    "完成!   ",
    "正在重建 rofs 文件.       ",
    "正在重建 fat16 文件. ",
    "完成! 完成! 完成!          ",
    "REB-%1 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
};

// The keys given as `Text("...")` in `source` (adjacent literals joined):
// a key the catalog does not hold is shown as it is in both languages.
std::vector<std::string> TextKeys(const std::string& source) {
  std::vector<std::string> keys;
  for (std::size_t at = source.find("Text(\""); at != std::string::npos; at = source.find("Text(\"", at + 1)) {
    if (at > 0 && (std::isalnum(static_cast<unsigned char>(source[at - 1])) || source[at - 1] == '_')) continue;
    std::string key;
    std::size_t i = at + 5;
    while (i < source.size() && source[i] == '"') {  // literals joined, as the compiler joins them
      for (++i; i < source.size() && source[i] != '"'; ++i) {
        // An escape stands for no letter: kept only when it is a quote or a backslash.
        if (source[i] == '\\' && ++i < source.size() && source[i] != '"' && source[i] != '\\') continue;
        key += source[i];
      }
      ++i;
      while (i < source.size() && std::isspace(static_cast<unsigned char>(source[i]))) ++i;
    }
    keys.push_back(key);
  }
  return keys;
}

// Latin words a Chinese form may hold: the names of files, folders,
// formats and programs, which are the same in every language.
const std::set<std::string, std::less<>> kLatinTokens = {
    "REB-", "REB", "rofs2", "rofs", "rofs2.img", "rofs2r.img", "uda", "fat16", "fat16.img", "obey", "ROFS", "FAT",
    "FAT12", "FAT16", "FAT32", "UDA", "readimage", "rofsbuild", "hex", "UTF-8", "E9", "FF", "B2", "MiB",
    "vpl", "CRC-32",
};

// The Latin words of `text` that are not names: runs of letters (with the
// digits, dots and hyphens that stand inside a name) outside %N.
std::vector<std::string> ForeignLatinWords(std::string_view text) {
  std::vector<std::string> words;
  for (std::size_t i = 0; i < text.size();) {
    const auto letter = [&](std::size_t at) { return at < text.size() && std::isalpha(static_cast<unsigned char>(text[at])); };
    if (!letter(i) || (i > 0 && text[i - 1] == '%')) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && (std::isalnum(static_cast<unsigned char>(text[end])) || text[end] == '.' ||
                                 text[end] == '-' || text[end] == '_')) {
      ++end;
    }
    std::string word(text.substr(i, end - i));
    while (word.ends_with('.')) word.pop_back();
    if (!kLatinTokens.count(word)) words.push_back(word);
    i = end;
  }
  return words;
}

// CJK letters and full-width punctuation (U+3000..U+9FFF, U+FF00..U+FFEF)
// in `text`.
bool HoldsChinese(std::string_view text) {
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    const auto lead = static_cast<unsigned char>(text[i]), next = static_cast<unsigned char>(text[i + 1]);
    if ((lead >= 0xE3 && lead <= 0xE9) || (lead == 0xEF && (next == 0xBC || next == 0xBD || next == 0xBE))) {
      return true;
    }
  }
  return false;
}

// Every text the program can show in Chinese has an English form: the
// sources are walked, so a new text without one fails here. Each form is
// in its own language throughout, the texts the program had from the start
// excepted.
TEST(TextsTest, EveryChineseTextOfTheProgramHasAnEnglishForm) {
  std::map<std::string_view, std::string_view> catalog;
  const std::set<std::string_view> original(std::begin(kOriginalTexts), std::end(kOriginalTexts));
  for (const CatalogEntry& entry : Catalog()) {
    EXPECT_TRUE(catalog.emplace(entry.chinese, entry.english).second) << "twice: " << entry.chinese;
    EXPECT_FALSE(entry.english.empty()) << entry.chinese;
    EXPECT_FALSE(HoldsChinese(entry.english)) << entry.english;
    if (!original.count(entry.chinese)) {
      EXPECT_EQ(ForeignLatinWords(entry.chinese), std::vector<std::string>{}) << entry.chinese;
    }
    for (char n = '1'; n <= '9'; ++n) {
      const std::string placeholder = {'%', n};
      EXPECT_EQ(entry.chinese.find(placeholder) != std::string_view::npos,
                entry.english.find(placeholder) != std::string_view::npos)
          << placeholder << " in " << entry.chinese;
      // A plural choice counts a value the text is given (one the form says,
      // or one before it).
      if (entry.english.find(std::string{'{', n, '|'}) != std::string_view::npos) {
        bool given = false;
        for (char m = n; m <= '9'; ++m) given = given || entry.english.find(std::string{'%', m}) != std::string_view::npos;
        EXPECT_TRUE(given) << entry.english;
      }
    }
  }
  for (const std::string_view text : original) EXPECT_TRUE(catalog.count(text)) << "changed: \"" << text << "\"";
  std::size_t walked = 0;
  for (const char* folder :
       {"app", "app/qt", "app/win32", "tools/larkspur-cli", "format", "pipeline", "workspace", "repack", "fat"}) {
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
      // A key in Latin letters alone would be shown in English in the
      // Chinese log.
      for (const std::string& key : TextKeys(bytes.str())) {
        const bool words = std::any_of(key.begin(), key.end(), [](char c) { return std::isalpha(static_cast<unsigned char>(c)); });
        EXPECT_TRUE(!words || catalog.count(key)) << entry.path().string() << ": not in the catalog: \"" << key << "\"";
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

// English says one thing and more things apart; Chinese needs no plural.
TEST(TextsTest, EnglishCountsAreSaidWithTheRightNumber) {
  const struct {
    std::string_view chinese;
    std::vector<std::string> values;
    std::string english;
  } cases[] = {
      {"保留了 %1 个隐藏项和 %2 个文件属性 (来自解包的映像).", {"1", "3"},
       "Kept 1 hidden entry and 3 file attributes (carried over from the extracted image)."},
      {"保留了 %1 个隐藏项和 %2 个文件属性 (来自解包的映像).", {"0", "1"},
       "Kept 0 hidden entries and 1 file attribute (carried over from the extracted image)."},
      {"fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (请在那里修改, 或用磁盘映像工具修改 fat16.img).",
       {"1", "11", "/u"},
       "1 file and 11 folders of fat16.img have been unpacked into /u (edit them there, or edit fat16.img with a "
       "disk-image tool)."},
      {"fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (请在那里修改, 或用磁盘映像工具修改 fat16.img).",
       {"21", "1", "/u"},
       "21 files and 1 folder of fat16.img have been unpacked into /u (edit them there, or edit fat16.img with a "
       "disk-image tool)."},
      {"定位成功-偏移        %1 标识   ", {"1"}, "Located: 1 block header   "},
      {"定位成功-偏移        %1 标识   ", {"0"}, "Located: 0 block headers   "},
      {"新的分区比擦除区 %1 长 %2 字节. 要延长这个擦除区吗?", {"0x01000000-0x01FFFFFF", "1"},
       "The rebuilt partition is 1 byte longer than the erase area 0x01000000-0x01FFFFFF. Extend the erase area?"},
      {"错误: rofs2 中有 %1 个链接 (链接不能放进映像, 请放入文件本身), 未生成任何文件.", {"1"},
       "Error: rofs2 holds 1 link (links cannot go into the image; put the files themselves there). Nothing was "
       "written."},
  };
  for (const auto& c : cases) {
    SetLanguage(Language::kEnglish);
    EXPECT_EQ(Say(c.chinese, c.values), c.english);
    SetLanguage(Language::kChinese);
    EXPECT_EQ(Say(c.chinese, c.values).find('{'), std::string::npos);
  }
}

// A name is put in as it is, but for its control characters: a newline
// would start a line of its own in the log, an escape sequence would move a
// terminal's cursor or clear its screen.
TEST(TextsTest, ControlCharactersOfValuesAreShownEscaped) {
  for (const Language language : {Language::kChinese, Language::kEnglish}) {
    SetLanguage(language);
    const std::string said = Say("文件: %1", {"/fw/a\nb\x1B[2J\r\x7F\xE6\x96\x87.bin"});
    EXPECT_EQ(said.substr(said.find('/')), "/fw/a\\x0Ab\\x1B[2J\\x0D\\x7F\xE6\x96\x87.bin");
    // A tool's own line, and a value inside a value.
    EXPECT_EQ(SayText(pipeline::Text(std::string("    readimage: bad\tname\n"))), "    readimage: bad\\x09name\\x0A");
    EXPECT_EQ(SayText(pipeline::Text("文件: %1", {pipeline::Text("%1", {std::string("x\x1Bq")})})),
              Say("文件: %1", {"x\\x1Bq"}));
  }
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
