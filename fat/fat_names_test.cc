#include "fat/fat_names.h"

#include <gtest/gtest.h>

#include <string>

namespace larkspur::fat {
namespace {

std::string Stored(const ShortName& name) { return std::string(name.begin(), name.end()); }

ShortName FromText(const char (&text)[12]) {
  ShortName name;
  std::copy_n(text, 11, name.begin());
  return name;
}

TEST(FatNamesTest, NamesAVolumeOrAHostCannotCarryAreRefusedWithTheReason) {
  const struct {
    std::u16string name;
    const char* problem;  // nullptr: fine
  } cases[] = {
      {u"readme.txt", nullptr},
      {u"Ünïcode ñame.txt", nullptr},
      {u".hidden", nullptr},
      {u"CONSOLE.TXT", nullptr},
      {u"COM0", nullptr},
      {std::u16string(255, u'x'), nullptr},
      {u"", "the name is empty"},
      {u".", "the name \".\" or \"..\" would leave its folder"},
      {u"..", "the name \".\" or \"..\" would leave its folder"},
      {std::u16string(256, u'x'), "the name is 256 UTF-16 units long, more than 255"},
      {u"a\u0001b", "the name holds a control character"},
      {u"a\u007Fb", "the name holds a control character"},
      {u"a/b", "the name holds the character '/'"},
      {u"a\\b", "the name holds the character '\\'"},
      {u"a:b", "the name holds the character ':'"},
      {u"a*b", "the name holds the character '*'"},
      {u"a?b", "the name holds the character '?'"},
      {u"a\"b", "the name holds the character '\"'"},
      {u"a<b", "the name holds the character '<'"},
      {u"a>b", "the name holds the character '>'"},
      {u"a|b", "the name holds the character '|'"},
      {u"name.", "the name ends with a dot or a blank"},
      {u"name ", "the name ends with a dot or a blank"},
      {u"a\xD800", "the name holds an unpaired UTF-16 surrogate"},
      {u"CON", "the name is a device name Windows reserves"},
      {u"nul.txt", "the name is a device name Windows reserves"},
      {u"Com1", "the name is a device name Windows reserves"},
      {u"LPT9.log", "the name is a device name Windows reserves"},
      {u"aux", "the name is a device name Windows reserves"},
      {u"prn.a.b", "the name is a device name Windows reserves"},
  };
  for (const auto& c : cases) {
    const auto problem = FatNameProblem(c.name);
    if (c.problem == nullptr) {
      EXPECT_FALSE(problem.has_value()) << *problem;
    } else {
      ASSERT_TRUE(problem.has_value()) << c.problem;
      EXPECT_EQ(*problem, c.problem);
    }
  }
}

TEST(FatNamesTest, FoldingMakesNamesThatDifferInCaseEqual) {
  EXPECT_EQ(FoldFatCase(u"Readme.Txt"), FoldFatCase(u"README.TXT"));
  EXPECT_EQ(FoldFatCase(u"ñame"), FoldFatCase(u"ÑAME"));
  EXPECT_EQ(FoldFatCase(u"фото"), FoldFatCase(u"ФОТО"));
  EXPECT_NE(FoldFatCase(u"a_b"), FoldFatCase(u"a-b"));
}

TEST(FatNamesTest, PlainShortNamesAreUpperCaseEightDotThree) {
  const struct {
    std::u16string name;
    const char* stored;  // nullptr: needs a long name
  } cases[] = {
      {u"README.TXT", "README  TXT"}, {u"A", "A          "},       {u"12345678.123", "12345678123"},
      {u"FOO~1.$$$", "FOO~1   $$$"},  {u"readme.txt", nullptr},    {u"123456789.TXT", nullptr},
      {u"A.TEXT", nullptr},           {u"A.B.C", nullptr},         {u"A B", nullptr},
      {u".A", nullptr},               {u"A.", nullptr},            {u"Ä.TXT", nullptr},
      {u"A+B", nullptr},
  };
  for (const auto& c : cases) {
    const auto plain = PlainShortName(c.name);
    if (c.stored == nullptr) {
      EXPECT_FALSE(plain.has_value()) << Stored(*plain);
    } else {
      ASSERT_TRUE(plain.has_value()) << c.stored;
      EXPECT_EQ(Stored(*plain), c.stored);
    }
  }
}

TEST(FatNamesTest, GeneratedShortNamesTakeTheNextFreeTail) {
  const struct {
    std::u16string name;
    std::set<ShortName> taken;
    const char* stored;
  } cases[] = {
      {u"My long file.jpeg", {}, "MYLONG~1JPE"},
      {u"My long file.jpeg", {FromText("MYLONG~1JPE")}, "MYLONG~2JPE"},
      {u".bashrc", {}, "BASHRC~1   "},
      {u"a.b.c", {}, "AB~1    C  "},
      {u"über+.txt", {}, "_BER_~1 TXT"},
      {u"x", {}, "X~1        "},
      {u"...", {}, "_~1        "},
  };
  for (const auto& c : cases) {
    const auto generated = GenerateShortName(c.name, c.taken);
    ASSERT_TRUE(generated.has_value());
    EXPECT_EQ(Stored(*generated), c.stored);
  }
  std::set<ShortName> taken;
  for (int tail = 1; tail <= 9; ++tail) taken.insert(*GenerateShortName(u"Long name", taken));
  EXPECT_EQ(Stored(*GenerateShortName(u"Long name", taken)), "LONGN~10   ");
}

TEST(FatNamesTest, ShortNamesShowTheirCaseFlagsAndTheE5Escape) {
  EXPECT_EQ(ShortNameText(FromText("README  TXT"), 0), u"README.TXT");
  EXPECT_EQ(ShortNameText(FromText("README  TXT"), 0x08), u"readme.TXT");
  EXPECT_EQ(ShortNameText(FromText("README  TXT"), 0x18), u"readme.txt");
  EXPECT_EQ(ShortNameText(FromText("MAKEFILE   "), 0), u"MAKEFILE");
  ShortName escaped = FromText("XBC     TXT");
  escaped[0] = 0x05;
  EXPECT_EQ(ShortNameText(escaped, 0), u"\uFFFDBC.TXT");
}

TEST(FatNamesTest, TheChecksumIsTheRotatingSumOverElevenBytes) {
  // Worked by hand: each step rotates the sum right by one bit, then adds.
  ShortName zeros{};
  EXPECT_EQ(ShortNameChecksum(zeros), 0);
  ShortName one{};
  one[10] = 1;
  EXPECT_EQ(ShortNameChecksum(one), 1);
  ShortName first{};
  first[0] = 1;  // 1 rotated right ten times in 8 bits: 0x40
  EXPECT_EQ(ShortNameChecksum(first), 0x40);
}

}  // namespace
}  // namespace larkspur::fat
