// Layout constants of a ROFS image (the read-only file system of Symbian
// phones), shared by the reader and the writer. Pure data; safe from any
// thread.
//
// All integers in an image are little-endian; every "address" is an absolute
// byte offset from the start of the image. The image is: a 48-byte header, the
// directory tree (one block per directory, root first), the file-entry blocks
// (one per directory that holds files), then the file data.
#ifndef LARKSPUR_ROFS_ROFS_FORMAT_H_
#define LARKSPUR_ROFS_ROFS_FORMAT_H_

#include <cstdint>

namespace larkspur::rofs {

// Header.
inline constexpr std::uint32_t kHeaderSize = 48;
inline constexpr char kIdentifier[4] = {'R', 'O', 'F', 'S'};
inline constexpr char kExtensionIdentifier[4] = {'R', 'O', 'F', 'x'};
inline constexpr std::uint16_t kFormatVersion = 0x0200;

inline constexpr std::uint32_t kHeaderIdentifierOffset = 0;
inline constexpr std::uint32_t kHeaderSizeOffset = 4;
inline constexpr std::uint32_t kHeaderReservedOffset = 5;
inline constexpr std::uint32_t kHeaderFormatVersionOffset = 6;
inline constexpr std::uint32_t kHeaderDirTreeOffsetOffset = 8;
inline constexpr std::uint32_t kHeaderDirTreeSizeOffset = 12;
inline constexpr std::uint32_t kHeaderFileEntriesOffsetOffset = 16;
inline constexpr std::uint32_t kHeaderFileEntriesSizeOffset = 20;
inline constexpr std::uint32_t kHeaderTimeOffset = 24;
inline constexpr std::uint32_t kHeaderImageVersionOffset = 32;
inline constexpr std::uint32_t kHeaderImageSizeOffset = 36;
inline constexpr std::uint32_t kHeaderChecksumOffset = 40;
inline constexpr std::uint32_t kHeaderMaxImageSizeOffset = 44;

// Directory block: u16 struct size, a pad byte, u8 first-entry offset,
// u32 file block address, u32 file block size, then subdirectory entries.
// The sorted lookup table follows at block + struct size.
inline constexpr std::uint32_t kDirStructSizeOffset = 0;
inline constexpr std::uint32_t kDirFirstEntryOffsetOffset = 3;
inline constexpr std::uint32_t kDirFileBlockAddressOffset = 4;
inline constexpr std::uint32_t kDirFileBlockSizeOffset = 8;
inline constexpr std::uint32_t kDirBlockFixedSize = 12;

// Entry (a file or a subdirectory): u16 struct size, 16 UID bytes, u8 name
// offset, u8 attributes, u32 size, u32 address, u8 extra attributes, u8 name
// length in UTF-16 units, then the name.
inline constexpr std::uint32_t kEntryStructSizeOffset = 0;
inline constexpr std::uint32_t kEntryUidsOffset = 2;
inline constexpr std::uint32_t kEntryUidsSize = 16;
inline constexpr std::uint32_t kEntryNameOffsetOffset = 18;
inline constexpr std::uint32_t kEntryAttributesOffset = 19;
inline constexpr std::uint32_t kEntrySizeOffset = 20;
inline constexpr std::uint32_t kEntryAddressOffset = 24;
inline constexpr std::uint32_t kEntryExtraAttributesOffset = 28;
inline constexpr std::uint32_t kEntryNameLengthOffset = 29;
inline constexpr std::uint32_t kEntryFixedSize = 30;
inline constexpr std::uint32_t kMaxNameUnits = 255;

// Attribute bits (Symbian entry attributes).
inline constexpr std::uint8_t kAttReadOnly = 0x01;
inline constexpr std::uint8_t kAttHidden = 0x02;
inline constexpr std::uint8_t kAttSystem = 0x04;
inline constexpr std::uint8_t kAttDirectory = 0x10;
inline constexpr std::uint8_t kAttArchive = 0x20;
inline constexpr std::uint8_t kDefaultFileAttributes = kAttReadOnly;
// Extra attributes are inverted flags: all bits set means no feature.
inline constexpr std::uint8_t kDefaultExtraAttributes = 0xFF;
// Cleared by exattrib=U: the phone appends "[<mount id>-00]" to the name.
inline constexpr std::uint8_t kExtraAttUnique = 0x02;

// Address of a file entry that masks a file of a lower layer. Images of the
// Symbian 9.1 era give such an entry address 0 and size 0 instead.
inline constexpr std::uint32_t kHiddenFileAddress = 0xFFFFFFFF;
inline constexpr std::uint32_t kOldHiddenFileAddress = 0;

// Bytes the builder leaves unwritten read as this value.
inline constexpr std::uint8_t kFillByte = 0xFF;

// Lookup-table offsets are u16 counts of 4-byte words.
inline constexpr std::uint32_t kMaxTableWordOffset = 0xFFFF;

// Symbian time: microseconds since 1 January of year 0; this is 1 Jan 1970.
inline constexpr std::int64_t kSymbianTimeOfUnixEpoch = 62'168'256'000'000'000;

// Unpadded size of an entry whose name has `name_units` UTF-16 units.
constexpr std::uint32_t EntrySize(std::uint32_t name_units) {
  return kEntryFixedSize + 2 * name_units;
}

constexpr std::uint64_t RoundUp4(std::uint64_t value) { return (value + 3) & ~std::uint64_t{3}; }

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_FORMAT_H_
