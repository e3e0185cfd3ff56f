// Bounds-checked little-endian reads from a span of untrusted bytes. Every
// getter checks `offset <= size && length <= size - offset` in 64 bits before
// touching memory and reports a read past the end through the thrower the
// parser gave, naming the offset; so a parser built on it cannot read outside
// the span whatever the bytes say, and each library throws its own error.
// Holds no state besides the span; the bytes must outlive the reader.
#ifndef LARKSPUR_BASE_BYTE_READER_H_
#define LARKSPUR_BASE_BYTE_READER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace larkspur {

// Throws the parser's error for `reason` at `offset` of the bytes named
// `source_name`. Must not return.
using RangeErrorThrower = void (*)(std::string_view source_name, std::uint64_t offset, const std::string& reason);

class ByteReader {
 public:
  // `source_name` names the bytes in error messages (the image file name).
  ByteReader(std::span<const std::uint8_t> bytes, std::string_view source_name, RangeErrorThrower throw_error)
      : bytes_(bytes), source_name_(source_name), throw_error_(throw_error) {}

  std::uint64_t size() const { return bytes_.size(); }
  const std::string& source_name() const { return source_name_; }

  // True when `length` bytes at `offset` lie inside the span.
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

  // Each throws, through the thrower, "<what> at 0x..: N bytes run past the
  // end of the image (0x.. bytes)" when the value does not lie inside the
  // span. `what` describes the field for that message.
  std::uint8_t U8(std::uint64_t offset, std::string_view what) const;
  std::uint16_t U16(std::uint64_t offset, std::string_view what) const;
  std::uint32_t U32(std::uint64_t offset, std::string_view what) const;
  std::int64_t I64(std::uint64_t offset, std::string_view what) const;
  std::span<const std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t length,
                                      std::string_view what) const;

 private:
  void Require(std::uint64_t offset, std::uint64_t length, std::string_view what) const;

  std::span<const std::uint8_t> bytes_;
  std::string source_name_;
  RangeErrorThrower throw_error_;
};

}  // namespace larkspur

#endif  // LARKSPUR_BASE_BYTE_READER_H_
