// Reading a firmware package's checksum list: the .vpl file beside the
// firmware files, plain XML, whose <File> elements name each file of the
// package (<Name>) and give the CRC-32 of its whole content (<Crc>, eight
// lower-case hex digits). The phone maker's flasher compares every file
// with it and refuses one that does not match, so a repacked file needs its
// entry rewritten (vpl_writer.h).
//
// The reader is no XML library: it knows the few rules it needs to find the
// <File> elements and their <Name> and <Crc> children unambiguously, and is
// tolerant of everything else (the declaration, comments, CDATA, a DOCTYPE,
// attributes, other elements and children, blanks and line ends of either
// kind). It is strict where a wrong reading could rewrite the wrong bytes:
// every element is closed in order, a <File> has one <Name>, at most one
// <Crc>, and no <File> inside it.
//
// Pure functions over bytes (no paths, no disk), callable from any thread.
#ifndef LARKSPUR_VPL_VPL_READER_H_
#define LARKSPUR_VPL_VPL_READER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::vpl {

// The text encodings a .vpl comes in, told by its first bytes: a UTF-8 byte
// order mark (EF BB BF), a UTF-16 one (FF FE little-endian, FE FF
// big-endian), or none, which is read as UTF-8 (ASCII among it).
enum class VplEncoding { kUtf8, kUtf8WithBom, kUtf16Le, kUtf16Be };

// Bytes per code unit of the encoding: 1 or 2.
unsigned CodeUnitSize(VplEncoding encoding);

// One <File> element.
struct VplEntry {
  std::uint64_t file_offset = 0;  // where its "<File" begins in the file's bytes
  // The <Name>'s text in UTF-8: character data and CDATA, the five entities
  // and character references resolved, comments left out, blanks (space,
  // tab, CR, LF) at either end dropped.
  std::string name;
  // Whether the <File> has a <Crc> child (empty as <Crc/> or not).
  bool has_crc = false;
  // The <Crc>'s content exactly as it stands, in UTF-8: nothing resolved,
  // nothing trimmed, any markup inside it included (so a <Crc> that is not
  // plain digits never passes for them).
  std::string crc_text;
  // Where that content lies in the file's bytes: `crc_size` bytes from
  // `crc_offset` (for an empty <Crc/>, 0 bytes at the tag). A rewrite
  // changes these bytes and no other.
  std::uint64_t crc_offset = 0;
  std::uint64_t crc_size = 0;
};

struct VplFile {
  VplEncoding encoding = VplEncoding::kUtf8;
  std::vector<VplEntry> entries;  // in the order of the file
};

// Reads `bytes`, the whole content of the .vpl named `vpl_name` (which only
// names it in messages). Returns every <File> element in order; a file
// without one (an empty file among them) gives no entries.
// Throws VplFormatError ("<vpl_name> at byte 0x1A4: <File> without
// </File>") for: an element, comment, CDATA section, processing
// instruction or tag left open at the end; an end tag that does not close
// the open element; a '<' with no name after it or inside a tag; a NUL
// character (UTF-16 without a byte order mark would bring them); an odd
// byte count in UTF-16; elements nested more than 256 deep; in a <File>: a
// <File>, a second <Name> or <Crc>, no <Name>; in a <Name>: an element, or
// an entity that is not one of XML's five or a character reference.
// Nothing else is checked.
VplFile ParseVpl(std::string_view bytes, std::string_view vpl_name);

// The CRC the entry gives: the value of its crc_text when that is exactly
// eight hex digits (either case, nothing around them); nullopt otherwise
// (no <Crc>, an empty one, blanks, other text).
std::optional<std::uint32_t> CrcOfEntry(const VplEntry& entry);

// True when two file names are the same for the flasher, which runs on
// Windows: equal once the ASCII letters are folded to one case (other bytes
// compare as they are).
bool SameFileName(std::string_view a, std::string_view b);

// The indexes of the entries whose name is `file_name` (SameFileName), in
// order. More than one means the list is ambiguous about the file.
std::vector<std::size_t> EntriesNaming(const VplFile& vpl, std::string_view file_name);

}  // namespace larkspur::vpl

#endif  // LARKSPUR_VPL_VPL_READER_H_
