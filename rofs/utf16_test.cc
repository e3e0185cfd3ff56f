#include "rofs/utf16.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspur::rofs {
namespace {

TEST(Utf16Test, ConvertsBothWaysAcrossPlanes) {
  const std::vector<std::pair<std::string, std::u16string>> cases = {
      {"", u""},
      {"readme.txt", u"readme.txt"},
      {"Grüße Über.txt", u"Grüße Über.txt"},
      {"Привет", u"Привет"},
      {"日本", u"日本"},
      {"\xF0\x9F\x98\x80", u"\xD83D\xDE00"},  // U+1F600 as a surrogate pair
      {"\xEF\xBF\xBF", u"\xFFFF"},
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(Utf8ToUtf16(utf8), utf16) << utf8;
    EXPECT_EQ(Utf16ToUtf8(utf16), utf8) << utf8;
  }
}

TEST(Utf16Test, RefusesIllFormedUtf8) {
  const std::vector<std::string> cases = {
      "latin1_Gr\xFC\xDF"
      "e.txt",             // Latin-1 bytes
      "\x80",              // stray continuation byte
      "\xC3",              // cut short
      "\xE6\x97",          // cut short
      "\xC0\xAF",          // overlong '/'
      "\xE0\x80\xAF",      // overlong '/'
      "\xED\xA0\x80",      // encoded surrogate
      "\xF4\x90\x80\x80",  // above U+10FFFF
      "\xFF",
  };
  for (const std::string& bytes : cases) {
    EXPECT_FALSE(Utf8ToUtf16(bytes).has_value()) << testing::PrintToString(bytes);
  }
}

TEST(Utf16Test, UnpairedSurrogatesHaveNoUtf8Form) {
  for (const std::u16string& name : {std::u16string(u"a\xD800"), std::u16string(u"\xDC00z")}) {
    EXPECT_FALSE(Utf16ToUtf8(name).has_value());
  }
  EXPECT_EQ(Utf16ToUtf8Lossy(u"a\xD800z"), "a\xEF\xBF\xBDz");
}

}  // namespace
}  // namespace larkspur::rofs
