// Test helper: reads a written firmware file's blocks back by hand, from the
// header layout alone (not with the program's own block readers), checking
// every header field on the way. Test code only: a field that is wrong is
// a GoogleTest failure naming the header's offset.
#ifndef LARKSPUR_TESTING_FIRMWARE_READ_BACK_H_
#define LARKSPUR_TESTING_FIRMWARE_READ_BACK_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::testing {

struct ReadBackBlock {
  std::uint32_t length = 0;   // as the header announces it
  std::uint32_t address = 0;  // the load address in the header
  std::string payload;
};

// The blocks of `file` from `prefix_size` on, each behind a header of
// `header_size` bytes (19 or 26) that starts with `signature`. Checks the
// signature, the two check values, the header checksum and that each
// payload is as long as announced; stops at the first header that does not
// fit in the file. With `padding_between`, FF bytes after a block are
// skipped as padding.
std::vector<ReadBackBlock> ReadBackBlocks(std::string_view file, std::size_t prefix_size, std::string_view signature,
                                          std::size_t header_size, bool padding_between = false);

// The payloads of `blocks` one after the other: the partition stream.
std::string JoinedPayloads(const std::vector<ReadBackBlock>& blocks);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_FIRMWARE_READ_BACK_H_
