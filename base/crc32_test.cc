#include "base/crc32.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::PatternBytes;

// The expected values are Python's zlib.crc32 of the same bytes, printed
// once as "%08x" (the pattern bytes by a Python copy of PatternBytes:
// state = seed * 2654435761 + 1, then state = state * 1664525 + 1013904223
// per byte, the byte being state >> 24, all modulo 2**32).
TEST(Crc32Test, AgreesWithZlib) {
  EXPECT_EQ(Crc32Of(""), 0u);
  EXPECT_EQ(Crc32Of("123456789"), 0xcbf43926u);  // the check value of CRC-32/ISO-HDLC
  EXPECT_EQ(Crc32Of("The quick brown fox jumps over the lazy dog"), 0x414fa339u);
  EXPECT_EQ(Crc32Of(std::string(32, '\0')), 0x190a55adu);
  EXPECT_EQ(Crc32Of(std::string(32, '\xFF')), 0xff6cab0bu);
  const struct {
    std::size_t size;
    unsigned seed;
    std::uint32_t crc;
  } kPatterns[] = {
      {1, 1, 0x4ad0cf31},    {7, 2, 0x0d946080},    {8, 3, 0x3739cc0b},
      {9, 4, 0x666f0689},    {63, 5, 0xf33acdb1},   {4101, 6, 0x886f695b},
      {(1u << 20) + 3, 7, 0x7e6c3cc0},
  };
  for (const auto& pattern : kPatterns) {
    EXPECT_EQ(Crc32Of(PatternBytes(pattern.size, pattern.seed)), pattern.crc) << pattern.size << " bytes";
  }
}

// Fed in pieces, at every cut of a buffer longer than two steps of eight
// and in uneven stretches of a large one, the value is the one-call value:
// the tail loop and the eight-byte loop hand the state on correctly.
TEST(Crc32Test, PiecesGiveTheWholeValue) {
  const std::string bytes = PatternBytes(29, 9);
  const std::uint32_t whole = Crc32Of(bytes);
  for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
    for (std::size_t second = cut; second <= bytes.size(); ++second) {
      Crc32 crc;
      crc.Update(std::string_view(bytes).substr(0, cut));
      crc.Update(std::string_view(bytes).substr(cut, second - cut));
      crc.Update(std::string_view(bytes).substr(second));
      ASSERT_EQ(crc.value(), whole) << "cut at " << cut << " and " << second;
    }
  }
  const std::string large = PatternBytes((1u << 20) + 3, 7);
  Crc32 crc;
  for (std::size_t at = 0, step = 1; at < large.size(); at += step, step = step * 3 + 1) {
    crc.Update(std::string_view(large).substr(at, step));
  }
  EXPECT_EQ(crc.value(), 0x7e6c3cc0u);
}

}  // namespace
}  // namespace larkspur
