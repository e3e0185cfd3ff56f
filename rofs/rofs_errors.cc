#include "rofs/rofs_errors.h"

#include <cstdio>

#include "rofs/utf16.h"

namespace larkspur::rofs {

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
  return text;
}

std::string PrintableBytes(std::string_view bytes) {
  std::string text;
  for (unsigned char c : bytes) {
    if (c >= 0x20 && c < 0x7F) {
      text += static_cast<char>(c);
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", c);
      text += escaped;
    }
  }
  return text;
}

std::string QuotedName(std::u16string_view name) {
  std::string text = "\"";
  for (char c : Utf16ToUtf8Lossy(name)) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
      text += escaped;
    } else {
      text += c;
    }
  }
  return text + "\"";
}

FormatError::FormatError(std::string_view image_name, std::uint64_t offset,
                         const std::string& reason)
    : RofsError(std::string(image_name) + ": " + reason), offset_(offset), reason_(reason) {}

ObeyError::ObeyError(std::string_view obey_name, int line, const std::string& reason)
    : RofsError(std::string(obey_name) + (line > 0 ? ":" + std::to_string(line) : std::string()) +
                ": " + reason),
      line_(line),
      reason_(reason) {}

HostFileError::HostFileError(std::string_view action, std::string_view path,
                             std::string_view reason)
    : RofsError(std::string(action) + " \"" + std::string(path) + "\": " + std::string(reason)) {}

}  // namespace larkspur::rofs
