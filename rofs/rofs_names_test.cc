#include "rofs/rofs_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace larkspur::rofs {
namespace {

TEST(RofsNamesTest, OrdersNamesAsThePhoneDriverDoes) {
  // Each list is in the driver's order: A-Z folded, whole UTF-16 units
  // compared unsigned, the shorter first when one is a prefix.
  const std::vector<std::vector<std::u16string>> orders = {
      {u"A", u"a b.txt", u"a-z", u"a.b", u"a.txt", u"a1", u"ab.txt", u"abc.txt", u"ABD.txt"},
      {u"[br].txt", u"_under.txt", u"letters", u"~tilde.txt", u"été.txt"},
      {u"été.txt", u"Ā.txt", u"Привет.txt", u"一.txt", u"日本.txt", u"\xD83D\xDE00.txt",
       u"\xFF21.txt"},
      {u"a", u"a.txt", u"b"},
  };
  for (const auto& order : orders) {
    for (std::size_t i = 0; i + 1 < order.size(); ++i) {
      EXPECT_LT(CompareForLookup(order[i], order[i + 1]), 0);
      EXPECT_GT(CompareForLookup(order[i + 1], order[i]), 0);
    }
  }
  EXPECT_EQ(CompareForLookup(u"README.TXT", u"readme.txt"), 0);
  // Only A-Z fold: "É" and "é" are different names to the phone.
  EXPECT_NE(CompareForLookup(u"É", u"é"), 0);
}

TEST(RofsNamesTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(FoldAsciiCase(u"Sys\\BIN Ü"), u"sys\\bin Ü");
}

TEST(RofsNamesTest, RefusesNamesThatAreNotOneSafeComponent) {
  const std::vector<std::pair<std::u16string, std::string>> unsafe = {
      {u"", "the name is empty"},
      {u".", "the name \".\" or \"..\" would leave its folder"},
      {u"..", "the name \".\" or \"..\" would leave its folder"},
      {u"a/b", "the name holds a path separator"},
      {u"..\\x", "the name holds a path separator"},
      {u"c:", "the name holds a colon"},
      {std::u16string(u"a\0b", 3), "the name holds a NUL character"},
      {u"x\xDC00", "the name holds an unpaired UTF-16 surrogate"},
  };
  for (const auto& [name, reason] : unsafe) {
    EXPECT_EQ(UnsafeNameReason(name), reason);
  }
  for (const std::u16string_view name : {u"...", u".hidden", u"a..b", u"Grüße Über.txt", u" "}) {
    EXPECT_EQ(UnsafeNameReason(name), std::nullopt);
  }
}

}  // namespace
}  // namespace larkspur::rofs
