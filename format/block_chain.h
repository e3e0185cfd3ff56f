// The chain of blocks in a firmware image file: from the first block
// signature, each header's payload length says where the next header
// starts. Reading the chain tells real headers from chance occurrences of
// the signature inside a payload. Pure functions on bytes; never throws for
// any input.
#ifndef LARKSPUR_FORMAT_BLOCK_CHAIN_H_
#define LARKSPUR_FORMAT_BLOCK_CHAIN_H_

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace larkspur {

struct ChainBlock {
  std::size_t header_offset;     // 0-based offset of the header in the file
  std::uint32_t payload_length;  // as its header announces it
};

// The blocks of `data`, when they form an intact chain: the first header
// begins at the first occurrence of `signature`, every next header begins
// with `signature` where the one before says, and the last block ends
// exactly at the end of `data`. Nothing when there is no signature, the
// header size has no known layout (19 or 26), or the chain breaks anywhere.
std::optional<std::vector<ChainBlock>> FindBlockChain(std::string_view data,
                                                      std::string_view signature,
                                                      int header_size);

// Where the end of the data cuts a block short.
struct ChainCut {
  std::size_t block_index;    // 0-based number of the block that is cut
  std::size_t header_offset;  // where its header begins
  bool inside_header;         // the data ends inside the header, not the payload
};

// Where `data` ends inside a block: the chain holds from the first signature
// on, every header beginning with `signature` where the one before says,
// until a header (whose bytes match as far as they go) or its payload runs
// past the end of `data`. Nothing when there is no signature, the header
// size has no known layout, the chain is intact, or it breaks before the
// end.
std::optional<ChainCut> FindChainCut(std::string_view data, std::string_view signature, int header_size);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_BLOCK_CHAIN_H_
