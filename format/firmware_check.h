// Reading a firmware image file's block headers back and checking each:
// signature, check value, type field, header checksum, payload length and
// the chain of load addresses. Pure; parses untrusted bytes and never
// throws for any input.
#ifndef LARKSPUR_FORMAT_FIRMWARE_CHECK_H_
#define LARKSPUR_FORMAT_FIRMWARE_CHECK_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/model_profile.h"

namespace larkspur {

struct BlockCheck {
  std::size_t index = 0;          // 0-based block number
  std::size_t header_offset = 0;  // in the file
  std::uint32_t payload_length = 0;
  std::uint32_t address = 0;
  std::vector<std::string> problems;  // empty when the header is right
};

struct FirmwareCheck {
  PartitionKind kind = PartitionKind::kRofs;
  std::size_t file_size = 0;
  int header_size = 0;
  std::int32_t block_size = 0;
  std::optional<std::size_t> prefix_length;  // nothing when no header was found
  std::vector<BlockCheck> blocks;
  std::vector<std::string> problems;  // problems of the file as a whole
  // Offset of the partition magic in the payloads laid end to end.
  std::optional<std::size_t> magic_offset;

  bool AllRight() const;
};

// kUda when the file name of `path` (what follows its last folder
// separator) holds "uda", else when it holds "UDA"; else kRofs. The folders
// never count: a folder named "Budapest" says nothing of its files.
PartitionKind KindOfPath(std::string_view path);

// Checks every block of `file`, taken as a firmware file of `kind` in
// `format`. Blocks are followed by their payload lengths (the walk of
// ReadFirmwareLayout); where the chain breaks, the problem is recorded and
// the walk resumes at the next block signature. A file with no block header
// at all is a problem, not a pass. With `judge_model`, a file whose blocks
// all have one length that is not the format's block size is a problem too:
// it was made for another model.
FirmwareCheck CheckFirmware(std::string_view file, PartitionKind kind, const BlockFormat& format,
                            bool judge_model = false);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_FIRMWARE_CHECK_H_
