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
    // A thrower that returns would let the read below leave the span.
    std::terminate();
  }
}

std::uint8_t ByteReader::U8(std::uint64_t offset, std::string_view what) const {
  Require(offset, 1, what);
  return bytes_[offset];
}

std::uint16_t ByteReader::U16(std::uint64_t offset, std::string_view what) const {
  Require(offset, 2, what);
  return LittleEndian16(bytes_.data() + offset);
}

std::uint32_t ByteReader::U32(std::uint64_t offset, std::string_view what) const {
  Require(offset, 4, what);
  return LittleEndian32(bytes_.data() + offset);
}

std::int64_t ByteReader::I64(std::uint64_t offset, std::string_view what) const {
  Require(offset, 8, what);
  return static_cast<std::int64_t>(LittleEndian64(bytes_.data() + offset));
}

std::span<const std::uint8_t> ByteReader::Bytes(std::uint64_t offset, std::uint64_t length,
                                                std::string_view what) const {
  Require(offset, length, what);
  return bytes_.subspan(offset, length);
}

}  // namespace larkspur
