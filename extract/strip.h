// Header stripping: removes every block header from a loaded firmware file,
// leaving its prefix followed by the bare partition image. Pure; callable
// from any thread on data that thread owns.
#ifndef LARKSPUR_EXTRACT_STRIP_H_
#define LARKSPUR_EXTRACT_STRIP_H_

#include <cstdint>
#include <string_view>
#include <vector>

#include "format/byte_string.h"
#include "format/firmware_layout.h"

namespace larkspur {

struct StripResult {
  std::int64_t headers_removed = 0;
  // True when the headers were found by walking the block chain; false when
  // the chain was broken (or absent) and every occurrence of the signature
  // was taken for a header.
  bool chain_intact = false;
};

// Removes the block headers from `data` in place, in one forward pass that
// copies the stretches between them.
//
// First the block chain is tried: when it holds from the first signature to
// the end of the data, exactly its headers are removed, whatever the
// payloads contain. Otherwise every occurrence of `signature` is taken for a
// header: `header_size` bytes from it are removed (fewer at the end of the
// data) and the search goes on after them, never going back; this gives the
// same bytes as deleting each header in turn.
StripResult StripBlockHeaders(ByteString& data, std::string_view signature, int header_size);

// Removes exactly the headers of `layout`'s blocks (an intact chain read
// from `data`), keeping the prefix in front.
StripResult StripLayoutBlocks(ByteString& data, const FirmwareLayout& layout);

// The bytes StripLayoutBlocks would leave, as views into `file` instead of
// moved down in place: the prefix (empty when the first header is at the
// start), then each block's payload in order. Their concatenation equals
// what StripLayoutBlocks makes of a copy of `file`. Empty when `layout`'s
// chain is not intact or holds no block (StripLayoutBlocks removes nothing
// then either). Throws std::invalid_argument when a block of `layout` lies
// outside `file` (a layout read from another file).
std::vector<std::string_view> PayloadSpans(std::string_view file, const FirmwareLayout& layout);

// The scan alone (every occurrence of the signature), as above.
std::int64_t StripEveryOccurrence(ByteString& data, std::string_view signature, int header_size);

}  // namespace larkspur

#endif  // LARKSPUR_EXTRACT_STRIP_H_
