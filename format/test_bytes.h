// Test helper: byte strings written as hex with blanks ("54 01 17").
#ifndef LARKSPUR_FORMAT_TEST_BYTES_H_
#define LARKSPUR_FORMAT_TEST_BYTES_H_

#include <string>
#include <string_view>

#include "format/hex_text.h"

namespace larkspur::testing {

inline std::string Bytes(std::string_view spaced_hex) {
  std::string hex;
  for (char c : spaced_hex) {
    if (c != ' ') hex += c;
  }
  return HexToBytes(hex);
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_FORMAT_TEST_BYTES_H_
