#include "extract/strip.h"

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "format/firmware_layout.h"
#include "format/block_header.h"
#include "testing/firmware_fixture.h"
#include "testing/strip_oracle.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;
using testing::UncheckedBlock;

const std::string kSig19 = BytesFromSpacedHex("54 01 17 0E 00 03 00");
const std::string kSig26 = BytesFromSpacedHex("54 01 30 15 01 01 00");

TEST(StripTest, MatchesDeletingEachHeaderInTurn) {
  const std::string two_headers_in_a_row = UncheckedBlock(kSig19, 19, "") + UncheckedBlock(kSig19, 19, "xyz");
  struct Case {
    const char* name;
    std::string data;
    std::string sig;
    int header_size;
  };
  const Case cases[] = {
      {"prefix and three blocks", "PREFIX" + UncheckedBlock(kSig19, 19, "aaaa") + UncheckedBlock(kSig19, 19, "bb") + UncheckedBlock(kSig19, 19, "c"),
       kSig19, 19},
      {"two headers in a row", two_headers_in_a_row, kSig19, 19},
      {"signature near the end", "data" + kSig19 + "abc", kSig19, 19},
      {"no header at all", "plain bytes", kSig19, 19},
      {"empty", "", kSig19, 19},
      {"26-byte layout", "P" + UncheckedBlock(kSig26, 26, "hello") + UncheckedBlock(kSig26, 26, "world"), kSig26, 26},
      {"broken chain with a chance signature", UncheckedBlock(kSig19, 19, "ab" + kSig19 + "0123456789ABCDEFGHIJ", 5), kSig19, 19},
      // A deletion that joins an occurrence across the search position is
      // not found, since the search never goes back.
      {"joined occurrence", kSig19.substr(0, 3) + UncheckedBlock(kSig19, 19, kSig19.substr(3), 9), kSig19, 19},
  };
  for (const Case& c : cases) {
    const auto [expected, expected_count] = testing::DeleteEachHeaderInTurn(c.data, c.sig, c.header_size);
    std::string data = c.data;
    const StripResult result = StripBlockHeaders(data, c.sig, c.header_size);
    EXPECT_EQ(data, expected) << c.name;
    EXPECT_EQ(result.headers_removed, expected_count) << c.name;
  }
}

TEST(StripTest, AnIntactChainKeepsAChanceSignatureInsideAPayload) {
  const std::string payload = "ab" + kSig19 + "cdefghijklmnopqrstuvwxyz";
  std::string data = "PREFIX" + UncheckedBlock(kSig19, 19, payload) + UncheckedBlock(kSig19, 19, "tail");
  const StripResult result = StripBlockHeaders(data, kSig19, 19);
  EXPECT_TRUE(result.chain_intact);
  EXPECT_EQ(result.headers_removed, 2);
  EXPECT_EQ(data, "PREFIX" + payload + "tail");
}

TEST(StripTest, ABrokenChainFallsBackToTheScan) {
  std::string data = UncheckedBlock(kSig19, 19, "abc", 99);
  const StripResult result = StripBlockHeaders(data, kSig19, 19);
  EXPECT_FALSE(result.chain_intact);
  EXPECT_EQ(result.headers_removed, 1);
  EXPECT_EQ(data, "abc");
}

