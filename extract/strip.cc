#include "extract/strip.h"

#include <cstring>
#include <stdexcept>
#include <string>


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
  const FirmwareLayout layout = ReadFirmwareLayout(data, signature, header_size);
  if (!layout.chain_intact) return {StripEveryOccurrence(data, signature, header_size), false};
  return StripLayoutBlocks(data, layout);
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

std::vector<std::string_view> PayloadSpans(std::string_view file, const FirmwareLayout& layout) {
  std::vector<std::string_view> spans;
  if (!layout.chain_intact || layout.blocks.empty()) return spans;
  const auto header_bytes = static_cast<std::uint64_t>(layout.header_size);
  spans.reserve(1 + layout.blocks.size());
  const std::size_t first_header = layout.blocks.front().header_offset;
  if (first_header > file.size()) throw std::invalid_argument("the layout's first block lies outside the file");
  spans.push_back(file.substr(0, first_header));
  for (const LayoutBlock& block : layout.blocks) {
    // Computed in 64 bits: a layout of another file must not wrap around.
    const std::uint64_t payload = static_cast<std::uint64_t>(block.header_offset) + header_bytes;
    if (payload > file.size() || block.payload_length > file.size() - payload) {
      throw std::invalid_argument("the layout's block at " + std::to_string(block.header_offset) +
                                  " lies outside the file");
    }
    spans.push_back(file.substr(static_cast<std::size_t>(payload), block.payload_length));
  }
  return spans;
}

}  // namespace larkspur
