#include "format/block_chain.h"

#include "format/block_header.h"

namespace larkspur {

std::optional<std::vector<ChainBlock>> FindBlockChain(std::string_view data,
                                                      std::string_view signature,
                                                      int header_size) {
  const auto layout = LayoutForHeaderSize(header_size);
  if (!layout || signature.empty()) return std::nullopt;
  const std::size_t first = data.find(signature);
  if (first == std::string_view::npos) return std::nullopt;

  std::vector<ChainBlock> blocks;
  const std::uint64_t size = data.size();
  const auto header_bytes = static_cast<std::uint64_t>(layout->header_size);
  std::uint64_t offset = first;
  // Every step advances by at least one header, so the walk ends.
  while (offset < size) {
    if (header_bytes > size - offset) return std::nullopt;
    if (data.substr(offset, signature.size()) != signature) return std::nullopt;
    const std::uint32_t length =
        ReadBigEndian32(data, static_cast<std::size_t>(offset) + layout->length_offset);
    const std::uint64_t payload_start = offset + header_bytes;
    if (length > size - payload_start) return std::nullopt;
    blocks.push_back({static_cast<std::size_t>(offset), length});
    offset = payload_start + length;
  }
  return blocks;
}

}  // namespace larkspur
