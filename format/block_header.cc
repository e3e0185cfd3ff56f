#include "format/block_header.h"

#include <cstring>

#include "format/hex_text.h"

namespace larkspur {

std::optional<HeaderLayout> LayoutForHeaderSize(int header_size) {
  if (header_size == 19) return HeaderLayout{19, 10, 14};
  if (header_size == 26) return HeaderLayout{26, 17, 21};
  return std::nullopt;
}

std::string CheckValueBytes(std::string_view payload) {
  // Every payload byte of a Repack passes through here: XOR eight bytes at a
  // time, then fold. Words start at even offsets, so each lane keeps its
  // parity whatever the machine's byte order.
  const std::size_t size = payload.size();
  std::uint64_t lanes = 0;
  std::size_t i = 0;
  for (; i + sizeof lanes <= size; i += sizeof lanes) {
    std::uint64_t word;
    std::memcpy(&word, payload.data() + i, sizeof word);
    lanes ^= word;
  }
  unsigned char lane_bytes[sizeof lanes];
  std::memcpy(lane_bytes, &lanes, sizeof lanes);
  unsigned char even = lane_bytes[0] ^ lane_bytes[2] ^ lane_bytes[4] ^ lane_bytes[6];
  unsigned char odd = lane_bytes[1] ^ lane_bytes[3] ^ lane_bytes[5] ^ lane_bytes[7];
  for (; i + 1 < size; i += 2) {
    even ^= static_cast<unsigned char>(payload[i]);
    odd ^= static_cast<unsigned char>(payload[i + 1]);
  }
  if (i < size) even ^= static_cast<unsigned char>(payload[i]);
  return {static_cast<char>(even), static_cast<char>(odd)};
}

char HeaderChecksum(std::string_view header) {
  unsigned int sum = 0;
  // The leading signature byte and the checksum's own place never enter it.
  for (std::size_t i = 1; i + 1 < header.size(); ++i) sum += static_cast<unsigned char>(header[i]);
  return static_cast<char>((0xFF - sum) & 0xFF);
}

std::string BuildBlockHeader(std::string_view signature, std::string_view type_field, std::uint32_t block_size,
                             std::string_view payload, std::string_view address, std::uint32_t length) {
  std::string header;
  header.reserve(signature.size() + 2 + type_field.size() + 4 + address.size() + 1);
  header += signature;
  header += CheckValueBytes(payload);
  header += type_field;
  header += BigEndian32(length != 0 ? length : block_size);
  header += address;
  header += '\0';
  header.back() = HeaderChecksum(header);
  return header;
}

std::string BuildBlockHeader(const BlockFormat& format, std::string_view payload, std::uint32_t address,
                             std::uint32_t length) {
  return BuildBlockHeader(format.signature, format.type_field, format.block_size, payload, BigEndian32(address),
                          length);
}

std::string CheckValueHex(std::string_view payload) { return BytesToHex(CheckValueBytes(payload)); }

std::string FixHeaderChecksum(std::string_view header_hex) {
  const std::string bytes = HexToBytes(header_hex);
  const char checksum = HeaderChecksum(bytes);
  std::string fixed(header_hex.substr(0, header_hex.size() >= 2 ? header_hex.size() - 2 : 0));
  return fixed + BytesToHex(std::string_view(&checksum, 1));
}

std::string BuildBlockHeaderHex(std::string_view signature_hex, std::string_view type_field_hex,
                                std::int32_t block_size, std::string_view payload,
                                std::string_view address, std::int32_t length) {
  return BytesToHex(BuildBlockHeader(HexToBytes(signature_hex), HexToBytes(type_field_hex),
                                     static_cast<std::uint32_t>(block_size), payload, address,
                                     static_cast<std::uint32_t>(length)));
}

}  // namespace larkspur
