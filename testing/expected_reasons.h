// Test helper: the system's reason texts that error messages quote, so that
// one expectation holds on POSIX and on Windows.
#ifndef LARKSPUR_TESTING_EXPECTED_REASONS_H_
#define LARKSPUR_TESTING_EXPECTED_REASONS_H_

#include <cerrno>
#include <string>

#include "port/errors.h"

namespace larkspur::testing {

// Why a file cannot be created in a folder that does not exist.
inline std::string MissingFolderReason() {
#ifdef _WIN32
  return port::WindowsErrorText(3);  // ERROR_PATH_NOT_FOUND
#else
  return SystemReason(ENOENT);
#endif
}

// Why a file or program that does not exist cannot be opened or started.
inline std::string MissingFileReason() {
#ifdef _WIN32
  return port::WindowsErrorText(2);  // ERROR_FILE_NOT_FOUND
#else
  return SystemReason(ENOENT);
#endif
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_EXPECTED_REASONS_H_
