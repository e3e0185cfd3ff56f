#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>
#include <thread>

#include "port/errors.h"
#include "port/file_for_loading.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/faults.h"
#include "port/produced_stretches.h"

namespace larkspur::port {
namespace {

// Closes a descriptor on every path out of a function.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  ~Descriptor() {
    if (fd_ >= 0) ::close(fd_);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int get() const { return fd_; }
  int release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_;
};

}  // namespace

bool IsRegularFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool IsDirectory(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::int64_t FileSize(const std::string& path) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
  return st.st_size;
}

FileForLoading::FileForLoading(const std::string& path) : path_(path) {
  if (!IsRegularFile(path)) return;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) throw FileOpenError(path, SystemReason(errno));
  handle_ = fd;
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    const int error_number = errno;
    ::close(fd);
    handle_ = -1;
    throw FileOpenError(path, SystemReason(error_number));
  }
  opened_ = true;
  size_ = static_cast<std::uint64_t>(st.st_size);
}

FileForLoading::~FileForLoading() {
  if (mapped_ != nullptr) ::munmap(mapped_, static_cast<std::size_t>(size_));
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

const char* FileForLoading::MapWhole() {
  if (mapped_ != nullptr) return static_cast<const char*>(mapped_);
  if (size_ == 0 || size_ > SIZE_MAX) return nullptr;
  void* address = ::mmap(nullptr, static_cast<std::size_t>(size_), PROT_READ, MAP_PRIVATE,
                         static_cast<int>(handle_), 0);
  if (address == MAP_FAILED) return nullptr;
  // The bytes are read front to back, once: read ahead far, drop behind.
  ::madvise(address, static_cast<std::size_t>(size_), MADV_SEQUENTIAL);
  mapped_ = address;
  return static_cast<const char*>(mapped_);
}

void FileForLoading::PrefaultMapping() {
#ifdef MADV_POPULATE_READ
  // Fails on kernels before 5.14; the pages then come in as they are read.
  if (mapped_ != nullptr) ::madvise(mapped_, static_cast<std::size_t>(size_), MADV_POPULATE_READ);
#endif
}

void FileForLoading::ReadAt(std::uint64_t offset, char* to, std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(static_cast<int>(handle_), to + done, count - done,
                                static_cast<off_t>(offset + done));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileIoError("Cannot read file", path_, SystemReason(errno));
    }
    if (got == 0) throw FileIoError("Cannot read file", path_, "the file ended early");
    done += static_cast<std::uint64_t>(got);
  }
}

namespace {

// The file-changing calls, each counted for the tests that make the disk
// fail on demand (port/faults.h): a failure comes back as the call's own.
int OpenToWrite(const char* path, int flags) {
  if (const int error_number = NextFileChange(FileChange::kCreate)) {
    errno = error_number;
    return -1;
  }
  return ::open(path, flags, 0644);
}
ssize_t WriteSome(int file, const void* bytes, std::size_t count) {
  if (const int error_number = NextFileChange(FileChange::kWrite)) {
    errno = error_number;
    return -1;
  }
  return ::write(file, bytes, count);
}
ssize_t WriteGathered(int file, const iovec* pieces, int count) {
  if (const int error_number = NextFileChange(FileChange::kWrite)) {
    errno = error_number;
    return -1;
  }
  return ::writev(file, pieces, count);
}
ssize_t WriteSomeAt(int file, const void* bytes, std::size_t count, std::uint64_t offset) {
  if (const int error_number = NextFileChange(FileChange::kWrite)) {
    errno = error_number;
    return -1;
  }
  return ::pwrite(file, bytes, count, static_cast<off_t>(offset));
}
int Flush(int file) {
  if (const int error_number = NextFileChange(FileChange::kFlush)) {
    errno = error_number;
    return -1;
  }
  return ::fsync(file);
}
int Rename(const char* from, const char* to) {
  if (const int error_number = NextFileChange(FileChange::kRename)) {
    errno = error_number;
    return -1;
  }
  return ::rename(from, to);
}

// Writes all of `bytes` at the file's position: 0, or the errno of the
// write that failed (ENOSPC for one that wrote nothing).
int WriteWhole(int file, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = WriteSome(file, bytes.data(), bytes.size());
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) return errno;
    if (put == 0) return ENOSPC;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
  return 0;
}

