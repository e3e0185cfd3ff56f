#include "testing/firmware_read_back.h"

#include <gtest/gtest.h>

namespace larkspur::testing {
namespace {

std::uint32_t BigEndianAt(std::string_view bytes, std::size_t at) {
  return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) << 24 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 16 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 8 |
         static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3]));
}

}  // namespace

std::vector<ReadBackBlock> ReadBackBlocks(std::string_view file, std::size_t prefix_size, std::string_view signature,
                                          std::size_t header_size, bool padding_between) {
  std::vector<ReadBackBlock> blocks;
  // The length field follows the 7-byte signature, the 2-byte check value
  // and a 1- or 8-byte type field; the address follows the length.
  const std::size_t length_at = header_size == 19 ? 10 : 17;
  for (std::size_t at = prefix_size; at < file.size();) {
    if (header_size > file.size() - at) {
      ADD_FAILURE() << "header at " << at << " runs past the end of the file (" << file.size() << " bytes)";
      break;
    }
    const std::string_view header = file.substr(at, header_size);
    EXPECT_EQ(header.substr(0, signature.size()), signature) << "header at " << at;
    ReadBackBlock block;
    block.length = BigEndianAt(header, length_at);
    block.address = BigEndianAt(header, length_at + 4);
    block.payload = std::string(file.substr(at + header_size, block.length));
    EXPECT_EQ(block.payload.size(), block.length) << "header at " << at << " announces more than follows";
    unsigned char even = 0, odd = 0;
    for (std::size_t i = 0; i < block.payload.size(); ++i) {
      (i % 2 ? odd : even) ^= static_cast<unsigned char>(block.payload[i]);
    }
    EXPECT_EQ(static_cast<unsigned char>(header[7]), even) << "header at " << at;
    EXPECT_EQ(static_cast<unsigned char>(header[8]), odd) << "header at " << at;
    unsigned sum = 0;
    for (std::size_t i = 1; i < header_size; ++i) sum += static_cast<unsigned char>(header[i]);
    EXPECT_EQ(sum % 256, 0xFFu) << "header at " << at;
    at += header_size + block.payload.size();
    blocks.push_back(std::move(block));
    // No header begins with FF: such bytes are padding.
    while (padding_between && at < file.size() && file[at] == '\xFF') ++at;
  }
  return blocks;
}

std::string JoinedPayloads(const std::vector<ReadBackBlock>& blocks) {
  std::string payloads;
  for (const ReadBackBlock& block : blocks) payloads += block.payload;
  return payloads;
}

}  // namespace larkspur::testing
