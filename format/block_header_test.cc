#include "format/block_header.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "format/hex_text.h"
#include "format/model_profile.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;

std::string Header(int model, bool uda, std::string_view payload, std::string_view address, std::int32_t length) {
  const ModelProfile& p = ProfileForModel(model);
  return uda ? BuildBlockHeaderHex(p.UdaSignatureHex, p.UdaTypeFieldHex, p.UdaBlockSize, payload, address, length)
             : BuildBlockHeaderHex(p.RofsSignatureHex, p.RofsTypeFieldHex, p.RofsBlockSize, payload, address, length);
}

TEST(BlockHeaderTest, WorkedExamplesHoldByteForByte) {
  const std::string payload = BytesFromSpacedHex("01 02 03");
  const std::string address = BytesFromSpacedHex("00 10 00 00");
  struct Case {
    int model;
    bool uda;
    std::int32_t length;
    const char* expected;
  };
  const Case cases[] = {
      {0, false, 3, "54 01 17 0E 00 03 00 02 02 01 00 00 00 03 00 10 00 00 BE"},
      {0, false, 0, "54 01 17 0E 00 03 00 02 02 01 00 04 00 00 00 10 00 00 BD"},
      {1, false, 3, "54 01 17 0E 01 01 00 02 02 01 00 00 00 03 00 10 00 00 BF"},
      {1, true, 3, "54 01 30 15 01 01 00 02 02 00 00 00 00 FF FF FF FF 00 00 00 03 00 10 00 00 A4"},
      // Profiles 2 and 3: block size 0x20000 announced for length 0.
      {2, true, 0, "54 01 17 0E 00 03 00 02 02 01 00 02 00 00 00 10 00 00 BF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(HexToBytes(Header(c.model, c.uda, payload, address, c.length)), BytesFromSpacedHex(c.expected))
        << "model " << c.model << (c.uda ? " UDA" : " ROFS") << " length " << c.length;
  }
}

TEST(BlockHeaderTest, CheckValueSplitsEvenAndOddOffsets) {
  EXPECT_EQ(CheckValueHex(""), "0000");
  EXPECT_EQ(CheckValueHex("\x7F"), "7F00");
  EXPECT_EQ(CheckValueHex(BytesFromSpacedHex("01 02 03")), "0202");  // odd length: the last byte is even
  EXPECT_EQ(CheckValueHex(BytesFromSpacedHex("FF 00 0F F0")), "F0F0");
}

TEST(BlockHeaderTest, CheckValueOfLongerPayloadsKeepsEachByteInItsParity) {
  // One set bit per byte, a different one at each offset: any byte counted
  // in the wrong half, or twice, or not at all, shows in the result.
  for (std::size_t length = 0; length <= 40; ++length) {
    for (std::size_t start : {0, 1}) {
      std::string bytes(start + length, '\0');
      unsigned even = 0, odd = 0;
      for (std::size_t i = 0; i < length; ++i) {
        const unsigned bit = 1u << (i * 3 % 8);
        bytes[start + i] = static_cast<char>(bit);
        (i % 2 ? odd : even) ^= bit;
      }
      char expected[5];
      std::snprintf(expected, sizeof expected, "%02X%02X", even, odd);
      EXPECT_EQ(CheckValueHex(std::string_view(bytes).substr(start)), expected) << length << " from " << start;
    }
  }
}

TEST(BlockHeaderTest, EdgeCasesOfTheHeaderBuilders) {
  const std::string address = BytesFromSpacedHex("00 00 00 00");
  // An empty payload with length 0 still announces the full block size.
  const std::string empty = HexToBytes(Header(0, false, "", address, 0));
  EXPECT_EQ(empty.substr(7, 2), BytesFromSpacedHex("00 00"));
  EXPECT_EQ(ReadBigEndian32(empty, 10), 0x40000u);
  // An explicit length equal to the block size gives exactly the length-0 header.
  EXPECT_EQ(Header(1, true, "abc", address, 0x8000), Header(1, true, "abc", address, 0));
  // The address is copied unchanged, whatever its length.
  EXPECT_EQ(HexToBytes(Header(0, false, "", BytesFromSpacedHex("01 02"), 5)).size(), 17u);
}

TEST(BlockHeaderTest, ChecksumMakesBytesOneToLastAddUpToFF) {
  // Bytes 1..N-2 adding up to 0 give FF; adding up to FF give 00.
  EXPECT_EQ(FixHeaderChecksum("AA0000ff"), "AA0000FF");
  EXPECT_EQ(FixHeaderChecksum("AAF00Fff"), "AAF00F00");
  // The leading byte never enters the sum.
  EXPECT_EQ(FixHeaderChecksum("000102ff").substr(6), FixHeaderChecksum("FF0102ff").substr(6));
  // The four FF bytes of the 26-byte type field do enter it (together 0x3FC).
  const std::string n96 = HexToBytes(Header(1, true, "", BytesFromSpacedHex("00 00 00 00"), 1));
  unsigned sum = 0;
  for (std::size_t i = 1; i < n96.size(); ++i) sum += static_cast<unsigned char>(n96[i]);
  EXPECT_EQ(sum % 256, 0xFFu);
  EXPECT_EQ(n96.size(), 26u);
}

TEST(BlockHeaderTest, BigEndianHelpers) {
  EXPECT_EQ(BigEndian32(0x01020304), BytesFromSpacedHex("01 02 03 04"));
  EXPECT_EQ(ReadBigEndian32(BytesFromSpacedHex("FF FF C0 00"), 0), 0xFFFFC000u);
  EXPECT_FALSE(LayoutForHeaderSize(20));
}

}  // namespace
}  // namespace larkspur
