#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// <windows.h> turns these two names into macros for its own ANSI and wide
// functions; here they are the platform layer's functions of files.h.
#undef DeleteFile
#undef SetCurrentDirectory

#include <algorithm>
#include <memory>

#include "port/errors.h"
#include "port/file_for_loading.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/produced_stretches.h"

namespace larkspur::port {

std::string WindowsErrorText(DWORD code) {
  char* text = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
  std::string result = length ? std::string(text, length) : "System error " + std::to_string(code);
  if (text) LocalFree(text);
  return TrimReason(result);
}

namespace {

class Handle {
 public:
  explicit Handle(HANDLE handle) : handle_(handle) {}
  ~Handle() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE get() const { return handle_; }
  void Close() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
    handle_ = INVALID_HANDLE_VALUE;
  }

 private:
  HANDLE handle_;
};

// Writes all of `bytes` at the file's position: 0, or the code of the write
// that failed (ERROR_DISK_FULL for one that wrote nothing).
DWORD WriteWhole(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(file, bytes.data(), want, &put, nullptr)) return GetLastError();
    if (put == 0) return ERROR_DISK_FULL;
    bytes.remove_prefix(put);
  }
  return 0;
}

}  // namespace

bool IsRegularFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::int64_t FileSize(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return -1;
  }
  return (static_cast<std::int64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

FileForLoading::FileForLoading(const std::string& path) : path_(path) {
  if (!IsRegularFile(path)) return;
  // No sharing: the open fails while another program holds the file open.
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw FileOpenError(path, WindowsErrorText(GetLastError()));
  handle_ = reinterpret_cast<std::intptr_t>(file);
  LARGE_INTEGER length;
  if (!GetFileSizeEx(file, &length)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    handle_ = -1;
    throw FileOpenError(path, WindowsErrorText(code));
  }
  opened_ = true;
  size_ = static_cast<std::uint64_t>(length.QuadPart);
}

FileForLoading::~FileForLoading() {
  if (mapped_ != nullptr) UnmapViewOfFile(mapped_);
  if (mapping_ != nullptr) CloseHandle(static_cast<HANDLE>(mapping_));
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

const char* FileForLoading::MapWhole() {
  if (mapped_ != nullptr) return static_cast<const char*>(mapped_);
  if (size_ == 0 || size_ > SIZE_MAX) return nullptr;
  // The handle was opened without sharing and stays open while mapped, so
  // no other program can write the file under the view.
  const HANDLE mapping = CreateFileMappingA(reinterpret_cast<HANDLE>(handle_), nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return nullptr;
  void* address = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(size_));
  if (address == nullptr) {
    CloseHandle(mapping);
    return nullptr;
  }
  mapping_ = mapping;
  mapped_ = address;
  return static_cast<const char*>(mapped_);
}

void FileForLoading::PrefaultMapping() {
  // Windows reads a mapped file ahead by itself; PrefetchVirtualMemory is
  // not in every Windows the program runs on.
}

void FileForLoading::ReadAt(std::uint64_t offset, char* to, std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    // On a handle opened for synchronous reads the offset in OVERLAPPED
    // makes ReadFile read there and return when done.
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(count - done, 1u << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), to + done, want, &got, &at)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF) throw FileIoError("Cannot read file", path_, "the file ended early");
      throw FileIoError("Cannot read file", path_, WindowsErrorText(code));
    }
    if (got == 0) throw FileIoError("Cannot read file", path_, "the file ended early");
    done += got;
  }
}

