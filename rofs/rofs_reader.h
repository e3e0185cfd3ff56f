// Reads a ROFS image from bytes into a tree of directories and files: a
// span, or an image held in pieces (base/segmented_bytes.h: the partition
// where it lies in a firmware file's payloads, read without a copy). The parser trusts nothing in the bytes: every offset and size is
// checked against the image and against the region it must lie in before it
// is used, entry sizes that cannot advance are refused, every walk has a step
// limit, directory recursion is bounded and directory loops are detected.
// Stateless; safe from any thread. The lookup tables are not needed to read
// an image and are not looked at here (see rofs_lookup.h).
#ifndef LARKSPUR_ROFS_ROFS_READER_H_
#define LARKSPUR_ROFS_ROFS_READER_H_

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/segmented_bytes.h"
#include "rofs/rofs_format.h"

namespace larkspur::rofs {

// Directories nest at most this deep below the root; a deeper chain is taken
// for damage. (A phone path holds at most 256 characters, so 128 levels.)
inline constexpr int kMaxDirectoryDepth = 128;

struct ImageVersion {
  std::int8_t major = 0;
  std::int8_t minor = 0;
  std::int16_t build = 0;
};

struct RofsHeader {
  std::array<char, 4> identifier{};
  std::uint8_t header_size = 0;
  std::uint16_t format_version = 0;
  std::uint32_t dir_tree_offset = 0;
  std::uint32_t dir_tree_size = 0;
  std::uint32_t file_entries_offset = 0;
  std::uint32_t file_entries_size = 0;
  std::int64_t time = 0;  // Symbian time, see symbian_time.h
  ImageVersion version;
  std::uint32_t image_size = 0;
  std::uint32_t checksum = 0;
  std::uint32_t max_image_size = 0;
};

struct RofsFile {
  std::u16string name;
  std::uint32_t entry_offset = 0;  // where the entry lies in the image
  std::uint8_t attributes = 0;
  std::uint8_t extra_attributes = 0;
  std::uint32_t size = 0;
  std::uint32_t address = 0;
  std::array<std::uint8_t, kEntryUidsSize> uids{};

  // A hidden entry masks a file of a lower layer; it has no data. Builders
  // mark it with the address 0xFFFFFFFF; images of the Symbian 9.1 era mark
  // it with address 0 and size 0, which no real file can have (address 0 is
  // the header).
  bool hidden() const {
    return address == kHiddenFileAddress || (address == kOldHiddenFileAddress && size == 0);
  }
};

struct RofsDirectory {
  std::u16string name;             // empty for the root
  std::uint32_t entry_offset = 0;  // 0 for the root, which has no entry
  std::uint8_t attributes = kAttDirectory;
  std::uint32_t block_offset = 0;
  std::uint16_t struct_size = 0;  // the lookup table starts at block_offset + struct_size
  std::uint32_t file_block_address = 0;
  std::uint32_t file_block_size = 0;
  // Both in the physical order of their entries.
  std::vector<RofsDirectory> subdirectories;
  std::vector<RofsFile> files;
};

struct RofsImage {
  RofsHeader header;
  RofsDirectory root;
  std::uint32_t directory_count = 0;  // the root included
  std::uint32_t file_count = 0;       // hidden entries included
};

// Parses and checks the 48-byte header: identifier "ROFS" (an extension
// image, "ROFx", is refused with what the header tells of the core image it
// extends), format version
// 0x0200, an image size that the bytes hold, and directory-tree and
// file-entry regions that lie inside the image, after the header, non-empty
// and apart. Throws FormatError naming `image_name`, the offset and the bad
// value otherwise.
RofsHeader ParseRofsHeader(const SegmentedBytes& image, std::string_view image_name);
RofsHeader ParseRofsHeader(std::span<const std::uint8_t> image, std::string_view image_name);

// Parses the header and the whole directory tree. Every file's data lies
// inside the image afterwards (hidden entries aside): `file.size` bytes at
// `file.address`. Throws FormatError as above for anything that breaks the
// format.
RofsImage ParseRofsImage(const SegmentedBytes& image, std::string_view image_name);
RofsImage ParseRofsImage(std::span<const std::uint8_t> image, std::string_view image_name);

// The data of `file`. Precondition: `file` comes from ParseRofsImage of these
// same bytes. Empty for a hidden entry.
std::span<const std::uint8_t> FileData(std::span<const std::uint8_t> image, const RofsFile& file);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_READER_H_
