// Block headers of firmware image files. A header in front of each block's
// payload, in one of two layouts:
//
//   19 bytes: signature(7) check(2) type(1) length(4) address(4) checksum(1)
//   26 bytes: signature(7) check(2) type(8) length(4) address(4) checksum(1)
//
// All numbers big-endian. The check value holds the XOR of the payload bytes
// at even offsets, then of those at odd offsets; the header checksum makes
// bytes 1..N-1 of the header add up to 0xFF modulo 256.
//
// A BlockFormat is everything a phone model's firmware file of one kind
// holds in its headers, as bytes: this file is the one to change for a new
// header layout (model_profile.cc says which model uses which). The hex
// text builders below are the form the window's header builders give.
// Pure functions, callable from any thread.
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

// The block layout of one model's files of one kind.
struct BlockFormat {
  std::string signature;   // the 7 bytes every header starts with
  std::string type_field;  // 01, or 00 00 00 00 FF FF FF FF (the N96's UDA headers)
  int header_size = 0;     // 7 + 2 + type field + 4 + 4 + 1: 19 or 26
  int length_offset = 0;   // the payload length field
  int address_offset = 0;  // the load address field
  // Payload bytes of a full block; a header of length 0 announces it.
  std::uint32_t block_size = 0;
  // The N96's ROFS files begin with a block of 0x400 bytes.
  bool short_first_block = false;
  // What pads the last block to a multiple of 256 bytes.
  char padding_byte = 0;

  bool operator==(const BlockFormat&) const = default;
};

// The layout of a header with a type field of `type_field_size` bytes (1 or
// 8): the header size and where length and address lie. Nothing for other
// sizes.
struct HeaderLayout {
  int header_size;     // 19 or 26
  int length_offset;   // 10 or 17
  int address_offset;  // 14 or 21
};
std::optional<HeaderLayout> LayoutForHeaderSize(int header_size);

// The check value of a payload: the even-offset byte, then the odd one.
std::string CheckValueBytes(std::string_view payload);

// The header checksum of `header` (its last byte being the checksum's
// place): 0xFF minus the sum of every byte but the first and the last,
// modulo 256.
char HeaderChecksum(std::string_view header);

// The header of one block as bytes: `format`'s signature and type field,
// the check value of `payload`, `length` (the block size when 0), `address`
// copied as it is and the checksum. Validates nothing: an address of other
// than 4 bytes makes the header longer or shorter.
std::string BuildBlockHeader(std::string_view signature, std::string_view type_field, std::uint32_t block_size,
                             std::string_view payload, std::string_view address, std::uint32_t length);
std::string BuildBlockHeader(const BlockFormat& format, std::string_view payload, std::uint32_t address,
                             std::uint32_t length);

// The same in hex text, as the window's builders give headers.

// The check value of a payload as 4 hex digits, the even-offset byte first.
std::string CheckValueHex(std::string_view payload);

// `header_hex` with its last two digits replaced by the header checksum of
// the bytes it encodes. Throws ConvertError for text that is not hex.
std::string FixHeaderChecksum(std::string_view header_hex);

// BuildBlockHeader in hex text from the profile's hex texts. Throws
// ConvertError for text that is not hex.
std::string BuildBlockHeaderHex(std::string_view signature_hex, std::string_view type_field_hex,
                                std::int32_t block_size, std::string_view payload,
                                std::string_view address, std::int32_t length);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_BLOCK_HEADER_H_