namespace {

// What a view of the source file is read through before it is written: as
// much as a copy's buffer (dd's bs=4M).
constexpr std::size_t kSourceBufferBytes = 4 << 20;

void WritePieces(const std::string& path, const std::vector<std::string_view>& pieces,
                 const WriteProgress& progress, const FileView* source) {
  const std::string temporary = path + ".partial";
  Handle file(CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) throw FileCreateError(path, WindowsErrorText(GetLastError()));
  auto remove_temporary = [&] {
    file.Close();
    ::DeleteFileA(temporary.c_str());
  };
  auto fail = [&](DWORD code) {
    remove_temporary();
    throw FileCreateError(path, WindowsErrorText(code));
  };
  // An exception from the callback stops the write like a failed write.
  auto report = [&](std::size_t written, std::size_t total) {
    if (!progress) return;
    try {
      progress(written, total);
    } catch (...) {
      remove_temporary();
      throw;
    }
  };
  // Windows has no copy from one file's range into another's. A view of the
  // mapped source is read from its file into one buffer and written from
  // there, as a copy does: written from the mapping, every page of it would
  // first come into the process.
  const bool read_through = source != nullptr && source->mapped();
  std::unique_ptr<char[]> buffer;
  auto write_piece = [&](std::string_view piece) {
    if (!read_through || !source->FileOffsetOf(piece)) {
      if (const DWORD code = WriteWhole(file.get(), piece)) fail(code);
      return;
    }
    if (!buffer) buffer.reset(new char[kSourceBufferBytes]);
    while (!piece.empty()) {
      const std::string_view part = piece.substr(0, kSourceBufferBytes);
      try {
        source->CopyOut(part, buffer.get());
      } catch (const FileIoError& error) {
        remove_temporary();
        throw FileCreateError(path, error.what());
      }
      if (const DWORD code = WriteWhole(file.get(), {buffer.get(), part.size()})) fail(code);
      piece.remove_prefix(part.size());
    }
  };
  // Windows gathers writes only for unbuffered, page-aligned ones; one
  // WriteFile per piece costs little beside the bytes.
  std::size_t stretch_bytes = 0;
  for (std::size_t index = 0; index < pieces.size(); ++index) {
    const std::string_view piece = pieces[index];
    stretch_bytes += piece.size();
    write_piece(piece);
    if (stretch_bytes >= kProgressStretchBytes || index + 1 == pieces.size()) {
      report(index + 1, pieces.size());
      stretch_bytes = 0;
    }
  }
  if (pieces.empty()) report(0, 0);
  if (!FlushFileBuffers(file.get())) fail(GetLastError());
  file.Close();
  if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    const DWORD code = GetLastError();
    ::DeleteFileA(temporary.c_str());
    throw FileCreateError(path, WindowsErrorText(code));
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
  Handle file(CreateFileA(temporary.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) throw FileCreateError(path, WindowsErrorText(GetLastError()));
  try {
    WriteProducedInStretches(produce, [&](std::string_view bytes) {
      if (const DWORD code = WriteWhole(file.get(), bytes)) throw FileCreateError(path, WindowsErrorText(code));
    });
    if (!FlushFileBuffers(file.get())) throw FileCreateError(path, WindowsErrorText(GetLastError()));
    file.Close();
    if (!MoveFileExA(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      throw FileCreateError(path, WindowsErrorText(GetLastError()));
    }
  } catch (...) {
    file.Close();
    ::DeleteFileA(temporary.c_str());
    throw;
  }
}

namespace {

// A wide path in the ANSI code page, for messages; never fails.
std::string PathForMessages(const NativePath& wide) {
  if (wide.empty()) return std::string();
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                         nullptr, nullptr);
  std::string bytes(static_cast<std::size_t>(std::max(length, 0)), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), bytes.data(), length, nullptr,
                      nullptr);
  return bytes;
}

}  // namespace

PathStatus StatusOfPath(const NativePath& path) {
  PathStatus status;
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) {
    const DWORD code = GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) {
      status.kind = PathStatus::Kind::kMissing;
    } else {
      status.reason = WindowsErrorText(code);
    }
    return status;
  }
  DWORD attributes = data.dwFileAttributes;
  std::uint64_t size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
  if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) {
    // Those are the link's own; opened, it gives what it points at.
    const HANDLE target = CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    BY_HANDLE_FILE_INFORMATION information;
    const bool known = target != INVALID_HANDLE_VALUE && GetFileInformationByHandle(target, &information);
    const DWORD code = GetLastError();
    if (target != INVALID_HANDLE_VALUE) CloseHandle(target);
    if (!known) {
      status.reason = WindowsErrorText(code);
      return status;
    }
    attributes = information.dwFileAttributes;
    size = (static_cast<std::uint64_t>(information.nFileSizeHigh) << 32) | information.nFileSizeLow;
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  status.kind = folder ? PathStatus::Kind::kOther : PathStatus::Kind::kRegular;
  if (!folder) status.size = size;
  return status;
}

FileReader::~FileReader() { Close(); }

