// The obey file: the list of files that the ROFS build tool puts into the
// image. Written as plain bytes, CR LF after every line, no byte-order mark.
#ifndef LARKSPUR_REPACK_OBEY_FILE_H_
#define LARKSPUR_REPACK_OBEY_FILE_H_

#include <string>
#include <vector>

#include "port/errors.h"

namespace larkspur {

inline constexpr char kObeyNameLine[] = "rofsname=rofs2r.img";
inline constexpr char kObeySizeLine[] = "rofssize=0x10000000";

// The data line of a file found below rofs2: `relative_path` begins with
// "rofs2\" and continues with the file's path below rofs2, folders
// separated by backslashes. Nothing is escaped.
//   rofs2\sys\bin\app.exe  ->  data="..\rofs2\sys\bin\app.exe" "sys\bin\app.exe"
std::string ObeyDataLine(const std::string& relative_path);

// The lines joined, each followed by CR LF.
std::string JoinObeyLines(const std::vector<std::string>& lines);

// True when `name` matches the wildcard `pattern` ('*' any run, '?' one
// character). "*.*" matches every name, also one without a dot, as the
// Windows directory listing does.
bool MatchesPattern(const std::string& name, const std::string& pattern);

// Lists the files below `folder` in depth-first pre-order: the files of a
// folder in listing order, then the whole subtree of each subfolder in
// listing order. Hidden and system subfolders are not entered, and neither
// are symbolic links to folders (a loop must not hang the walk); hidden and
// system files are listed. Each file found is appended to `found` as
// `relative_prefix` followed by its path below `folder`, with backslashes.
// A file or folder whose name holds a backslash (possible on POSIX) cannot
// be told apart in such a path: it goes to `backslash_names` instead (its
// path with the platform's separators), and a folder of that kind is not
// entered. Throws FolderListError when a folder cannot be listed: a file
// silently left out would be missing from the image.
void ListFilesDepthFirst(const std::string& folder, const std::string& pattern, bool recurse,
                         const std::string& relative_prefix, std::vector<std::string>& found,
                         std::vector<std::string>* backslash_names = nullptr);

// "Cannot list folder "%s"."
class FolderListError : public Error {
 public:
  explicit FolderListError(const std::string& folder)
      : Error("Cannot list folder \"" + folder + "\""), folder_(folder) {}
  const std::string& folder() const { return folder_; }

 private:
  std::string folder_;
};

}  // namespace larkspur

#endif  // LARKSPUR_REPACK_OBEY_FILE_H_
