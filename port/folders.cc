#include "port/folders.h"

#include <filesystem>

#include "port/faults.h"
#include "port/files.h"

namespace larkspur::port {
namespace {

namespace fs = std::filesystem;

}  // namespace

bool PathExists(const std::string& path) {
  std::error_code error;
  return fs::symlink_status(FileSystemPath(path), error).type() != fs::file_type::not_found && !error;
}

bool FolderHasEntries(const std::string& folder) {
  std::error_code error;
  const fs::path where = FileSystemPath(folder);
  return fs::is_directory(where, error) && !fs::is_empty(where, error) && !error;
}

void CreateFolder(const std::string& path) {
  if (const int injected = NextFileChange(FileChange::kCreate)) {
    throw FolderError("Cannot create folder", path, SystemReason(injected));
  }
  std::error_code error;
  fs::create_directory(FileSystemPath(path), error);
  if (error) throw FolderError("Cannot create folder", path, error.message());
}

void CreateNewFolder(const std::string& path) {
  std::error_code error;
  // An existing folder is neither an error nor a creation to
  // create_directory; anything else there is an error.
  if (fs::create_directory(FileSystemPath(path), error)) return;
  throw FolderError("Cannot create folder", path, error ? error.message() : "It exists already");
}

bool RemoveEmptyFolder(const std::string& path) {
  std::error_code error;
  // remove() takes a file as well as an empty folder.
  const fs::path where = FileSystemPath(path);
  return fs::is_directory(fs::symlink_status(where, error)) && fs::remove(where, error) && !error;
}

void MoveFolder(const std::string& from, const std::string& to) {
  std::error_code error;
  // rename() would replace an empty folder at `to` on POSIX: the caller
  // asked for a move that never replaces anything.
  if (PathExists(to)) throw FolderError("Cannot move folder", from, "\"" + to + "\" is in the way");
  if (const int injected = NextFileChange(FileChange::kRename)) {
    throw FolderError("Cannot move folder", from, "to \"" + to + "\": " + SystemReason(injected));
  }
  fs::rename(FileSystemPath(from), FileSystemPath(to), error);
  if (error) throw FolderError("Cannot move folder", from, "to \"" + to + "\": " + error.message());
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  fs::remove_all(FileSystemPath(path), error);
  if (error) throw FolderError("Cannot remove folder", path, error.message());
}

}  // namespace larkspur::port
