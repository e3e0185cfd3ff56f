// Errors that carry a file name and the system's reason. Thrown by the
// platform layer and by every routine that reads or writes a file; caught at
// the edges (the window's error box, a worker's "Application Error" report, a
// command-line program's exit status).
#ifndef LARKSPUR_PORT_ERRORS_H_
#define LARKSPUR_PORT_ERRORS_H_

#include <stdexcept>
#include <string>

namespace larkspur {

// Base of the project's errors. ClassName() is the name shown in an
// "Application Error" report; it keeps the names users of the old program
// know from its error boxes.
class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
  virtual const char* ClassName() const { return "Exception"; }
};

// An error about one file: what() is "<action> \"<path>\". <reason>"; the
// reason alone (the system's words, trimmed) is kept for callers that word
// the message their own way.
class FileError : public Error {
 public:
  FileError(const std::string& action, const std::string& path, const std::string& reason);
  const std::string& reason() const { return reason_; }

 private:
  std::string reason_;
};

// "Cannot open file "%s". %s"
class FileOpenError : public FileError {
 public:
  FileOpenError(const std::string& path, const std::string& reason);
  const char* ClassName() const override { return "EFOpenError"; }
};

// "Cannot create file "%s". %s"
class FileCreateError : public FileError {
 public:
  FileCreateError(const std::string& path, const std::string& reason);
  const char* ClassName() const override { return "EFCreateError"; }
};

// A read or write that failed or stopped short after the file was opened.
class FileIoError : public FileError {
 public:
  FileIoError(const std::string& what, const std::string& path, const std::string& reason);
  const char* ClassName() const override { return "EInOutError"; }
};

// The system's description of an error number, without trailing full stops,
// as the messages above quote it.
std::string SystemReason(int error_number);

// Removes every full stop (and trailing blank) at the end of a reason text.
std::string TrimReason(std::string reason);

// A reason text of the system or the C++ runtime (std::error_code's
// message()) as the program's UTF-8. On Windows the runtime gives it in
// the ANSI code page, which would garble a message that also holds a
// UTF-8 path: a text that is not UTF-8 is read in that code page. POSIX
// texts are taken as they are.
std::string ReasonAsUtf8(std::string reason);

#ifdef _WIN32
namespace port {
// The system's description of a Windows error code (from GetLastError),
// trimmed as TrimReason does.
std::string WindowsErrorText(unsigned long code);
}  // namespace port
#endif

}  // namespace larkspur

#endif  // LARKSPUR_PORT_ERRORS_H_
