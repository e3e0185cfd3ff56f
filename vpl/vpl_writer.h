// Rewriting one checksum in a firmware package's checksum list (.vpl, see
// vpl_reader.h), for a repacked firmware file. Only the eight digits of the
// one <Crc> change; every other byte (byte order mark, line ends, blanks,
// the other entries) stays as it was, so the flasher finds the list it
// knows with the new value in it. Pure functions, callable from any thread.
#ifndef LARKSPUR_VPL_VPL_WRITER_H_
#define LARKSPUR_VPL_VPL_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "vpl/vpl_reader.h"

namespace larkspur::vpl {

// The text a .vpl gives a CRC: eight lower-case hex digits ("c0d79d0d").
std::string CrcText(std::uint32_t crc);

// `bytes` with the <Crc> content of `entry` replaced by CrcText(crc), in
// the file's own encoding (eight UTF-16 code units in a UTF-16 file).
// `vpl` and `entry` must come from ParseVpl(bytes, ...); std::invalid_argument
// is thrown when the entry's place does not hold its text in these bytes.
// Refuses to guess, with VplFormatError naming `vpl_name`, the offset and the
// file's name: a <File> without <Crc>, and a <Crc> whose content is not
// exactly eight hex digits (empty, with blanks or other text around them,
// or markup).
std::string RewriteCrc(std::string_view bytes, const VplFile& vpl, const VplEntry& entry, std::uint32_t crc,
                       std::string_view vpl_name);

}  // namespace larkspur::vpl

#endif  // LARKSPUR_VPL_VPL_WRITER_H_
