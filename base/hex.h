// Hex text of bytes and numbers: the one formatter of the project, in the
// few forms its messages, records and headers use. Every form writes the
// capital letters A to F. Pure functions, callable from any thread.
//
//   BytesToHex    "5401170E"     bytes as hex text, two digits a byte
//   SpacedHex     "54 01 17 0E"  bytes as a reader compares them by eye
//   HexDigits     "00FF"         a number, at least `min_digits` digits
//   HexNumber     "0x1A40"       a number (an offset, a size, a field) in a message
//   LowerHexDigits "c0d79d0d"    a number in small letters, as a firmware
//                                package's checksum list (.vpl) writes a CRC
//   PrintableBytes "a\x00b"      bytes of a text file (an obey file, a record)
//                                in a message
//   ControlCharactersEscaped "a\x0Ab"  a name or a path in a line the user
//                                reads: only control characters escaped
#ifndef LARKSPUR_BASE_HEX_H_
#define LARKSPUR_BASE_HEX_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace larkspur {

// Two capital hex digits per byte, in order; empty for empty input.
std::string BytesToHex(std::string_view bytes);

// Two capital hex digits per byte, the bytes separated by one blank.
std::string SpacedHex(std::string_view bytes);
std::string SpacedHex(std::span<const std::uint8_t> bytes);

// `value` in capital hex digits, zero-padded to `min_digits`.
std::string HexDigits(std::uint64_t value, int min_digits);

// HexDigits with the small letters a to f.
std::string LowerHexDigits(std::uint64_t value, int min_digits);

// Bytes from a text file for a message: printable ASCII as it is, every
// other byte as \xNN, so hostile bytes cannot cut or garble the message.
std::string PrintableBytes(std::string_view bytes);

// A path, a name or a tool's line for the log or a terminal: every control
// character (below 0x20, and 0x7F) as \xNN, every other byte as it is (so
// UTF-8 names stay readable), so a name cannot break a log line or move a
// terminal's cursor.
std::string ControlCharactersEscaped(std::string_view text);

// "0x" and `value` in capital hex digits, zero-padded to `min_digits`
// ("0x0" for zero with the default).
std::string HexNumber(std::uint64_t value, int min_digits = 0);

}  // namespace larkspur

#endif  // LARKSPUR_BASE_HEX_H_