// A good file cut at every length: the chain holds exactly when the cut
// falls after a block, and then only its headers go; any other cut is where
// FindChainCut says, and the bytes are the scan's.
TEST(StripTest, EveryTruncationGivesTheChainOrTheScan) {
  const testing::FirmwareSpec spec{.model = 1, .prefix = std::string(0x40, 'P')};
  const std::string signature = HexToBytes(ProfileForModel(1).RofsSignatureHex);
  std::string partition = testing::PatternBytes(0x8000 + 0x200);
  partition.replace(0x100, signature.size(), signature);  // a chance occurrence in block 0
  const std::string good = testing::MakeFirmware(spec, partition);
  const std::size_t second = 0x40 + 19 + 0x8000;
  const std::map<std::size_t, std::string> block_ends = {
      {second, spec.prefix + partition.substr(0, 0x8000)}, {good.size(), spec.prefix + partition}};
  for (const std::size_t length : testing::CutLengths(good.size(), {0x40, 0x40 + 19, second, second + 19})) {
    const std::string cut = good.substr(0, length);
    std::string data = cut;
    const StripResult result = StripBlockHeaders(data, signature, 19);
    const auto block_end = block_ends.find(length);
    ASSERT_EQ(result.chain_intact, block_end != block_ends.end()) << "cut at " << length;
    if (block_end != block_ends.end()) {
      ASSERT_EQ(data, block_end->second) << "cut at " << length;
      continue;
    }
    const auto [expected, expected_count] = testing::DeleteEachHeaderInTurn(cut, signature, 19);
    ASSERT_EQ(data, expected) << "cut at " << length;
    ASSERT_EQ(result.headers_removed, expected_count) << "cut at " << length;
    ASSERT_EQ(ReadFirmwareLayout(cut, signature, 19).end == ChainEnd::kCutShort, length >= 0x40 + signature.size())
        << "cut at " << length;
  }
}

// The spans against the bytes StripLayoutBlocks leaves, on generated files
// of every header layout, with and without a prefix, a short first block
// and a partial last block.
TEST(StripTest, PayloadSpansJoinToWhatStrippingTheLayoutLeaves) {
  struct Case {
    const char* name;
    testing::FirmwareSpec spec;
    std::size_t partition_size;
  };
  const Case cases[] = {
      {"UDA, profile 0, exact blocks", {.model = 0, .uda = true, .prefix = "PREFIX"}, 0x40000 * 2},
      {"ROFS, profile 2, partial last block", {.model = 2, .prefix = std::string(300, 'p')}, 0x20000 + 0x1234},
      {"N96 UDA: 26-byte headers", {.model = 1, .uda = true, .prefix = "P"}, 0x8000 * 3 + 5},
      {"N96 ROFS with its short first block", {.model = 1, .prefix = "PP", .n96_short_first_block = true}, 0x8000 * 2 + 0x700},
      {"no prefix, one small block", {.model = 3}, 100},
  };
  for (const Case& c : cases) {
    const std::string file = testing::MakeFirmware(c.spec, testing::PatternBytes(c.partition_size));
    const FirmwareLayout layout =
        ReadFirmwareLayout(file, BlockFormatOf(c.spec.model, c.spec.uda ? PartitionKind::kUda : PartitionKind::kRofs));
    ASSERT_TRUE(layout.chain_intact) << c.name;
    std::string stripped = file;
    StripLayoutBlocks(stripped, layout);
    const std::vector<std::string_view> spans = PayloadSpans(file, layout);
    EXPECT_EQ(spans.size(), 1 + layout.blocks.size()) << c.name;
    EXPECT_EQ(spans.front(), c.spec.prefix) << c.name;
    EXPECT_EQ(testing::Concatenated(spans), stripped) << c.name;
    // Views into the file, not copies.
    for (std::string_view span : spans) {
      EXPECT_TRUE(span.empty() || (span.data() >= file.data() && span.data() + span.size() <= file.data() + file.size()))
          << c.name;
    }
  }
}

TEST(StripTest, PayloadSpansOfABrokenChainOrAnotherFilesLayout) {
  const testing::FirmwareSpec spec{.model = 0, .uda = true, .prefix = "PREFIX"};
  const std::string file = testing::MakeFirmware(spec, testing::PatternBytes(0x40000 + 0x300));
  const FirmwareLayout layout = ReadFirmwareLayout(file, BlockFormatOf(0, PartitionKind::kUda));
  ASSERT_TRUE(layout.chain_intact);
  const std::string cut = file.substr(0, file.size() - 1);
  EXPECT_TRUE(PayloadSpans(cut, ReadFirmwareLayout(cut, BlockFormatOf(0, PartitionKind::kUda))).empty());
  try {
    PayloadSpans(cut, layout);
    FAIL() << "no error";
  } catch (const std::invalid_argument& error) {
    EXPECT_EQ(std::string(error.what()),
              "the layout's block at " + std::to_string(layout.blocks.back().header_offset) + " lies outside the file");
  }
}

}  // namespace
}  // namespace larkspur
