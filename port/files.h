// Files and folders on the host: the few operations the program needs, with
// a POSIX and a Win32 implementation behind this one header. Callable from
// any thread; none of them keeps state.
//
// Paths are the program's path strings: the bytes the system gives on POSIX
// (UTF-8, or whatever the file system holds), UTF-8 on Windows too, where
// the Win32 implementation calls the wide (W) functions with their UTF-16
// form (port/wide_paths_win32.h), so names in any script work whatever the
// system's ANSI code page.
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

// The std::filesystem::path of one of the program's path strings, and the
// path string of a std::filesystem::path: the one crossing between the two.
// On Windows a std::filesystem::path made from (or turned into) a plain
// std::string is read in the ANSI code page, which cannot hold most names;
// these two go through UTF-16 instead. On POSIX they take the bytes as
// they are.
std::filesystem::path FileSystemPath(std::string_view path);
std::string PathText(const std::filesystem::path& path);

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
// partition image carved out of a mapped firmware file): on POSIX the
// system copies those from the file itself (copy_file_range), so their
// pages never come into this process and are copied once; where it cannot,
// they are written from memory. Windows has no such copy: there they are
// read from the file through one buffer and written from it, as a copy
// does. The same bytes either way. Throws as above, and FileCreateError
// when the file behind `source` has become shorter than the view or cannot
// be read.
void WriteFileReplacing(const std::string& path, const std::vector<std::string_view>& pieces,
                        const WriteProgress& progress, const FileView& source);

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
