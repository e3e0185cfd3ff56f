// A file opened to be loaded whole: the platform part of ReadWholeFile and
// ReloadWholeFile (files_loading.cc holds what both platforms share). For
// the platform layer only.
#ifndef LARKSPUR_PORT_FILE_FOR_LOADING_H_
#define LARKSPUR_PORT_FILE_FOR_LOADING_H_

#include <cstdint>
#include <string>

namespace larkspur::port {

class FileForLoading {
 public:
  // Opens `path` for reading only (on Windows with no sharing, so the open
  // fails while another program holds the file open). opened() is false when
  // `path` names no regular file; throws FileOpenError when the file exists
  // but cannot be opened.
  explicit FileForLoading(const std::string& path);
  ~FileForLoading();
  FileForLoading(const FileForLoading&) = delete;
  FileForLoading& operator=(const FileForLoading&) = delete;

  bool opened() const { return opened_; }
  // The open descriptor (a HANDLE on Windows), -1 when none.
  std::intptr_t handle() const { return handle_; }
  std::uint64_t size() const { return size_; }

  // Reads exactly `count` bytes at `offset` into `to`, through the file and
  // not a mapping of it (whose pages stay untouched); throws FileIoError
  // when a read fails or the file ends sooner.
  void ReadAt(std::uint64_t offset, char* to, std::uint64_t count);

  // Maps the whole (non-empty) file into memory, read-only, until the
  // object is destroyed; the file stays open meanwhile. Returns nullptr
  // when the system cannot map it (the caller reads it instead).
  const char* MapWhole();

  // Fills the mapping's page tables at once, before its bytes are read
  // (one call instead of a fault every few pages). Does nothing when the
  // file is not mapped or the system cannot.
  void PrefaultMapping();

  // Takes the mapping's pages out of the process's memory; they stay in the
  // system's file cache and come back when read again. Does nothing when the
  // file is not mapped or the system cannot.
  void DropMappedPages();

 private:
  const std::string path_;
  bool opened_ = false;
  std::uint64_t size_ = 0;
  std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
  void* mapped_ = nullptr;     // the mapped bytes, while mapped
  void* mapping_ = nullptr;    // the file mapping object on Windows
};

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_FILE_FOR_LOADING_H_
