#include "rofs/rofs_errors.h"

#include "rofs/utf16.h"

namespace larkspur::rofs {

void ThrowFormatError(std::string_view image_name, std::uint64_t offset, const std::string& reason) {
  throw FormatError(image_name, offset, reason);
}

std::string QuotedName(std::u16string_view name) {
  std::string text = "\"";
  for (char c : Utf16ToUtf8Lossy(name)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      text += "\\x";
      text += HexDigits(static_cast<unsigned char>(c), 2);
    } else {
      text += c;
    }
  }
  return text + "\"";
}

FormatError::FormatError(std::string_view image_name, std::uint64_t offset,
                         const std::string& reason)
    : RofsError(std::string(image_name) + ": " + reason), offset_(offset), reason_(reason) {}

namespace {

// "name:line", or the name alone for line 0. Appended piece by piece: g++ 12
// at -O3 misreports ":" + text (an insert in front) as an overlapping copy.
std::string ObeyPlace(std::string_view obey_name, int line) {
  std::string place(obey_name);
  if (line > 0) {
    place += ':';
    place += std::to_string(line);
  }
  return place;
}

}  // namespace

ObeyError::ObeyError(std::string_view obey_name, int line, const std::string& reason)
    : RofsError(ObeyPlace(obey_name, line) + ": " + reason),
      line_(line),
      reason_(reason) {}

HostFileError::HostFileError(std::string_view action, std::string_view path,
                             std::string_view reason)
    : RofsError(std::string(action) + " \"" + std::string(path) + "\": " + ReasonAsUtf8(std::string(reason))) {}

}  // namespace larkspur::rofs
