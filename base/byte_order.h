// Numbers in bytes, one byte at a time, in the two byte orders the project
// meets: little-endian (ROFS and FAT images) and big-endian (block headers).
// These take no bounds: the caller has checked that the bytes lie inside its
// buffer (a parser of untrusted bytes goes through ByteReader instead). Pure
// functions, callable from any thread.
#ifndef LARKSPUR_BASE_BYTE_ORDER_H_
#define LARKSPUR_BASE_BYTE_ORDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace larkspur {

// Little-endian numbers at `at`, least significant byte first.
constexpr std::uint16_t LittleEndian16(const std::uint8_t* at) {
  return static_cast<std::uint16_t>(at[0] | at[1] << 8);
}
constexpr std::uint32_t LittleEndian32(const std::uint8_t* at) {
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}
constexpr std::uint64_t LittleEndian64(const std::uint8_t* at) {
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | at[i];
  return value;
}

// Writes `value` at `at`, least significant byte first.
constexpr void PutLittleEndian16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}
constexpr void PutLittleEndian32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}
constexpr void PutLittleEndian64(std::uint8_t* at, std::uint64_t value) {
  for (int i = 0; i < 8; ++i) at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

// The same for byte strings: the number at `offset` of `bytes`.
inline std::uint16_t ReadLittleEndian16(std::string_view bytes, std::size_t offset) {
  return LittleEndian16(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
}
inline std::uint32_t ReadLittleEndian32(std::string_view bytes, std::size_t offset) {
  return LittleEndian32(reinterpret_cast<const std::uint8_t*>(bytes.data()) + offset);
}

// Big-endian 32-bit number at `offset` of `bytes`, most significant first.
inline std::uint32_t ReadBigEndian32(std::string_view bytes, std::size_t offset) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[offset + i]);
  return value;
}

// 4 bytes, most significant first.
inline std::string BigEndian32(std::uint32_t value) {
  std::string bytes(4, '\0');
  for (int i = 3; i >= 0; --i) {
    bytes[i] = static_cast<char>(value & 0xFF);
    value >>= 8;
  }
  return bytes;
}

}  // namespace larkspur

#endif  // LARKSPUR_BASE_BYTE_ORDER_H_
