// Reading a firmware image file's blocks back and checking each, as `verify`
// and `info` do (each problem a text of the catalog): the code blocks' signature, check value, header checksum,
// payload length and the chain of load addresses; the named blocks' header
// checksums; and what `info` says of the file besides (its table of
// contents, named blocks, padding, the header bytes the profile does not
// give, where the partition starts in the payloads). Pure; parses untrusted
// bytes and never throws for any input.
#ifndef LARKSPUR_FORMAT_FIRMWARE_CHECK_H_
#define LARKSPUR_FORMAT_FIRMWARE_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "format/firmware_layout.h"
#include "format/model_profile.h"
#include "format/table_of_contents.h"

namespace larkspur {

// A code block (type 54).
struct BlockCheck {
  std::size_t index = 0;          // 0-based block number
  std::size_t header_offset = 0;  // in the file
  std::uint32_t payload_length = 0;
  std::uint32_t address = 0;
  // FF bytes between this block and the next code block.
  std::size_t padding_after = 0;
  // The header's type field when it is not the profile's (real files carry
  // other bytes there; no problem); empty when it is.
  std::string other_type_field;
  std::vector<Text> problems;  // empty when the header is right
};

// A named block (type 5D). Only its header checksum is checked: the
// algorithm of its check value is not known.
struct NamedBlockCheck {
  std::size_t index = 0;  // 0-based among the named blocks
  NamedBlock block;       // header_size 0 when the file ends inside the header
  std::vector<Text> problems;
};

struct FirmwareCheck {
  PartitionKind kind = PartitionKind::kRofs;
  std::size_t file_size = 0;
  int header_size = 0;
  std::int32_t block_size = 0;
  // The table of contents the walk started after, or why a file that
  // starts with B2 was read without one (then also a problem).
  std::optional<TableOfContents> toc;
  std::string toc_problem;
  std::optional<std::size_t> prefix_length;  // nothing when no header was found
  // Everything in front of the first code block was walked from the table
  // of contents: named blocks and FF padding, nothing unread.
  bool prefix_walked = false;
  std::vector<BlockCheck> blocks;
  std::vector<NamedBlockCheck> named;  // in file order
  // Where the last code block's payload ends, when the walk from there
  // reached the end of the file: what lies after it is FF padding and the
  // named blocks behind the code blocks.
  std::optional<std::size_t> code_end;
  std::vector<Text> problems;  // problems of the file as a whole

  // The payloads laid end to end: where the partition magic first occurs
  // (the ROFS header; for UDA the jump E9 00 90), where the FAT boot sector
  // lies as Extract finds it (at a 512-byte boundary with only zero bytes
  // in front; UDA only), how many zero bytes they begin with, and their
  // first 4 bytes.
  std::optional<std::size_t> magic_offset;
  std::optional<std::size_t> boot_sector_offset;
  std::uint64_t leading_zeros = 0;
  std::string payload_lead;

  bool AllRight() const;
};

// kUda when the file name of `path` (what follows its last folder
// separator) holds "uda", else when it holds "UDA"; else kRofs. The folders
// never count: a folder named "Budapest" says nothing of its files.
PartitionKind KindOfPath(std::string_view path);

// Checks every block of `file`, taken as a firmware file of `kind` in
// `format`. Blocks are followed by structure (the walk of
// ReadFirmwareLayout: a table of contents in front, named blocks, FF
// padding); where the chain breaks, the problem is recorded and the walk
// resumes at the next block signature. A type field that is not the
// profile's is recorded, not a problem. A file with no block header at all
// is a problem, not a pass, and so is a file starting with B2 whose table
// of contents cannot be read or leads to no block. With `judge_model`, a
// file whose blocks all have one length that is not the format's block
// size is a problem too: it was made for another model.
FirmwareCheck CheckFirmware(std::string_view file, PartitionKind kind, const BlockFormat& format,
                            bool judge_model = false);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_FIRMWARE_CHECK_H_
