#include "format/hex_text.h"

namespace larkspur {
namespace {

int DigitValue(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

}  // namespace

ConvertError::ConvertError(std::string_view pair)
    : Error("'$" + std::string(pair) + "' is not a valid integer value") {}

ByteString HexToBytes(std::string_view hex) {
  ByteString bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    const int high = DigitValue(hex[i]);
    const int low = DigitValue(hex[i + 1]);
    if (high < 0 || low < 0) throw ConvertError(hex.substr(i, 2));
    bytes += static_cast<char>(high * 16 + low);
  }
  return bytes;
}

}  // namespace larkspur
