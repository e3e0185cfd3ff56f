// Failures of the disk on demand, for the tests that check that every run
// is all or nothing: the Nth call that changes a file or folder (a create,
// a write, a flush, a rename, counted together from 1) fails with the error
// number a test chooses (ENOSPC, EIO), as the system would fail it. Off
// unless a test arms it; the one count is the process's, safe from any
// thread. POSIX only: the Windows calls are not counted.
#ifndef LARKSPUR_PORT_FAULTS_H_
#define LARKSPUR_PORT_FAULTS_H_

#include <cstdint>

namespace larkspur::port {

enum class FileChange { kCreate, kWrite, kFlush, kRename };

// Restarts the count; the `fail_at`th call from now fails with
// `error_number` (0: none fails).
void SetFileChangeFault(std::uint64_t fail_at, int error_number);

// The calls counted since the last SetFileChangeFault.
std::uint64_t FileChangesCounted();

// Counts one call of `change`: 0, or the error number it is to fail with.
// For port/ and the libraries that change files themselves.
int NextFileChange(FileChange change);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_FAULTS_H_
