// Files and folders on the host: the few operations the program needs, with
// a POSIX and a Win32 implementation behind this one header. Callable from
// any thread; none of them keeps state.
//
// Paths are byte strings as the system gives them: UTF-8 (or whatever the
// file system holds) on POSIX, the ANSI code page on Windows.
#ifndef LARKSPUR_PORT_FILES_H_
#define LARKSPUR_PORT_FILES_H_

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::port {

class FileView;

// The separator the platform writes between folder names.
#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

// True when `path` names an existing regular file (a folder does not count).
bool IsRegularFile(const std::string& path);

// True when `path` names an existing folder.
bool IsDirectory(const std::string& path);

// Reads the whole file at `path` into `dest`. The file is opened for reading
// only and, on Windows, with no sharing, so the open fails while another
// program holds the file open.
// Returns false, leaving `dest` untouched, when `path` names no regular file
// or the file is empty. Throws FileOpenError when the file exists but cannot
// be opened, FileIoError when it is larger than `max_size` or a read fails;
// `dest` is untouched then too.
// With `front_room`, `dest` begins with that many zero bytes before the
// content; `back_room` bytes more are reserved behind it, so a caller can
// pad the content without a second copy.
bool ReadWholeFile(const std::string& path, std::string& dest, std::uint64_t max_size,
                   std::size_t front_room = 0, std::size_t back_room = 0);

// ReadWholeFile into bytes, for the parsers that take a span of them;
// allocates exactly the file's size.
bool ReadWholeFile(const std::string& path, std::vector<std::uint8_t>& dest, std::uint64_t max_size);

// Reads the whole file at `path` into `dest`, replacing its content, in the
// storage `dest` already owns when the file fits its capacity: reading again
// a file held in memory then allocates nothing, never holds the old and the
// new content at once, and touches no fresh memory. Returns false, leaving
// `dest` untouched, when `path` names no regular file or the file is empty.
// Throws FileOpenError and FileIoError as ReadWholeFile does; `dest` is
// untouched when the file cannot be opened or is too large, and left empty
// when a read fails part way.
bool ReloadWholeFile(const std::string& path, std::string& dest, std::uint64_t max_size);

// Size of a regular file, or -1 when there is none.
std::int64_t FileSize(const std::string& path);

// Writes `pieces` one after another as the whole new content of `path`.
// The bytes go to a temporary file beside `path` that replaces `path` only
// once every byte has been written and flushed, so a failed write never
// leaves a truncated file under the final name; an earlier file of that name
// stays untouched on failure. Throws FileCreateError naming `path` with the
// system's reason when the file cannot be created or a write stops short.
//
// The pieces are written gathered (several to a system call on POSIX), so a
// file made of many views costs no more than one made of a single buffer.
// `progress`, when given, is called on the calling thread with the number
// of pieces written so far and their total, after every stretch of pieces
// (at most kProgressStretchBytes, or one larger piece) and last with both
// numbers equal, before the file is flushed. An exception it throws stops
// the write as a failed write does (the temporary file is removed) and
// propagates as it is.
using WriteProgress = std::function<void(std::size_t pieces_written, std::size_t pieces_total)>;
inline constexpr std::size_t kProgressStretchBytes = std::size_t{16} << 20;
void WriteFileReplacing(const std::string& path, const std::vector<std::string_view>& pieces,
                        const WriteProgress& progress = nullptr);

// WriteFileReplacing for content made while it is written (an image copied
// from its source files, too large to hold whole): `produce` calls the
// `write` it is given with the bytes in order. The same temporary file,
// flush and replacement as above; the bytes are written in stretches of
// about kStreamedWriteBuffer. Throws FileCreateError naming `path` as above,
// from `write` too; an exception from `produce` stops the write as a failed
// write does (the temporary file is removed) and propagates as it is.
using ContentWrite = std::function<void(std::string_view bytes)>;
using ContentProducer = std::function<void(const ContentWrite& write)>;
inline constexpr std::size_t kStreamedWriteBuffer = std::size_t{1} << 20;
void WriteFileReplacing(const std::string& path, const ContentProducer& produce);

// Creates `path`, which must not exist yet, with `pieces` one after another
// as its content: for the files of a tree unpacked into a folder of its own,
// where a temporary name beside each file could be the name of another file
// of the tree. The creation is exclusive, so it never follows or replaces a
// link or file that appeared at `path`; a write that stops short removes the
// file again. Not flushed to disk one by one (see FlushFileSystemOf). Throws
// FileCreateError naming `path` with the system's reason.
void WriteNewFile(const std::string& path, const std::vector<std::string_view>& pieces);

// Asks the system to put on disk what was written on the file system that
// holds `folder` (after a tree of files was unpacked there), so a crash
// afterwards cannot leave them empty. Throws FileIoError naming the folder
// when the system reports that it could not: what did not reach the disk is
// lost as surely as a failed write.
void FlushFileSystemOf(const std::string& folder);

// The same, for pieces some of which are views into `source`'s bytes (the
// partition image carved out of a mapped firmware file): their bytes are
// taken from the file, never from the mapping, whose pages then never come
// into this process. On POSIX the system copies the large ones from the
// file itself (copy_file_range), so they are copied once (where it cannot,
// they are written from memory); small ones (below 128 KiB, as the 32 KiB
// blocks of a ROFS file) are read from the file a run of consecutive ones
// at a time into one buffer of 1 MiB and written gathered with the pieces
// between them: a system call for each of thousands of small copies costs
// more than copying them twice. Windows has no such copy: there they are
// read from the file through one buffer and written from it, as a copy
// does. The same bytes either way. Throws as above, and FileCreateError
// when the file behind `source` has become shorter than the view or cannot
// be read.
void WriteFileReplacing(const std::string& path, const std::vector<std::string_view>& pieces,
                        const WriteProgress& progress, const FileView& source);

// A path in the system's own form (wide characters on Windows, so that a
// name outside the ANSI code page is found too), for the functions below
// that load many files: unlike a std::filesystem::path it is made without
// splitting it into its parts.
using NativePath = std::filesystem::path::string_type;

// What the file system says of a path, without opening it: for a reader of
// many files that must tell a missing file from one it cannot use. Symbolic
// links are followed.
struct PathStatus {
  enum class Kind {
    kRegular,  // a regular file of `size` bytes
    kMissing,  // no such file (or a folder on its path is missing)
    kOther,    // a folder, a device, a pipe...
    kUnknown,  // the system could not tell: `reason` says why
  };
  Kind kind = Kind::kUnknown;
  std::uint64_t size = 0;
  std::string reason;
};
PathStatus StatusOfPath(const NativePath& path);

// A file read from its start, for loading many files one after another
// (the sources of a ROFS image): one open and, where the system can, one
// read a file, straight into the caller's memory. One object per thread;
// several objects may read on several threads at once.
class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Opens `path` for reading (closing a file opened before), shared with
  // other readers and writers as a plain open for reading is. A pipe or
  // device is not waited on. Throws FileOpenError naming `path` with the
  // system's reason.
  void Open(const NativePath& path);

  // Reads up to `count` bytes into `to`; fewer only when the file ends
  // first. Throws FileIoError when a read fails.
  std::uint64_t Read(char* to, std::uint64_t count);

  // How the file went on after the bytes ReadToEnd was asked for.
  enum class End {
    kExactly,   // the file ended right after them
    kSooner,    // it ended before them (the rest of `to` is undefined)
    kGoesOn,    // more bytes follow
  };
  // Reads `count` bytes into `to` and looks one byte further, to tell
  // whether the file ends right there: on POSIX in the same system call
  // (the byte goes to a buffer of the reader's own). Throws FileIoError.
  End ReadToEnd(char* to, std::uint64_t count);

  void Close();

 private:
  std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
  std::string path_;           // for messages
};

