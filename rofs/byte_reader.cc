#include "rofs/byte_reader.h"

#include "rofs/rofs_errors.h"

namespace larkspur::rofs {

void ByteReader::Require(std::uint64_t offset, std::uint64_t length, std::string_view what) const {
  if (!Contains(offset, length)) {
    throw FormatError(source_name_, offset,
                      std::string(what) + " at " + Hex(offset) + ": " + std::to_string(length) +
                          " bytes run past the end of the image (" + Hex(bytes_.size()) +
                          " bytes)");
  }
}

std::uint8_t ByteReader::U8(std::uint64_t offset, std::string_view what) const {
  Require(offset, 1, what);
  return bytes_[offset];
}

std::uint16_t ByteReader::U16(std::uint64_t offset, std::string_view what) const {
  Require(offset, 2, what);
  return static_cast<std::uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
}

std::uint32_t ByteReader::U32(std::uint64_t offset, std::string_view what) const {
  Require(offset, 4, what);
  std::uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | bytes_[offset + i];
  return value;
}

std::int64_t ByteReader::I64(std::uint64_t offset, std::string_view what) const {
  Require(offset, 8, what);
  std::uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | bytes_[offset + i];
  return static_cast<std::int64_t>(value);
}

std::span<const std::uint8_t> ByteReader::Bytes(std::uint64_t offset, std::uint64_t length,
                                                std::string_view what) const {
  Require(offset, length, what);
  return bytes_.subspan(offset, length);
}

}  // namespace larkspur::rofs
