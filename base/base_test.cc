#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "base/byte_reader.h"
#include "base/hex.h"
#include "base/quoted_words.h"

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
