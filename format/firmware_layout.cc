#include "format/firmware_layout.h"

#include <map>

#include "base/hex.h"
#include "format/block_header.h"

namespace larkspur {
namespace {

constexpr std::uint32_t kShortFirstBlockLength = 0x400;

}  // namespace

std::optional<int> NamedHeaderSize(std::string_view subtype_and_length) {
  if (subtype_and_length == std::string_view("\x01\x27\x2D", 3)) return 50;
  if (subtype_and_length == std::string_view("\x01\x28\x43", 3)) return 72;
  return std::nullopt;
}

namespace {

// True when a block (code or named, of a known header) begins at `offset`,
// or after FF padding there.
bool BlockBeginsAt(std::string_view file, std::size_t offset, std::string_view signature) {
  offset = std::min(file.find_first_not_of('\xFF', offset), file.size());
  if (offset >= file.size()) return false;
  const std::string_view rest = file.substr(offset);
  if (rest.substr(0, signature.size()) == signature) return true;
  if (rest.size() < 4) return false;
  const auto type = static_cast<std::uint8_t>(rest[0]);
  // A code block of any model: its header is 19 or 26 bytes.
  const auto length = static_cast<std::uint8_t>(rest[3]);
  if (type == kCodeBlockType) return length + 5 == 19 || length + 5 == 26;
  return type == kNamedBlockType && NamedHeaderSize(rest.substr(1, 3)).has_value();
}

}  // namespace

FirmwareLayout ReadFirmwareLayout(std::string_view file, std::string_view signature, int header_size,
                                  std::size_t from) {
  FirmwareLayout layout;
  layout.signature = std::string(signature);
  layout.header_size = header_size;
  const auto fields = LayoutForHeaderSize(header_size);
  if (!fields || signature.empty() || from > file.size()) return layout;

  std::uint64_t offset = 0;
  if (from == 0) {
    TocReading reading = ReadTableOfContents(file);
    if (reading.toc && BlockBeginsAt(file, reading.toc->end(), signature)) {
      offset = reading.toc->end();
      layout.toc = std::move(reading.toc);
    } else if (reading.toc) {
      layout.toc_problem = "table of contents at 0x00000000: no block header begins where it ends, at " +
                           HexNumber(reading.toc->end(), 8);
    } else {
      layout.toc_problem = std::move(reading.problem);
    }
  }
  if (!layout.toc) {
    const std::size_t first = file.find(signature, from);
    if (first == std::string_view::npos) return layout;
    offset = first;
  }

  const std::uint64_t size = file.size();
  const auto header_bytes = static_cast<std::uint64_t>(fields->header_size);
  bool named_since_code = false;
  // Every step advances by at least one byte, so the walk ends.
  while (offset < size) {
    layout.end_offset = static_cast<std::size_t>(offset);
    const std::string_view rest = file.substr(static_cast<std::size_t>(offset));
    const auto type = static_cast<std::uint8_t>(rest[0]);
    if (type == 0xFF && (layout.toc || !layout.blocks.empty())) {
      // Padding between blocks, kept where it stands.
      const std::size_t run = std::min(rest.find_first_not_of('\xFF'), rest.size());
      if (!layout.blocks.empty() && !named_since_code) layout.blocks.back().padding_after += run;
      offset += run;
      continue;
    }
    if (type == kNamedBlockType) {
      // Only as much of the header as the file still holds can be read.
      const std::optional<int> named_size =
          rest.size() >= 4 ? NamedHeaderSize(rest.substr(1, 3)) : std::optional<int>(50);
      if (!named_size) {
        layout.end = layout.prefix_length ? ChainEnd::kBroken : ChainEnd::kNoHeader;
        return layout;
      }
      const auto named_bytes = static_cast<std::uint64_t>(*named_size);
      if (named_bytes > rest.size()) {
        layout.end = ChainEnd::kCutShort;
        layout.ends_inside_header = true;
        layout.end_in_named_block = true;
        return layout;
      }
      const std::uint32_t length = ReadBigEndian32(rest, kNamedLengthOffset);
      if (length > rest.size() - named_bytes) {
        layout.end = ChainEnd::kCutShort;
        layout.end_in_named_block = true;
        return layout;
      }
      NamedBlock named{static_cast<std::size_t>(offset), *named_size, length,
                       ReadBigEndian32(rest, kNamedAddressOffset), std::string(rest.substr(24, 12))};
      named.description.resize(std::min(named.description.find('\0'), named.description.size()));
      layout.named.push_back(std::move(named));
      named_since_code = !layout.blocks.empty();
      offset += named_bytes + length;
      continue;
    }
    // A code block. Only as much of the signature as the file still holds
    // can be compared.
    if (rest.substr(0, signature.size()) != signature.substr(0, rest.size())) {
      layout.end = layout.prefix_length ? ChainEnd::kBroken : ChainEnd::kNoHeader;
      return layout;
    }
    if (!layout.prefix_length) layout.prefix_length = static_cast<std::size_t>(offset);
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
    if (named_since_code) layout.named_between_code = true;
    named_since_code = false;
    const std::uint32_t address = ReadBigEndian32(rest, static_cast<std::size_t>(fields->address_offset));
    layout.blocks.push_back({static_cast<std::size_t>(offset), length, address, 0});
    offset += header_bytes + length;
    layout.code_end = static_cast<std::size_t>(offset);
  }
  if (!layout.prefix_length) {
    // A table of contents followed by named blocks alone: nothing of this
    // signature.
    layout.end = ChainEnd::kNoHeader;
    return layout;
  }
  // Padding after the last code block belongs to what follows it.
  if (!layout.blocks.empty()) layout.blocks.back().padding_after = 0;
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

Text ModelNames(const std::vector<int>& models) {
  std::vector<Text> names;
  for (const int model : models) names.push_back(Text(ModelItemText(model)));
  return JoinedTexts(std::move(names));
}

}  // namespace larkspur
