// A read-only view of a whole file, without first filling a buffer: the
// file is mapped into memory where the system can (mmap on POSIX, a file
// mapping on Windows), and read into storage that is never zero-filled
// where it cannot. For the thread that holds the view; the bytes may be read
// from any thread while the view lives.
#ifndef LARKSPUR_PORT_FILE_VIEW_H_
#define LARKSPUR_PORT_FILE_VIEW_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::port {

class FileForLoading;

class FileView {
 public:
  FileView();
  ~FileView();
  FileView(FileView&& other) noexcept;
  FileView& operator=(FileView&& other) noexcept;
  FileView(const FileView&) = delete;
  FileView& operator=(const FileView&) = delete;

  // Replaces the view with the whole content of the file at `path`, opened
  // for reading only (on Windows with no sharing, as ReadWholeFile opens it,
  // and held open so while mapped: no program can write it meanwhile).
  // Returns false, leaving the view empty, when `path` names no regular file
  // or the file is empty. Throws FileOpenError when the file exists but
  // cannot be opened, FileIoError when it is larger than `max_size` or a
  // read fails; the view is empty then too.
  //
  // On POSIX another program can still shorten a mapped file; reading the
  // bytes past its new end then ends the process (SIGBUS). The program's
  // own files are written through WriteFileReplacing, which never changes a
  // file in place.
  bool Open(const std::string& path, std::uint64_t max_size);

  // Says every byte is about to be read (an Extract writing the partition
  // out, a Repack cutting the image): a mapped view brings the whole file
  // in at once, as loading it would, instead of a page fault every few
  // pages. Until then only the pages read are held, so a view read in
  // parts (the block headers, the prefix) costs little memory. Does
  // nothing for bytes already in memory or where the system cannot.
  void ReadAhead();

  // Copies `part`, a stretch of this view's bytes, to `to`. A mapped view
  // reads them from the file (pread, or ReadFile at an offset) without
  // touching the mapping: one pass over a big file through a small buffer
  // that stays in the cache costs less than bringing every page of the
  // mapping into the process, which a system that copies the bytes from
  // file to file never needs. Throws std::invalid_argument when `part` is
  // not inside the view, FileIoError when the read fails.
  void CopyOut(std::string_view part, char* to) const;

  // Gives back the memory of the pages of a mapped view read so far: they
  // stay in the system's file cache, and reading them again brings them
  // back. For a view walked once from end to end (the block headers of a
  // file with small blocks bring in every page around them) and then read
  // in a few places. The bytes are unchanged. Does nothing for bytes read
  // into memory or where the system cannot.
  void DropPages() const;

  // Drops the view (unmaps, frees, closes).
  void Close();

  std::string_view bytes() const { return {data_, size_}; }
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  // True when the bytes are the system's mapping of the file, false when
  // they were read into memory of the view's own (or the view is empty).
  bool mapped() const { return file_ != nullptr; }

  // Where `bytes`, a stretch of this view's bytes, lie in the file, when
  // the view maps it; nothing when they lie elsewhere or the bytes were
  // read. With file_handle() it lets a writer have the system copy them
  // from the file instead of from memory (see WriteFileReplacing).
  std::optional<std::uint64_t> FileOffsetOf(std::string_view bytes) const;
  // The mapped file's open descriptor (a HANDLE on Windows), -1 when the
  // view does not map one.
  std::intptr_t file_handle() const;

 private:
  // Whether `bytes` lie wholly inside the view.
  bool Holds(std::string_view bytes) const;

  const char* data_ = nullptr;
  std::size_t size_ = 0;
  std::unique_ptr<FileForLoading> file_;  // open and mapped while the view maps it
  std::unique_ptr<char[]> storage_;       // the bytes, when they were read
};

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_FILE_VIEW_H_
