#include "format/firmware_layout.h"

#include <map>

#include "format/block_header.h"

namespace larkspur {
namespace {

constexpr std::uint32_t kShortFirstBlockLength = 0x400;

}  // namespace

FirmwareLayout ReadFirmwareLayout(std::string_view file, std::string_view signature, int header_size,
                                  std::size_t from) {
  FirmwareLayout layout;
  layout.signature = std::string(signature);
  layout.header_size = header_size;
  const auto fields = LayoutForHeaderSize(header_size);
  if (!fields || signature.empty() || from > file.size()) return layout;
  const std::size_t first = file.find(signature, from);
  if (first == std::string_view::npos) return layout;
  layout.prefix_length = first;

  const std::uint64_t size = file.size();
  const auto header_bytes = static_cast<std::uint64_t>(fields->header_size);
  std::uint64_t offset = first;
  // Every step advances by at least one header, so the walk ends.
  while (offset < size) {
    layout.end_offset = static_cast<std::size_t>(offset);
    const std::string_view rest = file.substr(static_cast<std::size_t>(offset));
    // Only as much of the signature as the file still holds can be compared.
    if (rest.substr(0, signature.size()) != signature.substr(0, rest.size())) {
      layout.end = ChainEnd::kBroken;
      return layout;
    }
    if (header_bytes > rest.size()) {
      layout.end = ChainEnd::kCutShort;
      layout.ends_inside_header = true;
      return layout;
    }
    const std::uint32_t length = ReadBigEndian32(rest, static_cast<std::size_t>(fields->length_offset));
    if (length > rest.size() - header_bytes) {
      layout.end = ChainEnd::kCutShort;
      return layout;
    }
    const std::uint32_t address = ReadBigEndian32(rest, static_cast<std::size_t>(fields->address_offset));
    layout.blocks.push_back({static_cast<std::size_t>(offset), length, address});
    offset += header_bytes + length;
  }
  layout.end = ChainEnd::kIntact;
  layout.end_offset = file.size();
  layout.chain_intact = true;
  return layout;
}

FirmwareLayout ReadFirmwareLayout(std::string_view file, const BlockFormat& format) {
  return ReadFirmwareLayout(file, format.signature, format.header_size);
}

BlockSizeVerdict JudgeBlockSizes(const FirmwareLayout& layout, const BlockFormat& format) {
  BlockSizeVerdict verdict;
  if (!layout.chain_intact || layout.blocks.size() < 2) return verdict;
  std::size_t first = 0;
  if (format.short_first_block && layout.blocks[0].payload_length == kShortFirstBlockLength) first = 1;
  const std::size_t end = layout.blocks.size() - 1;  // the last block may be shorter
  if (first >= end) return verdict;
  // The length most blocks have is the regular one; the others are named.
  std::map<std::uint32_t, std::size_t> counts;
  for (std::size_t i = first; i < end; ++i) ++counts[layout.blocks[i].payload_length];
  std::uint32_t most = 0;
  std::size_t most_count = 0;
  for (const auto& [length, count] : counts) {
    if (count > most_count) most = length, most_count = count;
  }
  if (counts.size() == 1) {
    verdict.regular_length = most;
    verdict.other_model = most != format.block_size;
    return verdict;
  }
  for (std::size_t i = first; i < end; ++i) {
    if (layout.blocks[i].payload_length != most) verdict.irregular_blocks.push_back(i);
  }
  return verdict;
}

std::vector<int> ModelsThatFit(std::string_view file, PartitionKind kind) {
  std::vector<int> models;
  for (int model = 0; model < kModelCount; ++model) {
    const BlockFormat& format = BlockFormatOf(model, kind);
    const FirmwareLayout layout = ReadFirmwareLayout(file, format);
    if (!layout.chain_intact) continue;
    bool fits = !JudgeBlockSizes(layout, format).other_model;
    // A file of one block (or one after the short first) fits any model
    // whose blocks are at least as long.
    for (const LayoutBlock& block : layout.blocks) fits = fits && block.payload_length <= format.block_size;
    if (fits) models.push_back(model);
  }
  return models;
}

std::string ModelNames(const std::vector<int>& models) {
  std::string names;
  for (const int model : models) {
    if (!names.empty()) names += ", ";
    names += ModelItemText(model);
  }
  return names;
}

}  // namespace larkspur
