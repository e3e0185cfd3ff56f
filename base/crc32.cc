#include "base/crc32.h"

#include <array>

namespace larkspur {
namespace {

constexpr std::uint32_t kReflectedPolynomial = 0xEDB88320;

// Slicing by eight: kTables[0] is the classic byte-at-a-time table;
// kTables[k][b] is the CRC state of byte b followed by k zero bytes, so the
// eight bytes of a step are folded in independently and combined by XOR.
using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables tables{};
  for (std::uint32_t byte = 0; byte < 256; ++byte) {
    std::uint32_t crc = byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ ((crc & 1) ? kReflectedPolynomial : 0);
    tables[0][byte] = crc;
  }
  for (std::size_t k = 1; k < 8; ++k) {
    for (std::size_t byte = 0; byte < 256; ++byte) {
      const std::uint32_t previous = tables[k - 1][byte];
      tables[k][byte] = (previous >> 8) ^ tables[0][previous & 0xFF];
    }
  }
  return tables;
}

constexpr Tables kTables = MakeTables();

}  // namespace

void Crc32::Update(std::span<const std::uint8_t> bytes) {
  std::uint32_t crc = state_;
  const std::uint8_t* at = bytes.data();
  std::size_t left = bytes.size();
  while (left >= 8) {
    // The first four bytes go into the state, least significant first (the
    // reflected CRC reads bits in that order); assembled one byte at a time,
    // which the compiler turns into a single load.
    const std::uint32_t low = crc ^ (std::uint32_t{at[0]} | std::uint32_t{at[1]} << 8 |
                                     std::uint32_t{at[2]} << 16 | std::uint32_t{at[3]} << 24);
    crc = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
          kTables[4][low >> 24] ^ kTables[3][at[4]] ^ kTables[2][at[5]] ^ kTables[1][at[6]] ^
          kTables[0][at[7]];
    at += 8;
    left -= 8;
  }
  while (left-- > 0) crc = (crc >> 8) ^ kTables[0][(crc ^ *at++) & 0xFF];
  state_ = crc;
}

void Crc32::Update(std::string_view bytes) {
  Update(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::uint32_t Crc32Of(std::string_view bytes) {
  Crc32 crc;
  crc.Update(bytes);
  return crc.value();
}

}  // namespace larkspur
