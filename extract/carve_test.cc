#include "extract/carve.h"

#include <gtest/gtest.h>

#include "format/hex_text.h"

namespace larkspur {
namespace {

TEST(CarveTest, CutsAtTheFirstOccurrenceOfTheMagic) {
  const std::string rofs = HexToBytes(kRofsMagicHex);
  const std::string fat = HexToBytes(kFat16MagicHex);
  struct Case {
    const char* name;
    std::string data, magic, expected;
  };
  const Case cases[] = {
      {"magic after the prefix", "PREFIX" + rofs + "rest", rofs, rofs + "rest"},
      {"magic at the first byte", fat + "boot", fat, fat + "boot"},
      {"chance magic in the prefix comes first", "P" + fat + "Q" + fat + "R", fat, fat + "Q" + fat + "R"},
      {"no magic: everything", "no magic here", rofs, "no magic here"},
      {"empty", "", fat, ""},
  };
  for (const Case& c : cases) EXPECT_EQ(CarvePartition(c.data, c.magic), c.expected) << c.name;
}

}  // namespace
}  // namespace larkspur
