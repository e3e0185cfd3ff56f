// The firmware package's checksum list (.vpl) in larkspur-cli's `info`
// and `verify`: the file's CRC-32 and whether the list agrees. (Repack
// writes the list itself.) For the thread that runs the command.
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
// With `only_when_listed` (verify) the second line is left out when no
// .vpl lists the file.
bool PrintPackageChecksum(std::ostream& out, const std::string& firmware_path, bool only_when_listed = false);

}  // namespace larkspur

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_PACKAGE_CHECKSUMS_H_
