// The firmware package's checksum list (.vpl) in larkspur-cli's commands:
// what `info` and `verify` say about it, the list Repack writes beside the
// REB- file, and `repack --package-to DIR`. A sketch of the wiring over
// vpl/, not called by main.cc yet; the texts are the command line's
// (English, as `info` prints). For the thread that runs the command.
#ifndef LARKSPUR_TOOLS_LARKSPUR_CLI_PACKAGE_CHECKSUMS_H_
#define LARKSPUR_TOOLS_LARKSPUR_CLI_PACKAGE_CHECKSUMS_H_

#include <ostream>
#include <string>

namespace larkspur {

// `info` and `verify`: prints the file's CRC-32 and what the .vpl beside it
// says:
//   crc32:          c0d79d0d
//   checksum list:  RM-596.vpl gives c0d79d0d: right
// or "... gives 0a1b2c3d, the file has c0d79d0d: wrong, the flasher
// refuses the file", "... lists it without a checksum (<Crc> "")", "no .vpl
// in the folder lists it", "cannot tell: <reason>" (several lists, a list
// that cannot be read). Returns false when a .vpl lists the file with
// another CRC: verify fails then. Throws FileOpenError and FileIoError when
// the firmware file cannot be read.
bool PrintPackageChecksum(std::ostream& out, const std::string& firmware_path);

// Repack, after the REB- file at `reb_path` was made from `input_path`:
// when a .vpl in the input's folder lists the input's name, writes
// "REB-<name of the .vpl>" beside `reb_path` (WriteFileReplacing) with the
// REB- file's CRC in that entry, and logs the list, the old and the new
// value. Logs why when no list, several or an unreadable one do, and writes
// nothing then. Returns the path written, or "" for none. Throws
// VplFormatError when the entry's <Crc> cannot be rewritten, FileError when
// a file cannot be read or written.
std::string WriteRebChecksumList(std::ostream& log, const std::string& input_path, const std::string& reb_path);

// `repack --package-to DIR`: copies the input's package folder into
// `target_folder` with the REB- file under the input's name and the .vpl
// that lists it rewritten (vpl::WriteFlashableFolder), and logs what was
// written and left out. Refuses (throws FileError) when the input's folder
// holds several lists of the input or one that cannot be read; copies the
// package unchanged but for the firmware file when no list names it.
void WritePackageTo(std::ostream& log, const std::string& input_path, const std::string& reb_path,
                    const std::string& target_folder);

}  // namespace larkspur

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_PACKAGE_CHECKSUMS_H_
