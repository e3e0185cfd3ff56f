#include "extract/carve.h"

#include <gtest/gtest.h>

#include "format/hex_text.h"
#include "format/partition.h"

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

// Every way of cutting the bytes into three spans (empty ones included)
// gives the answers the contiguous searches give on the bytes.
std::vector<std::vector<std::string_view>> EveryThreeWayCut(std::string_view all) {
  std::vector<std::vector<std::string_view>> cuts;
  for (std::size_t a = 0; a <= all.size(); ++a) {
    for (std::size_t b = a; b <= all.size(); ++b) {
      cuts.push_back({all.substr(0, a), all.substr(a, b - a), all.substr(b)});
    }
  }
  return cuts;
}

TEST(CarveTest, SearchesInSpansAnswerAsOnTheJoinedBytes) {
  const std::string rofs = HexToBytes(kRofsMagicHex);
  const std::string fat = HexToBytes(kFat16MagicHex);
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"magic once", "abc" + rofs + "def"},
      {"magic twice", rofs + "x" + rofs},
      {"a near miss, then the magic", rofs.substr(0, 5) + "Z" + rofs},
      {"no magic", "ROFS0ROFS" + fat.substr(0, 2)},
      {"FAT jump", "PP" + fat + fat},
  };
  for (const auto& c : cases) {
    for (const std::string& pattern : {rofs, fat, std::string("F")}) {
      for (const auto& stream : EveryThreeWayCut(c.bytes)) {
        for (std::uint64_t from = 0; from <= c.bytes.size(); from += 3) {
          const std::size_t expected = c.bytes.find(pattern, from);
          const auto found = FindInSpans(stream, pattern, from);
          ASSERT_EQ(found.has_value(), expected != std::string::npos) << c.name << " from " << from;
          if (found) {
            EXPECT_EQ(*found, expected) << c.name << " from " << from;
          }
        }
      }
    }
  }
  EXPECT_FALSE(FindInSpans({"abc"}, ""));
}

TEST(CarveTest, BootSectorSearchInSpansAnswersAsOnTheJoinedBytes) {
  std::string boot(kSectorSize, '\0');
  boot.replace(0, 3, HexToBytes(kFat16MagicHex));
  boot[11] = 0x00, boot[12] = 0x02;  // 512 bytes per sector
  boot[13] = 4, boot[14] = 1, boot[16] = 2, boot[17] = 0x10, boot[19] = 0x40, boot[22] = 1;
  boot[510] = 0x55, boot[511] = static_cast<char>(0xAA);
  ASSERT_TRUE(IsFatBootSector(boot));
  const std::string zeros(kSectorSize, '\0');
  const struct {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"boot sector first", boot + "tail"},
      {"behind zero sectors", zeros + zeros + boot},
      {"behind a sector that is not zero", zeros + "x" + zeros.substr(1) + boot},
      {"cut short", zeros + boot.substr(0, 300)},
      {"only zeros", zeros + zeros},
      {"misaligned", zeros.substr(7) + boot},
  };
  for (const auto& c : cases) {
    const std::string_view all(c.bytes);
    // Cuts every 97 bytes apart, so spans join inside the boot sector.
    for (std::size_t a = 0; a <= all.size(); a += 97) {
      for (std::size_t b = a; b <= all.size(); b += 131) {
        const std::vector<std::string_view> stream = {all.substr(0, a), all.substr(a, b - a), all.substr(b)};
        for (const std::uint64_t from : {std::uint64_t{0}, std::uint64_t{5}, std::uint64_t{kSectorSize}}) {
          const auto expected = FindFatBootSector(all.substr(std::min<std::size_t>(from, all.size())));
          const auto found = FindFatBootSectorInSpans(stream, from);
          ASSERT_EQ(found.has_value(), expected.has_value()) << c.name << " cut " << a << "," << b << " from " << from;
          if (found) {
            EXPECT_EQ(*found, *expected) << c.name;
          }
        }
      }
    }
  }
}

TEST(CarveTest, BytesOfSpansViewWhenInOneSpanAndCopyAcrossAJoin) {
  const std::string bytes = "0123456789";
  const std::string_view all(bytes);
  const std::vector<std::string_view> stream = {all.substr(0, 4), all.substr(4, 0), all.substr(4)};
  std::string scratch;
  const std::string_view inside = BytesOfSpans(stream, 4, 3, scratch);
  EXPECT_EQ(inside, "456");
  EXPECT_EQ(inside.data(), bytes.data() + 4);
  EXPECT_EQ(BytesOfSpans(stream, 2, 5, scratch), "23456");
  EXPECT_EQ(BytesOfSpans(stream, 8, 5, scratch), "89");
  EXPECT_EQ(BytesOfSpans(stream, 10, 5, scratch), "");
  EXPECT_EQ(SpansSize(stream), 10u);
}

}  // namespace
}  // namespace larkspur
