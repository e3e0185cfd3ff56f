#include "format/firmware_layout.h"

#include <gtest/gtest.h>

#include "format/block_header.h"
#include "testing/firmware_fixture.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;
using testing::UncheckedBlock;

const std::string kSignature = BytesFromSpacedHex("54 01 17 0E 00 03 00");

TEST(FirmwareLayoutTest, WalksFromTheFirstSignatureByThePayloadLengths) {
  // The first payload holds the signature by chance; the chain skips it.
  const std::string first_payload = "xx" + kSignature + "yy";
  const std::string data = "PREFIX" + UncheckedBlock(kSignature, 19, first_payload, first_payload.size()) +
                           UncheckedBlock(kSignature, 19, "", 0) + UncheckedBlock(kSignature, 19, "abc", 3);
  const FirmwareLayout layout = ReadFirmwareLayout(data, kSignature, 19);
  ASSERT_TRUE(layout.chain_intact);
  EXPECT_EQ(layout.end, ChainEnd::kIntact);
  EXPECT_EQ(layout.prefix_length, 6u);
  ASSERT_EQ(layout.blocks.size(), 3u);
  EXPECT_EQ(layout.blocks[0].header_offset, 6u);
  EXPECT_EQ(layout.blocks[1].header_offset, 6u + 19 + first_payload.size());
  EXPECT_EQ(layout.blocks[2].payload_length, 3u);
  EXPECT_EQ(layout.blocks[2].address, ReadBigEndian32("AAAA", 0));
}

// How the walk ends, where, and which whole blocks it read before.
TEST(FirmwareLayoutTest, SaysHowAndWhereTheChainEnds) {
  const std::string good = "PRE" + UncheckedBlock(kSignature, 19, "abc", 3) + UncheckedBlock(kSignature, 19, "defg", 4) +
                           UncheckedBlock(kSignature, 19, "hi", 2);
  const std::size_t second = 3 + 19 + 3, third = second + 19 + 4;
  const struct {
    const char* why;
    std::string data;
    int header_size;
    ChainEnd end;
    std::size_t blocks;      // whole blocks walked
    std::size_t end_offset;  // where it ended (the cut or missing header)
    bool inside_header;
  } cases[] = {
      {"intact", good, 19, ChainEnd::kIntact, 3, good.size(), false},
      {"no signature", "nothing here", 19, ChainEnd::kNoHeader, 0, 0, false},
      {"unknown header size", good, 20, ChainEnd::kNoHeader, 0, 0, false},
      {"inside the last payload", good.substr(0, good.size() - 1), 19, ChainEnd::kCutShort, 2, third, false},
      {"right after a header", good.substr(0, third + 19), 19, ChainEnd::kCutShort, 2, third, false},
      {"inside a header, after its signature", good.substr(0, third + 12), 19, ChainEnd::kCutShort, 2, third, true},
      {"inside a signature", good.substr(0, second + 3), 19, ChainEnd::kCutShort, 1, second, true},
      {"inside the first header", good.substr(0, 3 + 10), 19, ChainEnd::kCutShort, 0, 3, true},
      {"length past the end", UncheckedBlock(kSignature, 19, "abc", 4), 19, ChainEnd::kCutShort, 0, 0, false},
      {"next header without signature",
       UncheckedBlock(kSignature, 19, "abc", 2) + "c" + UncheckedBlock(kSignature, 19, "de", 5), 19, ChainEnd::kBroken,
       1, 21, false},
      {"ends in bytes that are no signature", good + "z", 19, ChainEnd::kBroken, 3, good.size(), false},
  };
  for (const auto& c : cases) {
    const FirmwareLayout layout = ReadFirmwareLayout(c.data, kSignature, c.header_size);
    EXPECT_EQ(layout.end, c.end) << c.why;
    EXPECT_EQ(layout.chain_intact, c.end == ChainEnd::kIntact) << c.why;
    EXPECT_EQ(layout.HasHeader(), c.end != ChainEnd::kNoHeader) << c.why;
    EXPECT_EQ(layout.blocks.size(), c.blocks) << c.why;
    EXPECT_EQ(layout.end_offset, c.end_offset) << c.why;
    EXPECT_EQ(layout.ends_inside_header, c.inside_header) << c.why;
  }
}

TEST(FirmwareLayoutTest, WalksFromAGivenOffset) {
  const std::string block = UncheckedBlock(kSignature, 19, "abc", 3);
  const std::string data = block + "junk" + block;
  const FirmwareLayout layout = ReadFirmwareLayout(data, kSignature, 19, block.size());
  EXPECT_EQ(layout.prefix_length, block.size() + 4);
  EXPECT_TRUE(layout.chain_intact);
  EXPECT_FALSE(ReadFirmwareLayout(data, kSignature, 19, data.size() + 1).HasHeader());
}

// Which models a file fits, and why the others do not.
TEST(FirmwareLayoutTest, ModelsThatFitFollowTheBlockFormats) {
  const std::string partition = testing::PatternBytes(0x50000);
  const struct {
    const char* why;
    int model;
    bool uda;
    bool n96_short;
    std::vector<int> fitting;
  } cases[] = {
      {"default blocks of 0x40000", 0, false, false, {0}},
      {"blocks of 0x20000: 5320 and N78", 3, false, false, {2, 3}},
      {"the N96's ROFS with its short first block", 1, false, true, {1}},
      {"the N96's 26-byte UDA headers", 1, true, false, {1}},
      {"UDA blocks of 0x20000", 2, true, false, {2, 3}},
  };
  for (const auto& c : cases) {
    const std::string file = testing::MakeFirmware(
        {.model = c.model, .uda = c.uda, .prefix = "P", .n96_short_first_block = c.n96_short}, partition);
    EXPECT_EQ(ModelsThatFit(file, c.uda ? PartitionKind::kUda : PartitionKind::kRofs), c.fitting) << c.why;
  }
  // One short block fits every model whose blocks are at least as long.
  EXPECT_EQ(ModelsThatFit(testing::MakeFirmware({}, "abc"), PartitionKind::kRofs), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(ModelsThatFit("no header", PartitionKind::kRofs), std::vector<int>{});
  EXPECT_EQ(ModelNames({2, 3}), "手机型号(5320), 手机型号(N78)");
}

}  // namespace
}  // namespace larkspur
