// Byte strings: every file content, payload, signature and load address the
// program handles. A byte string is a std::string used as a counted run of
// 8-bit bytes (zero bytes included); the helpers below give the 1-based
// search, take and remove rules that the firmware routines are written in.
// Pure functions, callable from any thread.
#ifndef LARKSPUR_FORMAT_BYTE_STRING_H_
#define LARKSPUR_FORMAT_BYTE_STRING_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace larkspur {

using ByteString = std::string;

// The largest byte string the program handles: the length is a 32-bit signed
// count, so files of 2 GiB or more are refused.
inline constexpr std::int64_t kMaxByteStringLength = 0x7FFFFFFF;

// 1-based position of the first occurrence of `pattern` in `text` that begins
// at or after `start`, or 0 when there is none (also when fewer bytes remain
// than the pattern is long). A start of 0 counts as 1. `pattern` is not empty.
std::int64_t PosFrom(std::string_view pattern, std::string_view text, std::int64_t start = 1);

// `count` bytes from the 1-based `position`: fewer when the text ends sooner,
// none when `position` lies after the last byte or `count` is negative. A
// position below 1 counts as 1.
std::string_view Take(std::string_view text, std::int64_t position, std::int64_t count);

// Removes `count` bytes at the 1-based `position`, fewer when the text ends
// sooner; nothing when `position` is below 1 or after the last byte, or
// `count` is 0 or negative.
void Remove(ByteString& text, std::int64_t position, std::int64_t count);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_BYTE_STRING_H_
