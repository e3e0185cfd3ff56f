// Exceptions thrown by the checksum-list library (vpl/). Every message
// names the .vpl file and, for its bytes, the offset, so the window's box
// and a command-line program can show what() as it is.
#ifndef LARKSPUR_VPL_VPL_ERRORS_H_
#define LARKSPUR_VPL_VPL_ERRORS_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "port/errors.h"

namespace larkspur::vpl {

// The bytes of a .vpl break a rule of its text (an element that is not
// closed, a cut UTF-16 code unit, ...), or the one thing about to be
// rewritten is not what a rewrite can touch safely. what() is
// "<vpl> at byte 0x1A4: <reason>"; the offset counts bytes of the file as it
// is, byte order mark included, whatever its encoding. One of the project's
// errors, so whatever catches an Error names it by its class.
class VplFormatError : public Error {
 public:
  VplFormatError(std::string_view vpl_name, std::uint64_t offset, const std::string& reason);
  const char* ClassName() const override { return "EVplFormatError"; }
  std::uint64_t offset() const { return offset_; }
  const std::string& reason() const { return reason_; }

 private:
  std::uint64_t offset_;
  std::string reason_;
};

}  // namespace larkspur::vpl

#endif  // LARKSPUR_VPL_VPL_ERRORS_H_
