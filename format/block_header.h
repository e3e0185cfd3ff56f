// Block headers of firmware image files, in their two layouts:
//
//   19 bytes: signature(7) check(2) type(1) length(4) address(4) checksum(1)
//   26 bytes: signature(7) check(2) type(8) length(4) address(4) checksum(1)
//
// All numbers big-endian. The check value holds the XOR of the payload bytes
// at even offsets, then of those at odd offsets; the header checksum makes
// bytes 1..N-1 of the header add up to 0xFF modulo 256. Builders give hex
// text, as the rest of the program assembles headers. Pure functions.
#ifndef LARKSPUR_FORMAT_BLOCK_HEADER_H_
#define LARKSPUR_FORMAT_BLOCK_HEADER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "base/byte_order.h"  // ReadBigEndian32, BigEndian32 for header fields

namespace larkspur {

inline constexpr int kSignatureLength = 7;
inline constexpr int kCheckValueOffset = 7;
inline constexpr int kTypeFieldOffset = 9;

// The check value of a payload as 4 hex digits, the even-offset byte first.
std::string CheckValueHex(std::string_view payload);

// `header_hex` with its last two digits replaced by the header checksum of
// the bytes it encodes: 0xFF minus the sum of every byte but the first and
// the last, modulo 256. Throws ConvertError for text that is not hex.
std::string FixHeaderChecksum(std::string_view header_hex);

// The header of one block as hex text: signature, check value of `payload`,
// type field, `length` as 8 hex digits (the block size when `length` is 0),
// `address` copied as it is, and the header checksum. Validates nothing: an
// address of other than 4 bytes makes the header longer or shorter.
std::string BuildBlockHeaderHex(std::string_view signature_hex, std::string_view type_field_hex,
                                std::int32_t block_size, std::string_view payload,
                                std::string_view address, std::int32_t length);

// Where the fields of a header of a given size lie.
struct HeaderLayout {
  int header_size;     // 19 or 26
  int length_offset;   // 10 or 17
  int address_offset;  // 14 or 21
};

// The layout of a header of `header_size` bytes (19 or 26), or nothing.
std::optional<HeaderLayout> LayoutForHeaderSize(int header_size);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_BLOCK_HEADER_H_