// Copies `count` bytes at `offset` of the file `from` to the current end of
// `to` inside the system. False (nothing copied) when the system cannot
// copy between these files: the caller writes the bytes from memory then.
// Returns the errno of a failed copy through `error_number`, ENODATA when
// `from` ends before the range does.
bool CopyFileRange(int from, std::uint64_t offset, std::uint64_t count, int to, int& error_number) {
#ifdef __linux__
  auto in = static_cast<off_t>(offset);
  std::uint64_t done = 0;
  while (done < count) {
    if (const int injected = NextFileChange(FileChange::kWrite)) {
      error_number = injected;
      return true;
    }
    const ssize_t copied = ::copy_file_range(from, &in, to, nullptr, count - done, 0);
    if (copied < 0) {
      if (errno == EINTR) continue;
      // Refused before a byte went: no such call, or not between these files.
      if (done == 0 && (errno == ENOSYS || errno == EXDEV || errno == EINVAL || errno == EOPNOTSUPP ||
                        errno == EBADF || errno == ETXTBSY)) {
        return false;
      }
      error_number = errno;
      return true;
    }
    if (copied == 0) {
      error_number = ENODATA;
      return true;
    }
    done += static_cast<std::uint64_t>(copied);
  }
  error_number = 0;
  return true;
#else
  return false;
#endif
}

// Source pieces smaller than this are read through a buffer of
// kStagingBytes rather than copied by the system one by one.
constexpr std::size_t kSmallSourcePiece = std::size_t{128} << 10;
constexpr std::size_t kStagingBytes = std::size_t{1} << 20;

// Reads `count` bytes at `offset` of `file` into `to`: 0, or the errno of
// the read that failed (ENODATA when the file ends first).
int ReadWhole(int file, std::uint64_t offset, char* to, std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(file, to + done, count - done, static_cast<off_t>(offset + done));
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return errno;
    if (got == 0) return ENODATA;
    done += static_cast<std::uint64_t>(got);
  }
  return 0;
}

// Where the run of small source pieces that begins with pieces[first] ends
// in the source file: the pieces after it that follow on in the source
// (with pieces from memory between them) join it while it fits
// kStagingBytes.
std::uint64_t RunOfSmallPieces(const std::vector<std::string_view>& pieces, std::size_t first,
                               const FileView& source) {
  const std::uint64_t begin = *source.FileOffsetOf(pieces[first]);
  std::uint64_t end = begin + pieces[first].size();
  for (std::size_t i = first + 1; i < pieces.size(); ++i) {
    if (pieces[i].empty()) continue;
    const std::optional<std::uint64_t> offset = source.FileOffsetOf(pieces[i]);
    if (!offset) continue;
    if (*offset != end || pieces[i].size() >= kSmallSourcePiece || end + pieces[i].size() - begin > kStagingBytes) {
      break;
    }
    end += pieces[i].size();
  }
  return end;
}