void FileReader::Open(const NativePath& path) {
  Close();
  path_ = PathForMessages(path);
  // Shared as a plain open for reading is (the C library's fopen).
  const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw FileOpenError(path_, WindowsErrorText(GetLastError()));
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

std::uint64_t FileReader::Read(char* to, std::uint64_t count) {
  std::uint64_t done = 0;
  while (done < count) {
    DWORD got = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(count - done, 1u << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(handle_), to + done, want, &got, nullptr)) {
      const DWORD code = GetLastError();
      if (code == ERROR_HANDLE_EOF || code == ERROR_BROKEN_PIPE) break;
      throw FileIoError("Cannot read file", path_, WindowsErrorText(code));
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

FileReader::End FileReader::ReadToEnd(char* to, std::uint64_t count) {
  // Windows reads into two buffers only without its cache: the byte beyond
  // takes a second call.
  if (Read(to, count) < count) return End::kSooner;
  char beyond = 0;
  return Read(&beyond, 1) == 0 ? End::kExactly : End::kGoesOn;
}

void FileReader::Close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

ReplacingFile::ReplacingFile(const std::string& path) : path_(path), temporary_(path + ".partial") {
  const HANDLE file =
      CreateFileA(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) throw FileCreateError(path_, WindowsErrorText(GetLastError()));
  handle_ = reinterpret_cast<std::intptr_t>(file);
}

ReplacingFile::~ReplacingFile() {
  if (handle_ == -1) return;
  CloseHandle(reinterpret_cast<HANDLE>(handle_));
  ::DeleteFileA(temporary_.c_str());
}

void ReplacingFile::WriteAt(std::uint64_t offset, std::string_view bytes) {
  while (!bytes.empty()) {
    // On a handle opened for synchronous writes the offset in OVERLAPPED
    // makes WriteFile write there; the system takes one such write at a
    // time, whichever thread calls.
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD put = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
    if (!WriteFile(reinterpret_cast<HANDLE>(handle_), bytes.data(), want, &put, &at)) {
      throw FileCreateError(path_, WindowsErrorText(GetLastError()));
    }
    if (put == 0) throw FileCreateError(path_, WindowsErrorText(ERROR_DISK_FULL));
    bytes.remove_prefix(put);
    offset += put;
  }
}

void ReplacingFile::Commit(Flush flush) {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  handle_ = -1;
  auto fail = [&](DWORD code) {
    ::DeleteFileA(temporary_.c_str());
    throw FileCreateError(path_, WindowsErrorText(code));
  };
  if (flush == Flush::kToDisk && !FlushFileBuffers(file)) {
    const DWORD code = GetLastError();
    CloseHandle(file);
    fail(code);
  }
  CloseHandle(file);
  const DWORD through = flush == Flush::kToDisk ? MOVEFILE_WRITE_THROUGH : 0;
  if (!MoveFileExA(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | through)) fail(GetLastError());
}

bool DeleteFile(const std::string& path) { return ::DeleteFileA(path.c_str()) != 0; }

bool MoveFileNoReplace(const std::string& from, const std::string& to) {
  return MoveFileA(from.c_str(), to.c_str()) != 0;
}

void SleepMilliseconds(int milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }

bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries) {
  std::string pattern = folder;
  if (!pattern.empty() && pattern.back() != '\\' && pattern.back() != '/') pattern += '\\';
  pattern += "*.*";
  WIN32_FIND_DATAA data;
  HANDLE search = FindFirstFileA(pattern.c_str(), &data);
  if (search == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
  do {
    const std::string name = data.cFileName;
    if (name == "." || name == "..") continue;
    DirEntry entry;
    entry.name = name;
    entry.is_directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    entry.is_hidden = (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN) != 0;
    entry.is_system = (data.dwFileAttributes & FILE_ATTRIBUTE_SYSTEM) != 0;
    entry.is_symlink = (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    entries.push_back(std::move(entry));
  } while (FindNextFileA(search, &data));
  FindClose(search);
  return true;
}

std::string ExecutableFolder() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetModuleFileNameA(nullptr, buffer, MAX_PATH);
  std::string path(buffer, length);
  const auto cut = path.find_last_of("\\/");
  return cut == std::string::npos ? CurrentDirectory() : path.substr(0, cut + 1);
}

std::string CurrentDirectory() {
  char buffer[MAX_PATH + 1];
  const DWORD length = GetCurrentDirectoryA(MAX_PATH, buffer);
  std::string result(buffer, length);
  if (!result.empty() && result.back() != '\\') result += '\\';
  return result;
}

bool SetCurrentDirectory(const std::string& path) { return ::SetCurrentDirectoryA(path.c_str()) != 0; }

void WriteNewFile(const std::string& path, const std::vector<std::string_view>& pieces) {
  Handle file(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) throw FileCreateError(path, WindowsErrorText(GetLastError()));
  auto fail = [&](DWORD code) {
    file.Close();
    ::DeleteFileA(path.c_str());
    throw FileCreateError(path, WindowsErrorText(code));
  };
  for (const std::string_view piece : pieces) {
    if (const DWORD code = WriteWhole(file.get(), piece)) fail(code);
  }
  file.Close();
}

// Flushing a whole volume needs administrator rights on Windows; NTFS
// writes the files' data out on its own soon after they are closed.
void FlushFileSystemOf(const std::string&) {}

}  // namespace larkspur::port
