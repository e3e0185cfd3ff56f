#include "base/byte_reader.h"

#include <exception>

#include "base/byte_order.h"
#include "base/hex.h"

namespace larkspur {

void ByteReader::Require(std::uint64_t offset, std::uint64_t length, std::string_view what) const {
  if (!Contains(offset, length)) {
    throw_error_(source_name_, offset,
                 std::string(what) + " at " + HexNumber(offset) + ": " + std::to_string(length) +
                     " bytes run past the end of the image (" + HexNumber(bytes_.size()) + " bytes)");
    // A thrower that returns would let the read below leave the bytes.
    std::terminate();
  }
}

void ByteReader::Value(std::uint64_t offset, std::size_t length, std::string_view what, std::uint8_t* to) const {
  Require(offset, length, what);
  bytes_.CopyOut(offset, {to, length});
}

std::uint8_t ByteReader::U8(std::uint64_t offset, std::string_view what) const {
  std::uint8_t value[1];
  Value(offset, 1, what, value);
  return value[0];
}

std::uint16_t ByteReader::U16(std::uint64_t offset, std::string_view what) const {
  std::uint8_t value[2];
  Value(offset, 2, what, value);
  return LittleEndian16(value);
}

std::uint32_t ByteReader::U32(std::uint64_t offset, std::string_view what) const {
  std::uint8_t value[4];
  Value(offset, 4, what, value);
  return LittleEndian32(value);
}

std::int64_t ByteReader::I64(std::uint64_t offset, std::string_view what) const {
  std::uint8_t value[8];
  Value(offset, 8, what, value);
  return static_cast<std::int64_t>(LittleEndian64(value));
}

std::vector<std::uint8_t> ByteReader::Bytes(std::uint64_t offset, std::uint64_t length, std::string_view what) const {
  Require(offset, length, what);
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(length));
  bytes_.CopyOut(offset, bytes);
  return bytes;
}

bool ByteReader::SameBytes(std::uint64_t offset, std::uint64_t other_offset, std::uint64_t length,
                           std::string_view what) const {
  Require(offset, length, what);
  Require(other_offset, length, what);
  return larkspur::SameBytes(bytes_.Slice(offset, length), bytes_.Slice(other_offset, length));
}

}  // namespace larkspur