void WritePieces(const std::string& path, const std::vector<std::string_view>& pieces,
                 const WriteProgress& progress, const FileView* source) {
  const std::string temporary = path + ".partial";
  Descriptor file(OpenToWrite(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC));
  if (file.get() < 0) throw FileCreateError(path, SystemReason(errno));
  auto fail = [&](int error_number) {
    ::close(file.release());
    ::unlink(temporary.c_str());
    throw FileCreateError(path, error_number == ENODATA ? "the file it is copied from ended early"
                                                        : SystemReason(error_number));
  };
  const int source_file = source != nullptr ? static_cast<int>(source->file_handle()) : -1;
  bool system_copies = source_file >= 0;
  // Small pieces of the source (a ROFS file's 32 KiB blocks) are read from
  // its file into `staging`, a run of consecutive ones at a time, and
  // written gathered with the pieces between them: a system copy for each
  // of thousands of blocks costs more than copying the bytes twice.
  std::unique_ptr<char[]> staging;
  std::uint64_t run_begin = 0;  // the source's bytes now in `staging`
  std::uint64_t run_end = 0;
  std::vector<iovec> stretch;
  stretch.reserve(std::min<std::size_t>(pieces.size(), IOV_MAX));
  // Writes the gathered pieces of `stretch`, whole.
  auto write_gathered = [&] {
    std::size_t first = 0;  // the first iovec not yet written whole
    while (first < stretch.size()) {
      const ssize_t put = WriteGathered(file.get(), stretch.data() + first, static_cast<int>(stretch.size() - first));
      if (put < 0) {
        if (errno == EINTR) continue;
        fail(errno);
      }
      if (put == 0) fail(ENOSPC);
      // A short write ends inside some piece: skip the whole ones, move
      // into the one it stopped in.
      auto left = static_cast<std::size_t>(put);
      while (first < stretch.size() && left >= stretch[first].iov_len) left -= stretch[first++].iov_len;
      if (left > 0) {
        stretch[first].iov_base = static_cast<char*>(stretch[first].iov_base) + left;
        stretch[first].iov_len -= left;
      }
    }
    stretch.clear();
  };
  std::size_t next = 0;
  // An exception from the callback stops the write like a failed write.
  auto report = [&](std::size_t written, std::size_t total) {
    if (!progress) return;
    try {
      progress(written, total);
    } catch (...) {
      ::close(file.release());
      ::unlink(temporary.c_str());
      throw;
    }
  };
  std::uint64_t file_size = 0;
  while (next < pieces.size()) {
    // A stretch: up to IOV_MAX pieces, ended early after the one that
    // brings it to kProgressStretchBytes so progress keeps coming. Large
    // pieces of the source file go by the system's copy, between gathered
    // writes of the others.
    std::size_t stretch_bytes = 0;
    while (next < pieces.size() && stretch.size() < IOV_MAX && stretch_bytes < kProgressStretchBytes) {
      const std::string_view piece = pieces[next++];
      if (piece.empty()) continue;
      stretch_bytes += piece.size();
      const std::optional<std::uint64_t> offset = source_file >= 0 ? source->FileOffsetOf(piece) : std::nullopt;
      if (offset && piece.size() < kSmallSourcePiece) {
        if (*offset < run_begin || *offset + piece.size() > run_end) {
          write_gathered();  // the stretch may point into `staging`
          if (!staging) staging.reset(new char[kStagingBytes]);
          run_begin = *offset;
          run_end = RunOfSmallPieces(pieces, next - 1, *source);
          if (const int error_number = ReadWhole(source_file, run_begin, staging.get(), run_end - run_begin)) {
            fail(error_number);
          }
        }
        stretch.push_back({staging.get() + (*offset - run_begin), piece.size()});
        continue;
      }
      if (offset && system_copies) {
        write_gathered();
        int error_number = 0;
        if (CopyFileRange(source_file, *offset, piece.size(), file.get(), error_number)) {
          if (error_number != 0) fail(error_number);
          continue;
        }
        system_copies = false;  // refused once, refused for every piece
      }
      stretch.push_back({const_cast<char*>(piece.data()), piece.size()});
    }
    write_gathered();
#ifdef __linux__
    // The stretch starts for the disk now, while the next one is copied:
    // the fsync at the end then waits for the last stretches only. Advice;
    // the fsync reports any failure.
    ::sync_file_range(file.get(), static_cast<off_t>(file_size), static_cast<off_t>(stretch_bytes),
                      SYNC_FILE_RANGE_WRITE);
#endif
    file_size += stretch_bytes;
    report(next, pieces.size());
  }
  if (pieces.empty()) report(0, 0);
  if (Flush(file.get()) != 0 && errno != EINVAL) fail(errno);
  if (::close(file.release()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    throw FileCreateError(path, SystemReason(error_number));
  }
  if (Rename(temporary.c_str(), path.c_str()) != 0) {
    const int error_number = errno;
    ::unlink(temporary.c_str());
    throw FileCreateError(path, SystemReason(error_number));
  }
}

}  // namespace

void WriteFileReplacing(const std::string& path, const std::vector<std::string_view>& pieces,
                        const WriteProgress& progress) {
  WritePieces(path, pieces, progress, nullptr);
}

void WriteFileReplacing(const std::string& path, const std::vector<std::string_view>& pieces,
                        const WriteProgress& progress, const FileView& source) {
  WritePieces(path, pieces, progress, &source);
}

