// Damage in a firmware file's blocks: a header checksum or a code block's
// check value that does not hold. Extract refuses such a file before it
// writes anything (or, when asked to, goes on and says where). Pure; never
// throws for any input but what `copy_payload` throws.
#ifndef LARKSPUR_FORMAT_BLOCK_DAMAGE_H_
#define LARKSPUR_FORMAT_BLOCK_DAMAGE_H_

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "format/firmware_layout.h"

namespace larkspur {

struct BlockDamage {
  std::size_t header_offset = 0;  // in the file
  bool named = false;             // a named block (else a code block)
  std::size_t index = 0;          // the block's number among its kind
  bool in_check_value = false;    // the check value, else the header checksum
  std::string expected, found;    // spaced hex
};

// Copies `part`, a stretch of the file's bytes, to `to` (a mapped file reads
// it through its file, see port::FileView::CopyOut).
using PayloadCopier = std::function<void(std::string_view part, char* to)>;

// The damage in the blocks `layout` walked of `file`: every header's
// checksum, and every code block's check value over its payload (read
// through `copy_payload`, one block at a time). A named block's check
// value is not checked: how it is made is not known here.
std::vector<BlockDamage> FindBlockDamage(std::string_view file, const FirmwareLayout& layout,
                                         const PayloadCopier& copy_payload);

// "block 3 at file offset 0x00040013: check value expected 12 34, found
// 12 35" (in English), as a text of the catalog.
Text DescribeDamage(const BlockDamage& damage);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_BLOCK_DAMAGE_H_
