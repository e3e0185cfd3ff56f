// The block layout of a firmware image file, found by walking its blocks by
// their header lengths: the table of contents in front (when the file has
// one), the code blocks (type 54) whose payloads make the partition image,
// the named blocks (type 5D: certificates, named images) and the FF padding
// between blocks. This is the one walk of a file's blocks: Open, Extract,
// Repack, `info`, `verify` and the benchmark work from its value. Also the
// rules that tell from the layout which phone models a file was made for.
// Pure functions on bytes; never throw for any input.
//
// Block headers begin with a type byte, a 2-byte subtype and a length byte
// L; the header is L + 5 bytes, its last byte the header checksum. Code
// blocks carry the model's block signature (their first 7 bytes) and the
// 19- or 26-byte layout of block_header.h. The named blocks known:
//   5D 01 27 2D (50 bytes): key hash (20), description (12, zero-padded),
//     flash id (3), check value (2), length (4), address (4), checksum
//   5D 01 28 43 (72 bytes): the same first 49 bytes, a second hash (20) and
//     2 more bytes, then the checksum
#ifndef LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_
#define LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "format/model_profile.h"
#include "format/table_of_contents.h"

namespace larkspur {

struct LayoutBlock {
  std::size_t header_offset = 0;     // in the file
  std::uint32_t payload_length = 0;  // as its header announces it
  std::uint32_t address = 0;         // its load address
  // FF bytes between this code block and the next one.
  std::size_t padding_after = 0;
};

// A block of type 5D: kept as it is, never part of the partition image.
struct NamedBlock {
  std::size_t header_offset = 0;
  int header_size = 0;
  std::uint32_t payload_length = 0;
  std::uint32_t address = 0;
  std::string description;  // its 12-byte name, without the zero bytes
};

// Where a named block's fields lie: its header size for a type-5D header
// beginning with `subtype_and_length` (the 3 bytes after the type byte), or
// nothing for a header this program does not know.
std::optional<int> NamedHeaderSize(std::string_view subtype_and_length);
inline constexpr int kNamedCheckValueOffset = 39;
inline constexpr int kNamedLengthOffset = 41;
inline constexpr int kNamedAddressOffset = 45;
inline constexpr std::uint8_t kCodeBlockType = 0x54;
inline constexpr std::uint8_t kNamedBlockType = 0x5D;

// How the walk of the chain ended.
enum class ChainEnd {
  kNoHeader,  // no code block of the signature: none after the table of
              // contents, or (without one) the signature nowhere in the file
  kIntact,    // the last block (or padding) ends exactly at the end of the file
  kBroken,    // where a header should begin, there is none of a known type,
              // or a code block without the signature
  kCutShort,  // the file ends inside a header or a payload
};

struct FirmwareLayout {
  // The block signature and header size the layout was read with.
  std::string signature;
  int header_size = 0;
  // The table of contents the walk started after; nothing for a file
  // without one. `toc_problem` says why a file that starts with B2 was
  // read without it (its prefix then kept as it is, as any prefix).
  std::optional<TableOfContents> toc;
  std::string toc_problem;
  // Where the first code block's header begins: everything in front of it
  // (the prefix, or the table of contents and named blocks) is kept as it
  // is. Nothing when there is no code block of the signature (or the
  // header size has no known layout).
  std::optional<std::size_t> prefix_length;
  ChainEnd end = ChainEnd::kNoHeader;
  // True when end is kIntact: `blocks` then holds every block. Otherwise
  // `blocks` holds the whole blocks walked before the chain ended.
  bool chain_intact = false;
  std::vector<LayoutBlock> blocks;  // the code blocks
  std::vector<NamedBlock> named;    // the named blocks, in file order
  // A named block lies between two code blocks: the partition image is
  // not one run of blocks.
  bool named_between_code = false;
  // Where the last code block's payload ends; what follows (padding, named
  // blocks) is kept as it is.
  std::size_t code_end = 0;
  // kBroken: where the missing header should begin; kCutShort: where the
  // header of the block the file cuts short begins (a code block's number
  // is blocks.size()), and whether the file ends inside that header.
  std::size_t end_offset = 0;
  bool ends_inside_header = false;
  bool end_in_named_block = false;  // kCutShort: the block cut is a named one

  bool HasHeader() const { return prefix_length.has_value(); }
};

// Walks the blocks of `file`, code blocks beginning with `signature` and of
// `header_size` bytes (19 or 26; any other size gives a layout without a
// header). From `from` 0 a file that starts with a table of contents leading
// to a block is walked from the table's end; any other is walked from the
// first occurrence of `signature` at or after `from`. Each next block (or
// run of FF padding) begins where the one before ends. A header that the end
// of the file cuts counts as cut short when the bytes it has match as far as
// they go.
FirmwareLayout ReadFirmwareLayout(std::string_view file, std::string_view signature, int header_size,
                                  std::size_t from = 0);

// The layout of `file` as a file of `format`.
FirmwareLayout ReadFirmwareLayout(std::string_view file, const BlockFormat& format);

// What the block lengths of an intact chain say about the model.
struct BlockSizeVerdict {
  // The one length every block but the last (and a short first block) has,
  // when they all have the same one.
  std::optional<std::uint32_t> regular_length;
  // True when that length is not the block size of the format: the file
  // was made for another model.
  bool other_model = false;
  // Blocks (0-based numbers) whose lengths differ from the others'; empty
  // when the lengths are regular.
  std::vector<std::size_t> irregular_blocks;
};

// A layout whose chain is not intact, or with fewer than two blocks, says
// nothing. A first block of 0x400 bytes does not count when `format` begins
// with a short block.
BlockSizeVerdict JudgeBlockSizes(const FirmwareLayout& layout, const BlockFormat& format);

// The model selector's items (0..3) under whose block format of `kind`
// `file` has an intact chain of blocks of that format's block size. Empty
// when no model fits.
std::vector<int> ModelsThatFit(std::string_view file, PartitionKind kind);

// "手机型号(5320), 手机型号(N78)": the selector's texts of `models`, each
// said in the language in force.
Text ModelNames(const std::vector<int>& models);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_