void WriteFileReplacing(const std::string& path, const ContentProducer& produce) {
  const std::string temporary = path + ".partial";
  Descriptor file(OpenToWrite(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC));
  if (file.get() < 0) throw FileCreateError(path, SystemReason(errno));
  try {
    WriteProducedInStretches(produce, [&](std::string_view bytes) {
      if (const int error_number = WriteWhole(file.get(), bytes)) {
        throw FileCreateError(path, SystemReason(error_number));
      }
    });
    if (Flush(file.get()) != 0 && errno != EINVAL) throw FileCreateError(path, SystemReason(errno));
    if (::close(file.release()) != 0) throw FileCreateError(path, SystemReason(errno));
    if (Rename(temporary.c_str(), path.c_str()) != 0) throw FileCreateError(path, SystemReason(errno));
  } catch (...) {
    if (file.get() >= 0) ::close(file.release());
    ::unlink(temporary.c_str());
    throw;
  }
}

PathStatus StatusOfPath(const NativePath& path) {
  PathStatus status;
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      status.kind = PathStatus::Kind::kMissing;
    } else {
      status.reason = SystemReason(errno);
    }
    return status;
  }
  status.kind = S_ISREG(st.st_mode) ? PathStatus::Kind::kRegular : PathStatus::Kind::kOther;
  if (S_ISREG(st.st_mode)) status.size = static_cast<std::uint64_t>(st.st_size);
  return status;
}

FileReader::~FileReader() { Close(); }

void FileReader::Open(const NativePath& path) {
  Close();
  path_ = path;
  // O_NONBLOCK: a pipe put where a file was is not waited on (it reads as
  // empty); a regular file reads as without it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) throw FileOpenError(path_, SystemReason(errno));
  handle_ = fd;
}

std::uint64_t FileReader::Read(char* to, std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    const ssize_t got = ::read(static_cast<int>(handle_), to + done,
                               static_cast<std::size_t>(std::min<std::uint64_t>(count - done, SSIZE_MAX)));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw FileIoError("Cannot read file", path_, SystemReason(errno));
    }
    if (got == 0) break;
    done += static_cast<std::uint64_t>(got);
  }
  return done;
}

FileReader::End FileReader::ReadToEnd(char* to, std::uint64_t count) {
  // The bytes and one more in one call.
  char beyond = 0;
  iovec parts[2] = {{to, static_cast<std::size_t>(std::min<std::uint64_t>(count, SSIZE_MAX - 1))},
                    {&beyond, 1}};
  ssize_t got;
  do {
    got = ::readv(static_cast<int>(handle_), parts, 2);
  } while (got < 0 && errno == EINTR);
  if (got < 0) throw FileIoError("Cannot read file", path_, SystemReason(errno));
  const auto done = static_cast<std::uint64_t>(got);
  if (done > count) return End::kGoesOn;
  // A regular file's read stops short of what was asked only at its end.
  if (done == count) return End::kExactly;
  // Short of the bytes themselves: the end, or a read cut short (a signal,
  // a pipe); plain reads tell which.
  if (done + Read(to + done, count - done) < count) return End::kSooner;
  return Read(&beyond, 1) == 0 ? End::kExactly : End::kGoesOn;
}

void FileReader::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

ReplacingFile::ReplacingFile(const std::string& path) : path_(path), temporary_(path + ".partial") {
  const int fd = OpenToWrite(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC);
  if (fd < 0) throw FileCreateError(path_, SystemReason(errno));
  handle_ = fd;
}

ReplacingFile::~ReplacingFile() {
  if (handle_ < 0) return;
  ::close(static_cast<int>(handle_));
  ::unlink(temporary_.c_str());
}

void ReplacingFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = WriteSomeAt(static_cast<int>(handle_), bytes.data(),
                                    std::min<std::size_t>(bytes.size(), SSIZE_MAX), offset);
    if (put < 0 && errno == EINTR) continue;
    if (put < 0) throw FileCreateError(path_, SystemReason(errno));
    if (put == 0) throw FileCreateError(path_, SystemReason(ENOSPC));
    bytes.remove_prefix(static_cast<std::size_t>(put));
    offset += static_cast<std::uint64_t>(put);
  }
}

