#include "format/byte_string.h"

#include <gtest/gtest.h>

namespace larkspur {
namespace {

TEST(ByteStringTest, SearchFollowsTheOneBasedRules) {
  const std::string text("ab\0ab", 5);
  EXPECT_EQ(PosFrom("ab", text, 0), 1);  // start 0 counts as 1
  EXPECT_EQ(PosFrom("ab", text, 1), 1);
  EXPECT_EQ(PosFrom("ab", text, 2), 4);
  EXPECT_EQ(PosFrom(std::string("\0a", 2), text, 1), 3);  // zero bytes are ordinary bytes
  EXPECT_EQ(PosFrom("ab", text, 5), 0);                   // fewer bytes left than the pattern
  EXPECT_EQ(PosFrom("abcdef", "abc", 1), 0);             // pattern longer than the text
  EXPECT_EQ(PosFrom("ab", text, 99), 0);
}

TEST(ByteStringTest, TakeGivesFewerBytesNearTheEnd) {
  const std::string fifteen = "0123456789ABCDE";
  EXPECT_EQ(Take(fifteen, 14, 4), "DE");
  EXPECT_EQ(Take(fifteen, 16, 4), "");
  EXPECT_EQ(Take(fifteen, 0, 2), "01");
  EXPECT_EQ(Take(fifteen, -5, 2), "01");
  EXPECT_EQ(Take(fifteen, 3, -1), "");
}

TEST(ByteStringTest, RemoveIgnoresPositionsOutsideTheText) {
  struct Case {
    std::int64_t position, count;
    std::string expected;
  };
  const Case cases[] = {
      {2, 3, "aefg"}, {6, 10, "abcde"}, {0, 2, "abcdefg"}, {8, 1, "abcdefg"}, {3, 0, "abcdefg"}, {3, -2, "abcdefg"},
  };
  for (const Case& c : cases) {
    std::string text = "abcdefg";
    Remove(text, c.position, c.count);
    EXPECT_EQ(text, c.expected) << c.position << "," << c.count;
  }
}

}  // namespace
}  // namespace larkspur
