#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/byte_reader.h"
#include "base/hex.h"
#include "base/quoted_words.h"
#include "base/segmented_bytes.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

TEST(HexTest, EachFormWritesItsOwnText) {
  const std::string bytes("\x54\x01\x0e\xff", 4);
  EXPECT_EQ(BytesToHex(bytes), "54010EFF");
  EXPECT_EQ(BytesToHex(""), "");
  EXPECT_EQ(SpacedHex(bytes), "54 01 0E FF");
  EXPECT_EQ(SpacedHex(std::string_view("\x0a", 1)), "0A");
  EXPECT_EQ(SpacedHex(""), "");
  EXPECT_EQ(HexDigits(0xAB, 4), "00AB");
  EXPECT_EQ(HexDigits(0x12345, 4), "12345");
  EXPECT_EQ(HexDigits(0, 0), "0");
  EXPECT_EQ(LowerHexDigits(0xC0D79D0D, 8), "c0d79d0d");
  EXPECT_EQ(LowerHexDigits(0xAB, 8), "000000ab");
  EXPECT_EQ(PrintableBytes(std::string("a\0b~\x7F\xC3\x9F\n", 8)), "a\\x00b~\\x7F\\xC3\\x9F\\x0A");
  // UTF-8 and backslashes stay; control characters do not.
  EXPECT_EQ(ControlCharactersEscaped(std::string("C:\\a\0\x1B[2J\x7F\xE6\x96\x87\n\t", 15)),
            "C:\\a\\x00\\x1B[2J\\x7F\xE6\x96\x87\\x0A\\x09");
  EXPECT_EQ(HexNumber(0x1A40), "0x1A40");
  EXPECT_EQ(HexNumber(0), "0x0");
  EXPECT_EQ(HexNumber(0x20000, 8), "0x00020000");
  EXPECT_EQ(HexNumber(UINT64_MAX), "0xFFFFFFFFFFFFFFFF");
}

TEST(ByteOrderTest, ReadsWhatItWrites) {
  std::uint8_t bytes[8] = {};
  PutLittleEndian16(bytes, 0xA1B2);
  EXPECT_EQ(bytes[0], 0xB2);
  EXPECT_EQ(LittleEndian16(bytes), 0xA1B2);
  PutLittleEndian32(bytes, 0x01020304);
  EXPECT_EQ(bytes[0], 0x04);
  EXPECT_EQ(LittleEndian32(bytes), 0x01020304u);
  PutLittleEndian64(bytes, 0x8877665544332211);
  EXPECT_EQ(bytes[7], 0x88);
  EXPECT_EQ(LittleEndian64(bytes), 0x8877665544332211u);
  EXPECT_EQ(BigEndian32(0x01020304), std::string("\x01\x02\x03\x04", 4));
  EXPECT_EQ(ReadBigEndian32("xx" + BigEndian32(0xFEDCBA98), 2), 0xFEDCBA98u);
  EXPECT_EQ(ReadLittleEndian16(std::string("\x00\x34\x12", 3), 1), 0x1234);
  EXPECT_EQ(ReadLittleEndian32(std::string("\x00\x78\x56\x34\x12", 5), 1), 0x12345678u);
}

[[noreturn]] void ThrowRangeError(std::string_view source, std::uint64_t offset, const std::string& reason) {
  throw std::runtime_error(std::string(source) + " @" + std::to_string(offset) + ": " + reason);
}

