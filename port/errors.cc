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

FileOpenError::FileOpenError(const std::string& path, const std::string& reason)
    : Error("Cannot open file \"" + path + "\". " + TrimReason(reason)) {}

FileCreateError::FileCreateError(const std::string& path, const std::string& reason)
    : Error("Cannot create file \"" + path + "\". " + TrimReason(reason)) {}

FileIoError::FileIoError(const std::string& what, const std::string& path,
                         const std::string& reason)
    : Error(what + " \"" + path + "\". " + TrimReason(reason)) {}

}  // namespace larkspur
