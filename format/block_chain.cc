#include "format/block_chain.h"

#include "format/block_header.h"

namespace larkspur {
namespace {

enum class WalkEnd { kIntact, kBroken, kCutShort };

struct Walk {
  WalkEnd end = WalkEnd::kBroken;
  std::vector<ChainBlock> blocks;  // the whole blocks walked
  std::size_t stop_offset = 0;     // where the walk stopped
};

// Walks the chain from the first signature until it ends exactly at the end
// of `data`, breaks, or runs past the end of `data` with every header until
// there where the one before says.
Walk WalkChain(std::string_view data, std::string_view signature, int header_size) {
  Walk walk;
  const auto layout = LayoutForHeaderSize(header_size);
  if (!layout || signature.empty()) return walk;
  const std::size_t first = data.find(signature);
  if (first == std::string_view::npos) return walk;

  const std::uint64_t size = data.size();
  const auto header_bytes = static_cast<std::uint64_t>(layout->header_size);
  std::uint64_t offset = first;
  // Every step advances by at least one header, so the walk ends.
  while (offset < size) {
    walk.stop_offset = static_cast<std::size_t>(offset);
    const std::string_view rest = data.substr(static_cast<std::size_t>(offset));
    // Only as much of the signature as the data still holds can be compared.
    if (rest.substr(0, signature.size()) != signature.substr(0, rest.size())) return walk;
    if (header_bytes > rest.size()) {
      walk.end = WalkEnd::kCutShort;
      return walk;
    }
    const std::uint32_t length = ReadBigEndian32(rest, static_cast<std::size_t>(layout->length_offset));
    if (length > rest.size() - header_bytes) {
      walk.end = WalkEnd::kCutShort;
      return walk;
    }
    walk.blocks.push_back({static_cast<std::size_t>(offset), length});
    offset += header_bytes + length;
  }
  walk.end = WalkEnd::kIntact;
  return walk;
}

}  // namespace

std::optional<std::vector<ChainBlock>> FindBlockChain(std::string_view data,
                                                      std::string_view signature,
                                                      int header_size) {
  Walk walk = WalkChain(data, signature, header_size);
  if (walk.end != WalkEnd::kIntact) return std::nullopt;
  return std::move(walk.blocks);
}

std::optional<ChainCut> FindChainCut(std::string_view data, std::string_view signature, int header_size) {
  const Walk walk = WalkChain(data, signature, header_size);
  if (walk.end != WalkEnd::kCutShort) return std::nullopt;
  const auto header_bytes = static_cast<std::size_t>(header_size);
  return ChainCut{walk.blocks.size(), walk.stop_offset, data.size() - walk.stop_offset < header_bytes};
}

}  // namespace larkspur
