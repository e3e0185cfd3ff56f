#include "vpl/vpl_errors.h"

#include "base/hex.h"

namespace larkspur::vpl {

VplFormatError::VplFormatError(std::string_view vpl_name, std::uint64_t offset, const std::string& reason)
    : Error(std::string(vpl_name) + " at byte " + HexNumber(offset) + ": " + reason), offset_(offset), reason_(reason) {}

}  // namespace larkspur::vpl
