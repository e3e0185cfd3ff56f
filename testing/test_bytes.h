// Test helpers: byte strings written the way a test reads best. Header
// only, so benchmarks and fuzzers may use it too.
#ifndef LARKSPUR_TESTING_TEST_BYTES_H_
#define LARKSPUR_TESTING_TEST_BYTES_H_

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/segmented_bytes.h"
#include "format/hex_text.h"

namespace larkspur::testing {

// The bytes of hex pairs written with blanks between them: "54 01 17".
inline std::string BytesFromSpacedHex(std::string_view spaced_hex) {
  std::string hex;
  for (char c : spaced_hex) {
    if (c != ' ') hex += c;
  }
  return HexToBytes(hex);
}

// The bytes of `text`, as the vector the ROFS reader and writer take.
inline std::vector<std::uint8_t> ByteVector(std::string_view text) {
  return std::vector<std::uint8_t>(text.begin(), text.end());
}

// The pieces one after the other.
inline std::string Concatenated(const std::vector<std::string_view>& pieces) {
  std::string joined;
  for (std::string_view piece : pieces) joined += piece;
  return joined;
}

// Deterministic bytes that look like data.
inline std::string PatternBytes(std::size_t size, unsigned seed = 1) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (std::size_t i = 0; i < size; ++i) {
    state = state * 1664525u + 1013904223u;
    bytes[i] = static_cast<char>(state >> 24);
  }
  return bytes;
}

// `bytes` cut into pieces whose sizes repeat `sizes` (the last one shorter):
// an image as it lies across the payloads of a firmware file, for readers
// that must read it as the whole.
inline SegmentedBytes InPieces(std::span<const std::uint8_t> bytes, const std::vector<std::size_t>& sizes) {
  std::vector<SegmentedBytes::Piece> pieces;
  for (std::size_t at = 0, i = 0; at < bytes.size(); ++i) {
    const std::size_t length = std::min(sizes[i % sizes.size()], bytes.size() - at);
    pieces.push_back(bytes.subspan(at, length));
    at += length;
  }
  return SegmentedBytes(pieces);
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_TEST_BYTES_H_
