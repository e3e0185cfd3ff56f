#include "port/errors.h"

#include <cstring>

namespace larkspur {

std::string TrimReason(std::string reason) {
  while (!reason.empty() && (reason.back() == '.' || reason.back() == ' ' ||
                             reason.back() == '\n' || reason.back() == '\r')) {
    reason.pop_back();
  }
  return reason;
}

std::string SystemReason(int error_number) {
  return TrimReason(std::strerror(error_number));
}

#ifndef _WIN32
// Windows: files_win32.cc.
std::string ReasonAsUtf8(std::string reason) { return reason; }
#endif

FileError::FileError(const std::string& action, const std::string& path, const std::string& reason)
    : Error(action + " \"" + path + "\". " + TrimReason(ReasonAsUtf8(reason))),
      reason_(TrimReason(ReasonAsUtf8(reason))) {}

FileOpenError::FileOpenError(const std::string& path, const std::string& reason)
    : FileError("Cannot open file", path, reason) {}

FileCreateError::FileCreateError(const std::string& path, const std::string& reason)
    : FileError("Cannot create file", path, reason) {}

FileIoError::FileIoError(const std::string& what, const std::string& path,
                         const std::string& reason)
    : FileError(what, path, reason) {}

}  // namespace larkspur
