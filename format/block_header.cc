#include "format/block_header.h"

#include <cstdio>

#include "format/hex_text.h"

namespace larkspur {

std::string CheckValueHex(std::string_view payload) {
  unsigned char even = 0;
  unsigned char odd = 0;
  const std::size_t size = payload.size();
  std::size_t i = 0;
  for (; i + 1 < size; i += 2) {
    even ^= static_cast<unsigned char>(payload[i]);
    odd ^= static_cast<unsigned char>(payload[i + 1]);
  }
  if (i < size) even ^= static_cast<unsigned char>(payload[i]);
  const char pair[2] = {static_cast<char>(even), static_cast<char>(odd)};
  return BytesToHex(std::string_view(pair, 2));
}

std::string FixHeaderChecksum(std::string_view header_hex) {
  const std::string bytes = HexToBytes(header_hex);
  unsigned int sum = 0;
  // The leading signature byte and the placeholder never enter the sum.
  for (std::size_t i = 1; i + 1 < bytes.size(); ++i) sum += static_cast<unsigned char>(bytes[i]);
  const char checksum = static_cast<char>((0xFF - sum) & 0xFF);
  std::string fixed(header_hex.substr(0, header_hex.size() >= 2 ? header_hex.size() - 2 : 0));
  return fixed + BytesToHex(std::string_view(&checksum, 1));
}

std::string BuildBlockHeaderHex(std::string_view signature_hex, std::string_view type_field_hex,
                                std::int32_t block_size, std::string_view payload,
                                std::string_view address, std::int32_t length) {
  const std::int32_t announced = length != 0 ? length : block_size;
  char length_hex[9];
  std::snprintf(length_hex, sizeof length_hex, "%08X", static_cast<std::uint32_t>(announced));
  std::string header;
  header.reserve(64);
  header += signature_hex;
  header += CheckValueHex(payload);
  header += type_field_hex;
  header += length_hex;
  header += BytesToHex(address);
  header += "ff";
  return FixHeaderChecksum(header);
}

std::optional<HeaderLayout> LayoutForHeaderSize(int header_size) {
  if (header_size == 19) return HeaderLayout{19, 10, 14};
  if (header_size == 26) return HeaderLayout{26, 17, 21};
  return std::nullopt;
}

std::uint32_t ReadBigEndian32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return value;
}

std::string BigEndian32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 3; i >= 0; --i) {
    bytes[i] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return bytes;
}

}  // namespace larkspur
