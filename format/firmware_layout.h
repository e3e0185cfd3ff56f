// The block layout of a firmware image file, read once when the file is
// opened: where the prefix ends, how big each header is, and each block's
// payload length and load address. Extract, Repack, `info` and `verify`
// work from this value instead of searching the signature again. Also the
// rules that tell from the layout which phone models a file was made for.
// Pure functions on bytes; never throw for any input.
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

struct FirmwareLayout {
  // The block signature and header size the layout was read with.
  std::string signature;
  int header_size = 0;
  // Nothing when the signature does not occur in the file.
  std::optional<std::size_t> prefix_length;
  // True when the blocks, followed by their payload lengths from the first
  // signature on, end exactly at the end of the file; `blocks` then holds
  // every block. When the chain breaks or is cut short, `blocks` holds the
  // whole blocks read before that.
  bool chain_intact = false;
  std::vector<LayoutBlock> blocks;

  bool HasHeader() const { return prefix_length.has_value(); }
};

// Reads the layout of `file` with `signature` and headers of `header_size`
// bytes (19 or 26; any other size gives a layout without blocks).
FirmwareLayout ReadFirmwareLayout(std::string_view file, std::string_view signature, int header_size);

// The layout of `file` as a file of `kind` ("ROFS" or "UDA") under `profile`.
FirmwareLayout ReadFirmwareLayout(std::string_view file, const std::string& kind, const ModelProfile& profile);

// What the block lengths of an intact chain say about the model.
struct BlockSizeVerdict {
  // The one length every block but the last (and an N96 short first block)
  // has, when they all have the same one.
  std::optional<std::uint32_t> regular_length;
  // True when that length is not the block size of the profile: the file
  // was made for another model.
  bool other_model = false;
  // Blocks (0-based numbers) whose lengths differ from the others'; empty
  // when the lengths are regular.
  std::vector<std::size_t> irregular_blocks;
};

// `short_first_block`: the profile writes a short first block of 0x400
// bytes (the N96 profile for ROFS), which does not count. A layout whose
// chain is not intact, or with fewer than two blocks, says nothing.
BlockSizeVerdict JudgeBlockSizes(const FirmwareLayout& layout, std::uint32_t block_size, bool short_first_block);

// The model selector's items (0..3) under whose profile `file`, taken as a
// file of `kind`, has an intact chain of blocks of that profile's block
// size. Empty when no profile fits.
std::vector<int> ModelsThatFit(std::string_view file, const std::string& kind);

// "手机型号(5320), 手机型号(N78)": the selector's texts of `models`.
std::string ModelNames(const std::vector<int>& models);

// The block size and signature of `kind` under `profile`, and whether the
// profile writes a short first block for it.
std::int32_t BlockSizeOf(const ModelProfile& profile, const std::string& kind);
bool WritesShortFirstBlock(int model_index, const std::string& kind);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_FIRMWARE_LAYOUT_H_
