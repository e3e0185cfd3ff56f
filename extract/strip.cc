#include "extract/strip.h"

#include <cstring>

#include "format/block_chain.h"

namespace larkspur {
namespace {

// Moves data[from, from + count) down to data[to, ...); to <= from.
void MoveDown(ByteString& data, std::size_t to, std::size_t from, std::size_t count) {
  if (to != from && count != 0) std::memmove(data.data() + to, data.data() + from, count);
}

}  // namespace

std::int64_t StripEveryOccurrence(ByteString& data, std::string_view signature, int header_size) {
  if (signature.empty()) return 0;
  const std::string_view view(data);
  const std::size_t size = data.size();
  const std::size_t header_bytes = header_size > 0 ? static_cast<std::size_t>(header_size) : 0;
  std::int64_t removed = 0;
  std::size_t read = 0;   // first byte not yet looked at
  std::size_t write = 0;  // end of the bytes kept so far
  while (read < size) {
    const std::size_t found = view.find(signature, read);
    if (found == std::string_view::npos) break;
    MoveDown(data, write, read, found - read);
    write += found - read;
    read = header_bytes > size - found ? size : found + header_bytes;
    ++removed;
    // A header size of 0 would find the same occurrence forever.
    if (header_bytes == 0) read = size;
  }
  MoveDown(data, write, read, size - read);
  write += size - read;
  data.resize(write);
  return removed;
}

StripResult StripBlockHeaders(ByteString& data, std::string_view signature, int header_size) {
  const auto chain = FindBlockChain(data, signature, header_size);
  if (!chain) return {StripEveryOccurrence(data, signature, header_size), false};

  const std::size_t header_bytes = static_cast<std::size_t>(header_size);
  std::size_t write = chain->front().header_offset;  // the prefix stays
  for (const ChainBlock& block : *chain) {
    const std::size_t payload = block.header_offset + header_bytes;
    MoveDown(data, write, payload, block.payload_length);
    write += block.payload_length;
  }
  data.resize(write);
  return {static_cast<std::int64_t>(chain->size()), true};
}

StripResult StripLayoutBlocks(ByteString& data, const FirmwareLayout& layout) {
  if (!layout.chain_intact || layout.blocks.empty()) return {};
  const auto header_bytes = static_cast<std::size_t>(layout.header_size);
  std::size_t write = layout.blocks.front().header_offset;  // the prefix stays
  for (const LayoutBlock& block : layout.blocks) {
    const std::size_t payload = block.header_offset + header_bytes;
    MoveDown(data, write, payload, block.payload_length);
    write += block.payload_length;
  }
  data.resize(write);
  return {static_cast<std::int64_t>(layout.blocks.size()), true};
}

}  // namespace larkspur