void ReplacingFile::Commit(Flush flush) {
  const int fd = static_cast<int>(handle_);
  auto fail = [&](int error_number) {
    if (handle_ >= 0) ::close(fd);
    handle_ = -1;
    ::unlink(temporary_.c_str());
    throw FileCreateError(path_, SystemReason(error_number));
  };
  if (flush == Flush::kToDisk && port::Flush(fd) != 0 && errno != EINVAL) fail(errno);
  handle_ = -1;
  if (::close(fd) != 0) fail(errno);
  if (Rename(temporary_.c_str(), path_.c_str()) != 0) fail(errno);
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  struct stat st;
  if (::lstat(to.c_str(), &st) == 0) return false;
  // A hard link fails when the target exists, so the check above cannot race
  // into an overwrite; rename covers file systems without hard links.
  if (NextFileChange(FileChange::kRename) != 0) return false;
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  return ::rename(from.c_str(), to.c_str()) == 0;
}

void SleepMilliseconds(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return false;
  std::string base = folder;
  if (!base.empty() && base.back() != '/') base += '/';
  while (const dirent* item = ::readdir(dir)) {
    const std::string_view name = item->d_name;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.is_hidden = name[0] == '.';
    // The listing's own type spares a stat per entry; links (to learn what
    // they point at) and file systems that give no type still take one.
    if (item->d_type == DT_DIR || item->d_type == DT_REG) {
      entry.is_directory = item->d_type == DT_DIR;
      entries.push_back(std::move(entry));
      continue;
    }
    struct stat st;
    const std::string full = base + entry.name;
    // An entry whose kind cannot be learnt (its path too long, a race) would
    // be taken for a file, and a folder's files lost: the listing fails.
    if (::lstat(full.c_str(), &st) != 0) {
      ::closedir(dir);
      return false;
    }
    entry.is_symlink = S_ISLNK(st.st_mode);
    if (entry.is_symlink) {
      struct stat target;
      entry.is_directory = ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    } else {
      entry.is_directory = S_ISDIR(st.st_mode);
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
  return true;
}

std::string ExecutableFolder() {
  char buffer[PATH_MAX + 1];
  const ssize_t length = ::readlink("/proc/self/exe", buffer, PATH_MAX);
  std::string path = length > 0 ? std::string(buffer, static_cast<std::size_t>(length)) : ".";
  const auto cut = path.find_last_of('/');
  return cut == std::string::npos ? CurrentDirectory() : path.substr(0, cut + 1);
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX + 1];
  if (::getcwd(buffer, sizeof buffer) == nullptr) return std::string();
  std::string result = buffer;
  if (result.back() != '/') result += '/';
  return result;
}

bool SetCurrentDirectory(const std::string& path) { return ::chdir(path.c_str()) == 0; }

void WriteNewFile(const std::string& path, const std::vector<std::string_view>& pieces) {
  Descriptor file(OpenToWrite(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC));
  if (file.get() < 0) throw FileCreateError(path, SystemReason(errno));
  auto fail = [&](int error_number) {
    ::close(file.release());
    ::unlink(path.c_str());
    throw FileCreateError(path, SystemReason(error_number));
  };
  for (const std::string_view piece : pieces) {
    if (const int error_number = WriteWhole(file.get(), piece)) fail(error_number);
  }
  if (::close(file.release()) != 0) {
    const int error_number = errno;
    ::unlink(path.c_str());
    throw FileCreateError(path, SystemReason(error_number));
  }
}

void FlushFileSystemOf(const std::string& folder) {
  if (const int error_number = NextFileChange(FileChange::kFlush)) {
    throw FileIoError("Cannot flush", folder, SystemReason(error_number));
  }
#ifdef __linux__
  Descriptor handle(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (handle.get() < 0) throw FileIoError("Cannot flush", folder, SystemReason(errno));
  // What did not reach the disk is lost as surely as a failed write.
  if (::syncfs(handle.get()) != 0) throw FileIoError("Cannot flush", folder, SystemReason(errno));
#else
  ::sync();
#endif
}

}  // namespace larkspur::port