// A new file written at offsets known beforehand, from several threads at
// once if need be (an image laid out before its parts are read), that takes
// the place of `path` only when complete. The bytes go to "<path>.partial"
// beside it; an object destroyed before Commit removes that file, so a
// failed write leaves an earlier file of that name as it was.
class ReplacingFile {
 public:
  // Creates "<path>.partial", replacing any file of that name. Throws
  // FileCreateError naming `path` with the system's reason.
  explicit ReplacingFile(const std::string& path);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // Writes `bytes` at `offset` of the file. Several threads may write at
  // once, to stretches that do not overlap. Throws FileCreateError naming
  // `path`.
  void WriteAt(std::uint64_t offset, std::string_view bytes);

  enum class Flush {
    // Flushed to the disk before it takes the final name, as
    // WriteFileReplacing does: an output the user keeps.
    kToDisk,
    // Left to the system to write back in its own time: an intermediate
    // file that is made again whenever it is needed. After a crash it may
    // be short or empty under its final name.
    kLeftToSystem,
  };
  // Puts the file in the place of `path`. Call once, after the last write.
  // Throws FileCreateError naming `path`, and the temporary file is
  // removed.
  void Commit(Flush flush);

 private:
  std::string path_;
  std::string temporary_;
  std::intptr_t handle_ = -1;  // a descriptor, or a HANDLE on Windows
};

// What identifies a file's content without reading it: its size and last
// write time. `regular` is false (and the rest 0) when `path` names no
// regular file.
struct FileStamp {
  bool regular = false;
  std::int64_t size = 0;
  std::int64_t write_time = 0;  // in the file system's clock ticks
  bool operator==(const FileStamp&) const = default;
};
FileStamp StampOfFile(const std::string& path);

// Deletes a file. Returns false when it could not (missing, in use, ...).
bool DeleteFile(const std::string& path);

// Moves a file; fails (returns false) when `to` exists already.
bool MoveFileNoReplace(const std::string& from, const std::string& to);

// Sleeps the calling thread.
void SleepMilliseconds(int milliseconds);

// One entry of a folder listing.
struct DirEntry {
  std::string name;  // the long name, as the system gives it
  bool is_directory = false;
  bool is_hidden = false;   // on POSIX: the name starts with "."
  bool is_system = false;   // never on POSIX
  bool is_symlink = false;  // a symbolic link (or a junction on Windows)
};

// Lists the entries of `folder` (without "." and ".."), in the order the
// system returns them. Returns false when the folder cannot be listed.
bool ListDirectory(const std::string& folder, std::vector<DirEntry>& entries);

// The folder of the running executable, as an absolute path ending in the
// separator.
std::string ExecutableFolder();

// The process's current directory, and setting it. The current directory
// belongs to the whole process.
std::string CurrentDirectory();
bool SetCurrentDirectory(const std::string& path);

// `folder` (ending in a separator or not) joined with `relative`, whose '/'
// and '\' are turned into the platform's separator.
std::string JoinPath(const std::string& folder, std::string_view relative);

// The file name part of a path: what follows the last separator (and, on
// Windows, colon).
std::string FileNamePart(const std::string& path);

// The folder part of a path: what comes before FileNamePart, the separator
// included; "." and the separator for a bare name, so it always names the
// folder the file is in.
std::string FolderPart(const std::string& path);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_FILES_H_
