#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "port/errors.h"
#include "port/run_lock.h"

namespace larkspur::port {

RunLock::~RunLock() { ::close(static_cast<int>(handle_)); }

std::unique_ptr<RunLock> RunLock::TryTake(const std::string& folder) {
  // The folder itself is locked, so no lock file is needed and a read-only
  // program folder can be locked too.
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) throw FileOpenError(folder, SystemReason(errno));
  // flock belongs to the open file description, so a second RunLock of this
  // very process is refused too: two runs in one process are as bad as two
  // processes.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error_number = errno;
    ::close(fd);
    if (error_number == EWOULDBLOCK) return nullptr;
    throw FileOpenError(folder, SystemReason(error_number));
  }
  return std::unique_ptr<RunLock>(new RunLock(fd));
}

}  // namespace larkspur::port
