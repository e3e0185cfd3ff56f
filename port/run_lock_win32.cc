#include <windows.h>

#include "port/errors.h"
#include "port/files.h"
#include "port/run_lock.h"
#include "port/wide_paths_win32.h"

namespace larkspur::port {

RunLock::~RunLock() {
  HANDLE handle = reinterpret_cast<HANDLE>(handle_);
  OVERLAPPED whole = {};
  UnlockFileEx(handle, 0, MAXDWORD, MAXDWORD, &whole);
  CloseHandle(handle);
}

std::unique_ptr<RunLock> RunLock::TryTake(const std::string& folder) {
  const std::string path = JoinPath(folder, kRunLockFileName);
  // The lock file goes when the last handle to it closes, so a run leaves
  // nothing behind in the program folder.
  constexpr DWORD kSharing = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
  HANDLE handle = CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, kSharing, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (handle == INVALID_HANDLE_VALUE) throw FileCreateError(path, WindowsErrorText(GetLastError()));
  OVERLAPPED whole = {};
  if (!LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole)) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING) return nullptr;
    throw FileCreateError(path, WindowsErrorText(error));
  }
  return std::unique_ptr<RunLock>(new RunLock(reinterpret_cast<std::intptr_t>(handle)));
}

}  // namespace larkspur::port