TEST(ByteReaderTest, ReadsInsideAndNamesTheOffsetOutside) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const ByteReader reader(bytes, "a.img", ThrowRangeError);
  EXPECT_EQ(reader.U8(8, "x"), 9);
  EXPECT_EQ(reader.U16(0, "x"), 0x0201);
  EXPECT_EQ(reader.U32(5, "x"), 0x09080706u);
  EXPECT_EQ(reader.I64(1, "x"), 0x0908070605040302);
  EXPECT_EQ(reader.Bytes(9, 0, "x").size(), 0u);
  struct Case {
    std::uint64_t offset;
    std::uint64_t length;
    const char* message;
  };
  const Case cases[] = {
      {8, 2, "a.img @8: entry at 0x8: 2 bytes run past the end of the image (0x9 bytes)"},
      {10, 0, "a.img @10: entry at 0xA: 0 bytes run past the end of the image (0x9 bytes)"},
      {1, UINT64_MAX, "a.img @1: entry at 0x1: 18446744073709551615 bytes run past the end of the image (0x9 bytes)"},
  };
  for (const Case& c : cases) {
    try {
      reader.Bytes(c.offset, c.length, "entry");
      ADD_FAILURE() << "no error at " << c.offset;
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

// An image in pieces reads as the bytes laid end to end, wherever a read
// falls: inside a piece, across one join or several, at either end.
TEST(SegmentedBytesTest, EveryReadGivesTheBytesOfTheWhole) {
  std::vector<std::uint8_t> whole(23);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(0xA0 + i);
  const std::span<const std::uint8_t> bytes(whole);
  // Pieces of 1, 4, 0 (left out), 2, 7 and 9 bytes.
  const SegmentedBytes image({bytes.subspan(0, 1), bytes.subspan(1, 4), bytes.subspan(5, 0), bytes.subspan(5, 2),
                              bytes.subspan(7, 7), bytes.subspan(14, 9)});
  ASSERT_EQ(image.size(), whole.size());
  EXPECT_EQ(image.pieces().size(), 5u);
  const std::vector<std::size_t> joins = {1, 5, 7, 14};
  for (std::size_t offset = 0; offset <= whole.size(); ++offset) {
    for (std::size_t length = 0; offset + length <= whole.size(); ++length) {
      const std::vector<std::uint8_t> expected(whole.begin() + offset, whole.begin() + offset + length);
      std::vector<std::uint8_t> copied(length);
      image.CopyOut(offset, copied);
      ASSERT_EQ(copied, expected) << offset << "+" << length;
      const SegmentedBytes slice = image.Slice(offset, length);
      ASSERT_EQ(slice.size(), length);
      std::vector<std::uint8_t> sliced(length);
      slice.CopyOut(0, sliced);
      ASSERT_EQ(sliced, expected) << offset << "+" << length;
      ASSERT_TRUE(SameBytes(slice, SegmentedBytes(std::span<const std::uint8_t>(expected))));
      bool crosses = false;
      for (std::size_t join : joins) crosses = crosses || (offset < join && join < offset + length);
      const auto contiguous = image.Contiguous(offset, length);
      ASSERT_EQ(contiguous.has_value(), !crosses) << offset << "+" << length;
      if (contiguous) {
        ASSERT_EQ(std::vector<std::uint8_t>(contiguous->begin(), contiguous->end()), expected);
      }
    }
  }
  std::vector<std::uint8_t> four(4);
  EXPECT_THROW(image.CopyOut(20, four), std::out_of_range);
  EXPECT_THROW(image.Slice(24, 0), std::out_of_range);
  EXPECT_THROW(image.Contiguous(1, UINT64_MAX), std::out_of_range);
}

TEST(SegmentedBytesTest, SameBytesComparesAcrossDifferentCuts) {
  const std::string text = testing::PatternBytes(300, 4);
  const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
  std::string changed = text;
  changed[299] ^= 1;
  const std::span<const std::uint8_t> other(reinterpret_cast<const std::uint8_t*>(changed.data()), changed.size());
  EXPECT_TRUE(SameBytes(testing::InPieces(bytes, {7, 1, 64}), testing::InPieces(bytes, {13})));
  EXPECT_FALSE(SameBytes(testing::InPieces(bytes, {7, 1, 64}), testing::InPieces(other, {13})));
  EXPECT_FALSE(SameBytes(testing::InPieces(bytes, {7}), testing::InPieces(bytes.first(299), {7})));
  EXPECT_TRUE(SameBytes(SegmentedBytes(), SegmentedBytes(bytes.first(0))));
  const SegmentedBytes joined = SegmentedBytes::Joined({testing::InPieces(bytes.first(100), {30}),
                                                        testing::InPieces(bytes.subspan(100), {50})});
  EXPECT_TRUE(SameBytes(joined, SegmentedBytes(bytes)));
}

// The values of a parser's fields read the same when they run across a
// join, and a read past the end is named as it is for a span.
TEST(ByteReaderTest, ReadsAcrossTheJoinsOfAnImageInPieces) {
  const std::vector<std::uint8_t> bytes = {1, 2, 3, 4, 5, 6, 7, 8, 9};
  const ByteReader whole(bytes, "a.img", ThrowRangeError);
  for (const std::vector<std::size_t>& sizes : {std::vector<std::size_t>{1}, {2, 3}, {5}}) {
    const ByteReader pieces(testing::InPieces(bytes, sizes), "a.img", ThrowRangeError);
    for (std::uint64_t offset = 0; offset < bytes.size(); ++offset) {
      EXPECT_EQ(pieces.U8(offset, "x"), whole.U8(offset, "x"));
      if (offset + 2 <= bytes.size()) {
        EXPECT_EQ(pieces.U16(offset, "x"), whole.U16(offset, "x"));
      }
      if (offset + 4 <= bytes.size()) {
        EXPECT_EQ(pieces.U32(offset, "x"), whole.U32(offset, "x"));
      }
      if (offset + 8 <= bytes.size()) {
        EXPECT_EQ(pieces.I64(offset, "x"), whole.I64(offset, "x"));
      }
      EXPECT_EQ(pieces.Bytes(offset, bytes.size() - offset, "x"), whole.Bytes(offset, bytes.size() - offset, "x"));
    }
    EXPECT_TRUE(pieces.SameBytes(0, 0, 9, "x"));
    EXPECT_FALSE(pieces.SameBytes(0, 1, 8, "x"));
    try {
      pieces.U32(6, "entry");
      ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& error) {
      EXPECT_EQ(std::string(error.what()), "a.img @6: entry at 0x6: 4 bytes run past the end of the image (0x9 bytes)");
    }
    EXPECT_THROW(pieces.SameBytes(1, 2, 8, "copy"), std::runtime_error);
  }
}

TEST(QuotedWordsTest, SplitsAtTheSeparatorsOutsideQuotes) {
  using Words = std::vector<std::string>;
  struct Case {
    const char* text;
    std::string_view separators;
    Words words;
    bool unclosed;
  };
  const Case cases[] = {
      {"tool -z  \"a b\" c", kBlanks, {"tool", "-z", "a b", "c"}, false},
      {" \t ", kBlanks, {}, false},
      {"\"\" x\"y z\"w", kBlanks, {"", "xy zw"}, false},
      {"rofsname=\"a=b.img\"", " \t=", {"rofsname", "a=b.img"}, false},
      {"a=b", kBlanks, {"a=b"}, false},
      {"data=\"x y", " \t=", {"data", "x y"}, true},
  };
  for (const Case& c : cases) {
    const QuotedWords split = SplitQuotedWords(c.text, c.separators);
    EXPECT_EQ(split.words, c.words) << c.text;
    EXPECT_EQ(split.unclosed_quote, c.unclosed) << c.text;
  }
}

}  // namespace
}  // namespace larkspur
