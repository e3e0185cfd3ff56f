// A firmware file's package folder: which checksum list (.vpl) beside the
// file lists it, and a copy of the package that the flasher takes with a
// repacked file in place of the original. Reads and writes through port/;
// for any thread, but two calls must not write the same folder at once.
#ifndef LARKSPUR_VPL_PACKAGE_FOLDER_H_
#define LARKSPUR_VPL_PACKAGE_FOLDER_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vpl/vpl_reader.h"

namespace larkspur::vpl {

// The largest .vpl read; real ones hold a few hundred entries in some
// tens of kilobytes.
inline constexpr std::uint64_t kMaxVplBytes = std::uint64_t{16} << 20;

// How the .vpl files in a firmware file's folder list it.
struct VplListing {
  enum class Kind {
    kListed,      // exactly one <File> of one .vpl names the file
    kNotListed,   // no .vpl in the folder names it (or there is none)
    kAmbiguous,   // more than one <File> names it, in one .vpl or in several
    kUnreadable,  // the folder, or a .vpl in it, cannot be read
  };
  Kind kind = Kind::kNotListed;

  // kListed: the .vpl (the folder joined with its name as listed), its
  // bytes as read (for RewriteCrc), what they parse to, and which entry
  // names the file.
  std::string vpl_path;
  std::string vpl_bytes;
  VplFile vpl;
  std::size_t entry_index = 0;
  const VplEntry& entry() const { return vpl.entries.at(entry_index); }

  // kAmbiguous: the path of each .vpl that names the file, once for each
  // <File> that does, in name order.
  std::vector<std::string> listing_paths;

  // kAmbiguous and kUnreadable: a sentence that names the files and the
  // cause, for a log line (for kUnreadable the error's what(): "Cannot open
  // file ...", "<vpl> at byte 0x1A4: ...", "Cannot list folder ...").
  std::string reason;
};

// Looks at every file of the folder of `firmware_path` whose name ends in
// ".vpl" (any letter case) for <File> entries named as the file
// (SameFileName with the name part of `firmware_path`). The file itself
// need not exist. Several listings are kAmbiguous even when a .vpl of the
// folder cannot be read; otherwise one that cannot be read (too large,
// locked, broken) makes the answer kUnreadable, since it might list the
// file too. Throws nothing for what the folder holds; std::bad_alloc only.
VplListing FindVplListing(const std::string& firmware_path);

// What goes into a flashable folder.
struct FlashableFolderSources {
  std::string package_folder;  // the firmware package's folder, whose files are copied
  std::string firmware_name;   // the firmware file's name in it, which the repacked file replaces
  std::string repacked_path;   // the repacked firmware file (REB-...)
  std::string vpl_name;        // the .vpl in it that lists the firmware file; empty when none does
  std::string vpl_bytes;       // that .vpl's new content (RewriteCrc with the repacked file's CRC)
};

// What WriteFlashableFolder wrote.
struct FlashableFolderWritten {
  std::string folder;                 // the target folder, as given without trailing separators
  std::string firmware_name;          // the name the repacked file got (the package's spelling)
  std::vector<std::string> copied;    // the package's other files, copied as they are, in name order
  std::vector<std::string> left_out;  // the package's entries that are no regular files (folders), not copied
};

// Writes `target_folder` as a copy of the package folder that the flasher
// takes: every regular file of `package_folder`, except that the file named
// `firmware_name` gets the repacked file's bytes and the one named
// `vpl_name` gets `vpl_bytes`, each under the package's own spelling of the
// name (matched as SameFileName; written under the given name when the
// package lacks it). Subfolders and other entries are left out and named in
// the result.
//
// Nothing half-written is ever under `target_folder`: the files go into the
// sibling folder "<target_folder>.partial", made afresh, each written whole
// and flushed; the sizes are checked, and with a .vpl so is the repacked
// file's CRC as written against the one `vpl_bytes` gives; only then is the
// folder renamed to `target_folder`. A failure removes what was written.
// Throws FileError "Cannot write the package folder "<target>". <reason>"
// when `target_folder` exists and is not an empty folder, when the package
// folder cannot be listed or names the firmware file (or the .vpl) twice in
// different letter case, or when a check fails; FileError from port when
// the temporary folder exists already or cannot be made or moved;
// FileOpenError, FileIoError and FileCreateError for a file that cannot be
// read or written; VplFormatError when `vpl_bytes` cannot be read.
FlashableFolderWritten WriteFlashableFolder(const FlashableFolderSources& sources, const std::string& target_folder);

}  // namespace larkspur::vpl

#endif  // LARKSPUR_VPL_PACKAGE_FOLDER_H_
