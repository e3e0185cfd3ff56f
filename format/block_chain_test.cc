#include "format/block_chain.h"

#include <gtest/gtest.h>

#include "format/block_header.h"
#include "testing/firmware_fixture.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;
using testing::UncheckedBlock;

const std::string kSignature = BytesFromSpacedHex("54 01 17 0E 00 03 00");

TEST(BlockChainTest, WalksFromTheFirstSignatureByThePayloadLengths) {
  // The first payload holds the signature by chance; the chain skips it.
  const std::string first_payload = "xx" + kSignature + "yy";
  const std::string data = "PREFIX" + UncheckedBlock(kSignature, 19, first_payload, first_payload.size()) + UncheckedBlock(kSignature, 19, "", 0) + UncheckedBlock(kSignature, 19, "abc", 3);
  const auto chain = FindBlockChain(data, kSignature, 19);
  ASSERT_TRUE(chain);
  ASSERT_EQ(chain->size(), 3u);
  EXPECT_EQ((*chain)[0].header_offset, 6u);
  EXPECT_EQ((*chain)[1].header_offset, 6u + 19 + first_payload.size());
  EXPECT_EQ((*chain)[2].payload_length, 3u);
}

TEST(BlockChainTest, ABrokenChainGivesNothing) {
  const std::string good = UncheckedBlock(kSignature, 19, "abc", 3) + UncheckedBlock(kSignature, 19, "de", 2);
  const struct {
    const char* why;
    std::string data;
    int header_size;
  } cases[] = {
      {"no signature", "nothing here", 19},
      {"length past the end", UncheckedBlock(kSignature, 19, "abc", 4), 19},
      {"bytes after the last block", good + "z", 19},
      {"next header without signature", UncheckedBlock(kSignature, 19, "abc", 2) + "c" + UncheckedBlock(kSignature, 19, "de", 2), 19},
      {"cut inside a header", good.substr(0, 30), 19},
      {"unknown header size", good, 20},
  };
  for (const auto& c : cases) EXPECT_FALSE(FindBlockChain(c.data, kSignature, c.header_size)) << c.why;
}

TEST(BlockChainTest, FindsWhereTheDataCutsABlockShort) {
  const std::string good = "PRE" + UncheckedBlock(kSignature, 19, "abc", 3) + UncheckedBlock(kSignature, 19, "defg", 4) + UncheckedBlock(kSignature, 19, "hi", 2);
  const std::size_t second = 3 + 19 + 3, third = second + 19 + 4;
  const struct {
    const char* why;
    std::string data;
    std::optional<ChainCut> expected;
  } cases[] = {
      {"intact", good, std::nullopt},
      {"no signature", "nothing here", std::nullopt},
      {"inside the last payload", good.substr(0, good.size() - 1), ChainCut{2, third, false}},
      {"right after a header", good.substr(0, third + 19), ChainCut{2, third, false}},
      {"inside a header, after its signature", good.substr(0, third + 12), ChainCut{2, third, true}},
      {"inside a signature", good.substr(0, second + 3), ChainCut{1, second, true}},
      {"inside the first header", good.substr(0, 3 + 10), ChainCut{0, 3, true}},
      {"broken before the end", UncheckedBlock(kSignature, 19, "abc", 2) + "c" + UncheckedBlock(kSignature, 19, "de", 5), std::nullopt},
      {"ends in bytes that are no signature", good + "z", std::nullopt},
      {"unknown header size", good.substr(0, good.size() - 1), std::nullopt},
  };
  for (const auto& c : cases) {
    const auto cut = FindChainCut(c.data, kSignature, std::string(c.why) == "unknown header size" ? 20 : 19);
    ASSERT_EQ(cut.has_value(), c.expected.has_value()) << c.why;
    if (!cut) continue;
    EXPECT_EQ(cut->block_index, c.expected->block_index) << c.why;
    EXPECT_EQ(cut->header_offset, c.expected->header_offset) << c.why;
    EXPECT_EQ(cut->inside_header, c.expected->inside_header) << c.why;
  }
}

}  // namespace
}  // namespace larkspur
