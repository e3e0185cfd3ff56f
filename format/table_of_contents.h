// The table of contents some firmware files carry in front of their first
// block: the byte B2, a header length H (u32), a count of entries (u32),
// then the entries; the first block starts at offset 5 + H. An entry is a
// tag byte, a length (1 byte; 2 bytes for the tags E4, E5, EA, EE and F3)
// and the value; an EE entry is an array: a count byte, then entries of its
// own. Bytes between the last entry and 5 + H belong to the table too. All
// numbers big-endian.
//
// The erase areas (tag 12) say which stretches of flash the flasher erases
// for the file's blocks: an ASIC byte, a device byte, one more byte, then
// pairs of u32 start and u32 end (inclusive).
//
// Pure functions on untrusted bytes; never throw for any input.
#ifndef LARKSPUR_FORMAT_TABLE_OF_CONTENTS_H_
#define LARKSPUR_FORMAT_TABLE_OF_CONTENTS_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace larkspur {

inline constexpr std::uint8_t kTocMarker = 0xB2;
inline constexpr std::uint8_t kEraseAreaTag = 0x12;
inline constexpr std::uint8_t kDateTag = 0xE6;
inline constexpr std::uint8_t kDescriptionTag = 0xF4;
inline constexpr std::uint8_t kArrayTag = 0xEE;

struct TocEntry {
  std::uint8_t tag = 0;
  std::size_t offset = 0;        // of the tag byte, in the file
  std::size_t value_offset = 0;  // of the value, in the file
  std::string value;             // the value's bytes
  std::vector<TocEntry> items;   // an array's entries
};

// One erase area: flash addresses from `start` to `end`, both inclusive.
struct EraseArea {
  std::uint32_t start = 0;
  std::uint32_t end = 0;
  std::size_t end_offset = 0;  // where `end` lies in the file
  bool operator==(const EraseArea&) const = default;
};

struct TableOfContents {
  std::uint32_t header_length = 0;  // H
  std::uint32_t count = 0;
  std::vector<TocEntry> entries;
  // Where the first block starts: 5 + H.
  std::size_t end() const { return 5 + static_cast<std::size_t>(header_length); }
};

// The table at the start of `file`, or the reason it is none: nothing at
// all when the file does not start with B2; otherwise `problem` names the
// offset and what is wrong ("table of contents at 0x00000009: entry 2 (tag
// E4) runs past the table's end 0x00000040").
struct TocReading {
  std::optional<TableOfContents> toc;
  std::string problem;
};
TocReading ReadTableOfContents(std::string_view file);

// The erase areas of every tag-12 entry, arrays included, in file order.
std::vector<EraseArea> EraseAreasOf(const TableOfContents& toc);

// The area that holds `address`; nothing when none does.
std::optional<EraseArea> AreaCovering(const std::vector<EraseArea>& areas, std::uint32_t address);

// The erase area a payload lies in, and how much of it is left: the area
// holding the payload's first address, and its end against the payload's.
struct EraseBudget {
  EraseArea area;
  std::uint64_t payload_end = 0;  // one past the payload's last address
  std::int64_t free = 0;          // bytes left after the payload; negative: over
};

// The budget of `length` payload bytes loaded from `start`; nothing when no
// area holds `start`.
std::optional<EraseBudget> EraseBudgetOf(const std::vector<EraseArea>& areas, std::uint32_t start,
                                         std::uint64_t length);

// The end `area` (one of `areas`) must have to hold a payload ending at
// `payload_end` (one past its last address): rounded up to the finest
// alignment the area's start and end share (the lowest set bit of start and
// end + 1), so the start stays aligned as it is and the end moves no further
// than the table's own granularity.
// Nothing when that end would reach another area or lie past 0xFFFFFFFF.
std::optional<std::uint32_t> ExtendedAreaEnd(const std::vector<EraseArea>& areas, const EraseArea& area,
                                             std::uint64_t payload_end);

// What a tag stands for ("erase area", "date", ... in English), or "tag
// XX", as a text of the catalog.
Text TocTagName(std::uint8_t tag);

// The table's entries for people, one line each (an array's entries
// indented below it), as texts of the catalog: erase areas as start-end in
// hex, the date as a UTC date, descriptions as text, other values in hex.
std::vector<Text> DescribeTableOfContents(const TableOfContents& toc);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_TABLE_OF_CONTENTS_H_
