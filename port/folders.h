// Folders on the host: making, moving and removing whole trees, for the
// working folders of the program folder. Callable from any thread; none of
// them keeps state. Paths as in port/files.h.
#ifndef LARKSPUR_PORT_FOLDERS_H_
#define LARKSPUR_PORT_FOLDERS_H_

#include <string>

#include "port/errors.h"

namespace larkspur::port {

// A folder that cannot be made, moved or removed: what() is
// "<action> folder "<path>". <reason>".
class FolderError : public FileError {
 public:
  using FileError::FileError;
  const char* ClassName() const override { return "EInOutError"; }
};

// True when anything (a file, a folder, a link) stands at `path`.
bool PathExists(const std::string& path);

// True when `folder` is a folder holding at least one entry.
bool FolderHasEntries(const std::string& folder);

// Makes the folder `path`, whose parent exists; nothing happens when it is
// there already. Throws FolderError.
void CreateFolder(const std::string& path);

// Makes the folder `path`, whose parent exists, where nothing is yet: a
// folder made by another run is never taken for one's own. Throws
// FolderError ("... It exists already" for a folder there).
void CreateNewFolder(const std::string& path);

// Removes the folder `path` when it is empty. Returns false when it could
// not (nothing there, not a folder, not empty, in use).
bool RemoveEmptyFolder(const std::string& path);

// Moves the file or folder `from` to `to`, which must not exist. Throws
// FolderError naming both.
void MoveFolder(const std::string& from, const std::string& to);

// Removes `path` and everything below it; links are removed, never
// followed. Nothing happens when there is nothing at `path`. Throws
// FolderError.
void RemoveTree(const std::string& path);

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_FOLDERS_H_
