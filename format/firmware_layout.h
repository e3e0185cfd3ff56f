// The block layout of a firmware image file: where the prefix ends, and each
// block's header offset, payload length and load address, found by walking
// the chain of blocks. This is the one walk of a file's blocks: Open,
// Extract, Repack, `info`, `verify` and the benchmark work from its value.
// Also the rules that tell from the layout which phone models a file was
// made for. Pure functions on bytes; never throw for any input.
#ifndef LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_
#define LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/model_profile.h"

namespace larkspur {

struct LayoutBlock {
  std::size_t header_offset;     // in the file
  std::uint32_t payload_length;  // as its header announces it
  std::uint32_t address;         // its load address
};

// How the walk of the chain ended.
enum class ChainEnd {
  kNoHeader,  // the signature does not occur in the file
  kIntact,    // the last block ends exactly at the end of the file
  kBroken,    // where a header should begin, the signature is not there
  kCutShort,  // the file ends inside a header or a payload
};

struct FirmwareLayout {
  // The block signature and header size the layout was read with.
  std::string signature;
  int header_size = 0;
  // Where the first header begins; nothing when the signature does not
  // occur in the file (or the header size has no known layout).
  std::optional<std::size_t> prefix_length;
  ChainEnd end = ChainEnd::kNoHeader;
  // True when end is kIntact: `blocks` then holds every block. Otherwise
  // `blocks` holds the whole blocks walked before the chain ended.
  bool chain_intact = false;
  std::vector<LayoutBlock> blocks;
  // kBroken: where the missing header should begin; kCutShort: where the
  // header of the block the file cuts short begins (its number is
  // blocks.size()), and whether the file ends inside that header.
  std::size_t end_offset = 0;
  bool ends_inside_header = false;

  bool HasHeader() const { return prefix_length.has_value(); }
};

// Walks the blocks of `file` from the first occurrence of `signature` at or
// after `from`, each header of `header_size` bytes (19 or 26; any other size
// gives a layout without a header) beginning where the one before says.
// A header that the end of the file cuts counts as cut short when the bytes
// it has match the signature as far as they go.
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

// "手机型号(5320), 手机型号(N78)": the selector's texts of `models`.
std::string ModelNames(const std::vector<int>& models);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_
