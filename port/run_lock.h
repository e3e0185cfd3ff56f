// One run at a time in a program folder: an operating-system lock on the
// folder (flock on the folder itself on POSIX, LockFileEx on the file
// "larkspur.lock" in it on Windows, which goes with the last handle). The system
// drops it when the process ends, however it ends, so a crashed run never
// leaves the folder locked. Callable from any thread.
#ifndef LARKSPUR_PORT_RUN_LOCK_H_
#define LARKSPUR_PORT_RUN_LOCK_H_

#include <cstdint>
#include <memory>
#include <string>

namespace larkspur::port {

inline constexpr char kRunLockFileName[] = "larkspur.lock";

class RunLock {
 public:
  ~RunLock();
  RunLock(const RunLock&) = delete;
  RunLock& operator=(const RunLock&) = delete;

  // Takes the lock of `folder` without waiting. Nothing when another
  // process (or another RunLock of this one) holds it. Throws FileOpenError
  // (POSIX: naming the folder) or FileCreateError (Windows: naming the lock
  // file) when the lock cannot be tried at all.
  static std::unique_ptr<RunLock> TryTake(const std::string& folder);

 private:
  explicit RunLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_RUN_LOCK_H_
