// The obey file: the list of files that the ROFS build tool puts into the
// image. Written as plain bytes, CR LF after every line, no byte-order mark.
#ifndef LARKSPUR_REPACK_OBEY_FILE_H_
#define LARKSPUR_REPACK_OBEY_FILE_H_

#include <string>
#include <vector>

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
// A folder that cannot be listed contributes nothing.
void ListFilesDepthFirst(const std::string& folder, const std::string& pattern, bool recurse,
                         const std::string& relative_prefix, std::vector<std::string>& found);

}  // namespace larkspur

#endif  // LARKSPUR_REPACK_OBEY_FILE_H_
