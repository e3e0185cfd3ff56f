// Exceptions thrown by the ROFS library. Every message names where the
// problem is (image and offset, obey file and line, or host path) and why, so
// a command-line program can print what() as it is.
#ifndef LARKSPUR_ROFS_ROFS_ERRORS_H_
#define LARKSPUR_ROFS_ROFS_ERRORS_H_

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/hex.h"  // HexNumber, PrintableBytes: how offsets, sizes and text bytes appear in messages
#include "port/errors.h"

namespace larkspur::rofs {

// Base of every error of this library: one of the project's errors, so
// whatever catches an Error (the window's error boxes, the command line)
// names it by its class.
class RofsError : public Error {
 public:
  explicit RofsError(const std::string& message) : Error(message) {}
  const char* ClassName() const override { return "ERofsError"; }
};

// The bytes of an image break a rule of the format, or hold something that
// cannot be extracted safely. what() is "<image>: <reason>"; the reason names
// the offset and the bad value.
class FormatError : public RofsError {
 public:
  FormatError(std::string_view image_name, std::uint64_t offset, const std::string& reason);
  const char* ClassName() const override { return "EImageFormatError"; }
  std::uint64_t offset() const { return offset_; }
  const std::string& reason() const { return reason_; }

 private:
  std::uint64_t offset_;
  std::string reason_;
};

// A line of an obey file (or the file as a whole, line 0) asks for something
// that cannot be built. what() is "<obey file>:<line>: <reason>", or
// "<obey file>: <reason>" for line 0.
class ObeyError : public RofsError {
 public:
  ObeyError(std::string_view obey_name, int line, const std::string& reason);
  const char* ClassName() const override { return "EObeyError"; }
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  int line_;
  std::string reason_;
};

// A file or folder on the host could not be read, created or written.
// what() is "<action> \"<path>\": <reason>".
class HostFileError : public RofsError {
 public:
  HostFileError(std::string_view action, std::string_view path, std::string_view reason);
  const char* ClassName() const override { return "EInOutError"; }
};

// Throws FormatError(image_name, offset, reason): the thrower a ByteReader
// over image bytes is given.
[[noreturn]] void ThrowFormatError(std::string_view image_name, std::uint64_t offset, const std::string& reason);

// A stored name in double quotes as UTF-8, for messages: control characters
// (a NUL among them) shown as \xNN and unpaired surrogates as U+FFFD, so a
// hostile name cannot cut or garble the message.
std::string QuotedName(std::u16string_view name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_ERRORS_H_
