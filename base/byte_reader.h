// Bounds-checked little-endian reads from untrusted bytes: a span, or an
// image held in pieces (segmented_bytes.h: a partition read where it lies in
// a firmware file's payloads), whose values may run across the joins. Every
// getter checks `offset <= size && length <= size - offset` in 64 bits before
// touching memory and reports a read past the end through the thrower the
// parser gave, naming the offset; so a parser built on it cannot read outside
// the bytes whatever they say, and each library throws its own error.
// Holds no state besides the view of the bytes; they must outlive the reader.
#ifndef LARKSPUR_BASE_BYTE_READER_H_
#define LARKSPUR_BASE_BYTE_READER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/segmented_bytes.h"

namespace larkspur {

// Throws the parser's error for `reason` at `offset` of the bytes named
// `source_name`. Must not return.
using RangeErrorThrower = void (*)(std::string_view source_name, std::uint64_t offset, const std::string& reason);

class ByteReader {
 public:
  // `source_name` names the bytes in error messages (the image file name).
  ByteReader(SegmentedBytes bytes, std::string_view source_name, RangeErrorThrower throw_error)
      : bytes_(std::move(bytes)), source_name_(source_name), throw_error_(throw_error) {}
  ByteReader(std::span<const std::uint8_t> bytes, std::string_view source_name, RangeErrorThrower throw_error)
      : ByteReader(SegmentedBytes(bytes), source_name, throw_error) {}

  std::uint64_t size() const { return bytes_.size(); }
  const std::string& source_name() const { return source_name_; }

  // True when `length` bytes at `offset` lie inside the bytes.
  bool Contains(std::uint64_t offset, std::uint64_t length) const { return bytes_.Contains(offset, length); }

  // Each throws, through the thrower, "<what> at 0x..: N bytes run past the
  // end of the image (0x.. bytes)" when the value does not lie inside the
  // bytes. `what` describes the field for that message.
  std::uint8_t U8(std::uint64_t offset, std::string_view what) const;
  std::uint16_t U16(std::uint64_t offset, std::string_view what) const;
  std::uint32_t U32(std::uint64_t offset, std::string_view what) const;
  std::int64_t I64(std::uint64_t offset, std::string_view what) const;
  // A copy of the bytes, for short fields (a name, an identifier): the
  // field may run across a join of the pieces.
  std::vector<std::uint8_t> Bytes(std::uint64_t offset, std::uint64_t length, std::string_view what) const;
  // True when the `length` bytes at `offset` equal those at `other_offset`
  // (the copies of a table, say), compared where they lie. Both ranges are
  // checked as above.
  bool SameBytes(std::uint64_t offset, std::uint64_t other_offset, std::uint64_t length,
                 std::string_view what) const;

 private:
  void Require(std::uint64_t offset, std::uint64_t length, std::string_view what) const;
  // The `length` (at most 8) bytes of a value at `offset`, checked, in `to`.
  void Value(std::uint64_t offset, std::size_t length, std::string_view what, std::uint8_t* to) const;

  SegmentedBytes bytes_;
  std::string source_name_;
  RangeErrorThrower throw_error_;
};

}  // namespace larkspur

#endif  // LARKSPUR_BASE_BYTE_READER_H_
