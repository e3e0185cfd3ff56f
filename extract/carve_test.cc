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

// Every offset into spans of uneven sizes (an empty one among them) against
// cutting the joined bytes.
TEST(CarveTest, CarveSpansCutsTheJoinedStreamAtEveryOffset) {
  const std::string bytes = "0123456789abcdefghijklmnopqrstuvwxyz";
  const std::string_view all(bytes);
  const std::vector<std::string_view> stream = {all.substr(0, 5), all.substr(5, 0), all.substr(5, 1),
                                                all.substr(6, 20), all.substr(26)};
  for (std::uint64_t offset = 0; offset <= bytes.size() + 2; ++offset) {
    const std::vector<std::string_view> carved = CarveSpans(stream, offset);
    std::string joined;
    for (std::string_view span : carved) {
      EXPECT_FALSE(span.empty()) << "offset " << offset;
      EXPECT_TRUE(span.data() >= bytes.data() && span.data() + span.size() <= bytes.data() + bytes.size());
      joined += span;
    }
    EXPECT_EQ(joined, bytes.substr(std::min<std::size_t>(offset, bytes.size()))) << "offset " << offset;
  }
}

}  // namespace
}  // namespace larkspur
