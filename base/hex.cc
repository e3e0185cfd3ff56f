#include "base/hex.h"

namespace larkspur {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";
constexpr char kLowerDigits[] = "0123456789abcdef";

void AppendByte(std::string& hex, unsigned char byte) {
  hex += kDigits[byte >> 4];
  hex += kDigits[byte & 0x0F];
}

std::string DigitsOf(std::uint64_t value, int min_digits, const char* digits) {
  std::string hex;
  do {
    hex.insert(hex.begin(), digits[value & 0x0F]);
    value >>= 4;
  } while (value != 0);
  if (static_cast<int>(hex.size()) < min_digits) hex.insert(0, min_digits - hex.size(), '0');
  return hex;
}

}  // namespace

std::string BytesToHex(std::string_view bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char byte : bytes) AppendByte(hex, byte);
  return hex;
}

std::string SpacedHex(std::string_view bytes) {
  return SpacedHex(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}

std::string SpacedHex(std::span<const std::uint8_t> bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 3);
  for (std::uint8_t byte : bytes) {
    if (!hex.empty()) hex += ' ';
    AppendByte(hex, byte);
  }
  return hex;
}

std::string HexDigits(std::uint64_t value, int min_digits) { return DigitsOf(value, min_digits, kDigits); }

std::string LowerHexDigits(std::uint64_t value, int min_digits) {
  return DigitsOf(value, min_digits, kLowerDigits);
}

std::string HexNumber(std::uint64_t value, int min_digits) { return "0x" + HexDigits(value, min_digits); }

std::string PrintableBytes(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      text += "\\x";
      text += HexDigits(c, 2);
    }
  }
  return text;
}

std::string ControlCharactersEscaped(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const unsigned char c : text) {
    if (c < 0x20 || c == 0x7F) {
      escaped += "\\x";
      escaped += HexDigits(c, 2);
    } else {
      escaped += static_cast<char>(c);
    }
  }
  return escaped;
}

}  // namespace larkspur
