#include "format/hex_text.h"

#include <gtest/gtest.h>

namespace larkspur {
namespace {

TEST(HexTextTest, BytesToHexWritesTwoCapitalDigitsPerByte) {
  EXPECT_EQ(BytesToHex(std::string("\x00\x0A\xFF", 3)), "000AFF");
  EXPECT_EQ(BytesToHex(""), "");
}

TEST(HexTextTest, HexToBytesReadsPairsAndIgnoresAnOddLastDigit) {
  EXPECT_EQ(HexToBytes("5401170E000300"), std::string("\x54\x01\x17\x0E\x00\x03\x00", 7));
  EXPECT_EQ(HexToBytes("ff"), "\xFF");
  EXPECT_EQ(HexToBytes("FF"), "\xFF");
  EXPECT_EQ(HexToBytes("ABC"), "\xAB");
  EXPECT_EQ(HexToBytes("A"), "");
  EXPECT_EQ(HexToBytes(""), "");
}

TEST(HexTextTest, RoundTripGivesCapitalLetters) {
  EXPECT_EQ(BytesToHex(HexToBytes("0123456789abcdefABCDEF")), "0123456789ABCDEFABCDEF");
}

TEST(HexTextTest, ABadPairIsAConversionErrorNamingIt) {
  try {
    HexToBytes("00G1");
    FAIL() << "no error";
  } catch (const ConvertError& error) {
    EXPECT_STREQ(error.what(), "'$G1' is not a valid integer value");
  }
}

}  // namespace
}  // namespace larkspur
