// Hex text: two hexadecimal digits per byte, upper case when produced. Fixed
// byte values and whole block headers are assembled as hex text. The reading
// side lives here; BytesToHex, the writing side, is the project's hex
// formatter in base/hex.h. Pure functions, callable from any thread.
#ifndef LARKSPUR_FORMAT_HEX_TEXT_H_
#define LARKSPUR_FORMAT_HEX_TEXT_H_

#include <string>
#include <string_view>

#include "base/hex.h"
#include "format/byte_string.h"
#include "port/errors.h"

namespace larkspur {

// "'%s' is not a valid integer value", %s being "$" and the bad digit pair.
class ConvertError : public Error {
 public:
  explicit ConvertError(std::string_view pair);
  const char* ClassName() const override { return "EConvertError"; }
};

// One byte per pair of digits (0-9, A-F, a-f) from the start; an odd last
// digit is ignored. Throws ConvertError for a pair that is not two hex digits;
// no partial result is delivered then.
ByteString HexToBytes(std::string_view hex);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_HEX_TEXT_H_
