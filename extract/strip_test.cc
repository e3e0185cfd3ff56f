#include "extract/strip.h"

#include <gtest/gtest.h>

#include "format/block_header.h"
#include "format/test_bytes.h"

namespace larkspur {
namespace {

using testing::Bytes;

const std::string kSig19 = Bytes("54 01 17 0E 00 03 00");
const std::string kSig26 = Bytes("54 01 30 15 01 01 00");

// The reference: delete header-size bytes at every occurrence in turn,
// searching on from the deletion point, as the old program did.
std::pair<std::string, std::int64_t> DeleteEachHeaderInTurn(std::string data, const std::string& sig, int size) {
  std::int64_t count = 0;
  std::int64_t position = 1;
  for (;;) {
    position = PosFrom(sig, data, position);
    if (position == 0) break;
    Remove(data, position, size);
    ++count;
  }
  return {data, count};
}

std::string Block(const std::string& sig, int header_size, const std::string& payload, std::int64_t announced = -1) {
  const std::uint32_t length = announced < 0 ? payload.size() : static_cast<std::uint32_t>(announced);
  std::string header = sig + "CC" + std::string(header_size == 19 ? 1 : 8, '\x01') + BigEndian32(length) + "AAAA" + "S";
  return header + payload;
}

TEST(StripTest, MatchesDeletingEachHeaderInTurn) {
  const std::string two_headers_in_a_row = Block(kSig19, 19, "") + Block(kSig19, 19, "xyz");
  struct Case {
    const char* name;
    std::string data;
    std::string sig;
    int header_size;
  };
  const Case cases[] = {
      {"prefix and three blocks", "PREFIX" + Block(kSig19, 19, "aaaa") + Block(kSig19, 19, "bb") + Block(kSig19, 19, "c"),
       kSig19, 19},
      {"two headers in a row", two_headers_in_a_row, kSig19, 19},
      {"signature near the end", "data" + kSig19 + "abc", kSig19, 19},
      {"no header at all", "plain bytes", kSig19, 19},
      {"empty", "", kSig19, 19},
      {"26-byte layout", "P" + Block(kSig26, 26, "hello") + Block(kSig26, 26, "world"), kSig26, 26},
      {"broken chain with a chance signature", Block(kSig19, 19, "ab" + kSig19 + "0123456789ABCDEFGHIJ", 5), kSig19, 19},
      // A deletion that joins an occurrence across the search position is
      // not found, since the search never goes back.
      {"joined occurrence", kSig19.substr(0, 3) + Block(kSig19, 19, kSig19.substr(3), 9), kSig19, 19},
  };
  for (const Case& c : cases) {
    const auto [expected, expected_count] = DeleteEachHeaderInTurn(c.data, c.sig, c.header_size);
    std::string data = c.data;
    const StripResult result = StripBlockHeaders(data, c.sig, c.header_size);
    EXPECT_EQ(data, expected) << c.name;
    EXPECT_EQ(result.headers_removed, expected_count) << c.name;
  }
}

TEST(StripTest, AnIntactChainKeepsAChanceSignatureInsideAPayload) {
  const std::string payload = "ab" + kSig19 + "cdefghijklmnopqrstuvwxyz";
  std::string data = "PREFIX" + Block(kSig19, 19, payload) + Block(kSig19, 19, "tail");
  const StripResult result = StripBlockHeaders(data, kSig19, 19);
  EXPECT_TRUE(result.chain_intact);
  EXPECT_EQ(result.headers_removed, 2);
  EXPECT_EQ(data, "PREFIX" + payload + "tail");
}

TEST(StripTest, ABrokenChainFallsBackToTheScan) {
  std::string data = Block(kSig19, 19, "abc", 99);
  const StripResult result = StripBlockHeaders(data, kSig19, 19);
  EXPECT_FALSE(result.chain_intact);
  EXPECT_EQ(result.headers_removed, 1);
  EXPECT_EQ(data, "abc");
}

}  // namespace
}  // namespace larkspur
