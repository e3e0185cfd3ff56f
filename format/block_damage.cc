#include "format/block_damage.h"

#include <memory>

#include "base/hex.h"
#include "format/block_header.h"

namespace larkspur {
namespace {

void CheckHeaderChecksum(std::string_view header, bool named, std::size_t index, std::size_t offset,
                         std::vector<BlockDamage>& damage) {
  const char expected = HeaderChecksum(header);
  if (header.back() != expected) {
    damage.push_back({offset, named, index, false, SpacedHex(std::string_view(&expected, 1)),
                      SpacedHex(header.substr(header.size() - 1))});
  }
}

}  // namespace

std::vector<BlockDamage> FindBlockDamage(std::string_view file, const FirmwareLayout& layout,
                                         const PayloadCopier& copy_payload) {
  std::vector<BlockDamage> damage;
  const auto header_bytes = static_cast<std::size_t>(layout.header_size);
  std::size_t largest = 0;
  for (const LayoutBlock& block : layout.blocks) largest = std::max<std::size_t>(largest, block.payload_length);
  const std::unique_ptr<char[]> buffer(new char[std::max<std::size_t>(largest, 1)]);
  for (std::size_t i = 0; i < layout.blocks.size(); ++i) {
    const LayoutBlock& block = layout.blocks[i];
    const std::string_view header = file.substr(block.header_offset, header_bytes);
    CheckHeaderChecksum(header, false, i, block.header_offset, damage);
    const std::string_view payload = file.substr(block.header_offset + header_bytes, block.payload_length);
    copy_payload(payload, buffer.get());
    const std::string expected = CheckValueBytes(std::string_view(buffer.get(), payload.size()));
    const std::string_view found = header.substr(kCheckValueOffset, 2);
    if (found != expected) {
      damage.push_back({block.header_offset, false, i, true, SpacedHex(expected), SpacedHex(found)});
    }
  }
  for (std::size_t i = 0; i < layout.named.size(); ++i) {
    const NamedBlock& named = layout.named[i];
    CheckHeaderChecksum(file.substr(named.header_offset, static_cast<std::size_t>(named.header_size)), true, i,
                        named.header_offset, damage);
  }
  return damage;
}

Text DescribeDamage(const BlockDamage& damage) {
  const std::string index = std::to_string(damage.index), offset = HexNumber(damage.header_offset, 8);
  return Text("%1: %2应为 %3, 实为 %4",
              {damage.named ? Text("文件偏移 %2 处的命名块 %1", {index, offset}) : Text("文件偏移 %2 处的块 %1", {index, offset}),
               damage.in_check_value ? Text("校验值") : Text("块头校验和"), damage.expected, damage.found});
}

}  // namespace larkspur
