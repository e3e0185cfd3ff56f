// The obey file: the list of files that the ROFS build tool puts into the
// image. Written as plain bytes, CR LF after every line, no byte-order mark.
#ifndef LARKSPUR_REPACK_OBEY_FILE_H_
#define LARKSPUR_REPACK_OBEY_FILE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "port/errors.h"
#include "rofs/kept_entries.h"

namespace larkspur {

inline constexpr char kObeyNameLine[] = "rofsname=rofs2r.img";
inline constexpr char kObeySizeLine[] = "rofssize=0x10000000";

// The data line of a file found below rofs2: `relative_path` begins with
// "rofs2\" and continues with the file's path below rofs2, folders
// separated by backslashes. Nothing is escaped.
//   rofs2\sys\bin\app.exe  ->  data="..\rofs2\sys\bin\app.exe" "sys\bin\app.exe"
std::string ObeyDataLine(const std::string& relative_path);

// The same data line, followed by the obey words that set the entry's
// attribute bytes when they differ from the builder's defaults (0x01 and
// 0xFF), spelled as the Symbian tools write them:
//   attrib=HS (0x06; letters R H S for 0x01 0x02 0x04, W alone for 0x00)
//   exattrib=U (extra attributes with the unique bit 0x02 cleared)
// Bits no obey word can set (archive 0x20 and the rest, extra bits other
// than 0x02) are left out; ObeyAttributesExpressible tells.
std::string ObeyDataLine(const std::string& relative_path, std::uint8_t attributes,
                         std::uint8_t extra_attributes);

// True when attrib=/exattrib= words can give exactly these bytes.
bool ObeyAttributesExpressible(std::uint8_t attributes, std::uint8_t extra_attributes);

// The line that makes a hidden entry (a mask for a lower layer's file), its
// image path in double quotes as UTF-8:  hide "sys\bin\gone.dll"
// Precondition: ObeyHidePathReason(path) is empty.
std::string ObeyHideLine(const rofs::KeptPath& path);

// Why `path` cannot be written in an obey line (a name holding a double
// quote, a control character, a separator or an unpaired surrogate), or
// empty when it can.
std::string ObeyHidePathReason(const rofs::KeptPath& path);

// The file lines of an obey file for the files found below rofs2 and what
// the kept record of the extracted image asked for.
struct ObeyFileLines {
  // One data line per relative path, in the given order, with the kept
  // attributes of that path; then one hide line per kept hidden entry that
  // no file or folder of rofs2 takes the place of, in the record's order.
  std::vector<std::string> lines;
  std::size_t hidden_kept = 0;      // hide lines written
  std::size_t attributes_kept = 0;  // data lines whose attribute bytes come out as recorded
  // Paths (as KeptPathText gives them) of hidden entries left out because a
  // file or folder of rofs2 now stands at that path (or at a folder of it).
  std::vector<std::string> hidden_replaced;
  // Hidden entries left out because an obey line cannot hold their path,
  // each as "<path>: <reason>".
  std::vector<std::string> hidden_unwritable;
  // Files whose recorded attribute bytes obey words cannot give exactly;
  // their lines carry what can be given.
  std::vector<std::string> attributes_partial;
  // Recorded attributes of files no longer in rofs2.
  std::vector<std::string> attributes_without_file;
};

// Builds the file lines for `relative_paths` (each "rofs2\..." as
// ListFilesDepthFirst gives them) and `kept`. Paths are compared as the
// image compares names: ASCII letters without regard to case. A relative
// path whose bytes are no image name (not text in the host's encoding)
// matches nothing. With an empty `kept` the lines are exactly those of
// ObeyDataLine(relative_path).
ObeyFileLines BuildObeyFileLines(const std::vector<std::string>& relative_paths,
                                 const rofs::KeptEntries& kept);

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
// entered. With `links`, a symbolic link (to a file or a folder) goes there
// instead (its path with the platform's separators), and is not followed.
// Throws FolderListError when a folder cannot be listed: a file silently
// left out would be missing from the image.
void ListFilesDepthFirst(const std::string& folder, const std::string& pattern, bool recurse,
                         const std::string& relative_prefix, std::vector<std::string>& found,
                         std::vector<std::string>* backslash_names = nullptr,
                         std::vector<std::string>* links = nullptr);

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
