#include "format/firmware_check.h"

#include <algorithm>
#include <set>

#include "format/block_header.h"
#include "format/firmware_layout.h"
#include "format/partition.h"
#include "format/hex_text.h"

namespace larkspur {
namespace {

// The offset of the header just before `next` when its signature is
// damaged: the type field is right, its payload, no longer than a block,
// ends exactly at `next`, and its load address comes right before that of
// the header at `next`.
std::optional<std::size_t> HeaderEndingAt(std::string_view file, std::size_t next, const HeaderLayout& layout,
                                          std::string_view type_field, std::uint32_t block_size) {
  const auto header_bytes = static_cast<std::size_t>(layout.header_size);
  if (next < header_bytes || header_bytes > file.size() - next) return std::nullopt;
  const std::uint32_t next_address = ReadBigEndian32(file, next + layout.address_offset);
  const std::size_t longest = std::min<std::size_t>(block_size, next - header_bytes);
  for (std::size_t length = 0; length <= longest; ++length) {
    const std::size_t at = next - header_bytes - length;
    if (ReadBigEndian32(file, at + layout.length_offset) != length) continue;
    if (file.substr(at + kTypeFieldOffset, type_field.size()) != type_field) continue;
    if (ReadBigEndian32(file, at + layout.address_offset) + static_cast<std::uint32_t>(length) != next_address) {
      continue;
    }
    return at;
  }
  return std::nullopt;
}

// Headers before `first` (the first header whose signature was found) whose
// signature is damaged. Such a block would pass for part of the prefix, and
// the file for a good one. Two kinds are recognised: a chain of headers that
// ends exactly at `first` (however much of each signature is damaged), and a
// header whose signature differs in one byte, with the right type field and
// a payload that fits a block and the file (the first found header may then
// be a chance one inside its payload).
std::vector<std::size_t> DamagedHeadersBefore(std::string_view file, std::size_t first, const HeaderLayout& layout,
                                              std::string_view signature, std::string_view type_field,
                                              std::uint32_t block_size) {
  std::set<std::size_t> damaged;
  for (std::optional<std::size_t> at = first; (at = HeaderEndingAt(file, *at, layout, type_field, block_size));) {
    damaged.insert(*at);
  }
  const auto header_bytes = static_cast<std::size_t>(layout.header_size);
  for (std::size_t at = 0; at < first && header_bytes <= file.size() - at; ++at) {
    int differences = 0;
    for (std::size_t i = 0; i < signature.size() && differences < 2; ++i) differences += file[at + i] != signature[i];
    if (differences != 1 || file.substr(at + kTypeFieldOffset, type_field.size()) != type_field) continue;
    const std::uint32_t length = ReadBigEndian32(file, at + layout.length_offset);
    if (length <= block_size && length <= file.size() - at - header_bytes) damaged.insert(at);
  }
  return {damaged.begin(), damaged.end()};
}

}  // namespace

bool FirmwareCheck::AllRight() const {
  if (!problems.empty() || blocks.empty()) return false;
  for (const BlockCheck& block : blocks) {
    if (!block.problems.empty()) return false;
  }
  return true;
}

PartitionKind KindOfPath(std::string_view path) {
  const std::size_t separator = path.find_last_of("/\\");
  if (separator != std::string_view::npos) path.remove_prefix(separator + 1);
  if (path.find("uda") != std::string_view::npos) return PartitionKind::kUda;
  if (path.find("UDA") != std::string_view::npos) return PartitionKind::kUda;
  return PartitionKind::kRofs;
}

FirmwareCheck CheckFirmware(std::string_view file, PartitionKind kind, const BlockFormat& format, bool judge_model) {
  FirmwareCheck check;
  check.kind = kind;
  check.file_size = file.size();
  const std::string& signature = format.signature;
  const std::string& type_field = format.type_field;
  check.header_size = format.header_size;
  check.block_size = static_cast<std::int32_t>(format.block_size);
  const auto layout = LayoutForHeaderSize(check.header_size);
  if (!layout) {
    check.problems.push_back("the profile's header size has no known layout");
    return check;
  }
  const auto header_bytes = static_cast<std::size_t>(layout->header_size);

  FirmwareLayout walk = ReadFirmwareLayout(file, signature, check.header_size);
  if (!walk.HasHeader()) {
    check.problems.push_back("no block header (signature " + SpacedHex(signature) + ") in the file");
    return check;
  }
  check.prefix_length = walk.prefix_length;
  if (judge_model) {
    const BlockSizeVerdict verdict = JudgeBlockSizes(walk, format);
    if (verdict.other_model) {
      const std::vector<int> fitting = ModelsThatFit(file, kind);
      check.problems.push_back("blocks of " + HexNumber(*verdict.regular_length, 8) + " bytes, the model has blocks of " +
                               HexNumber(format.block_size, 8) + ": the file " +
                               (fitting.empty() ? std::string("fits no known model")
                                                : "was made for " + ModelNames(fitting)));
    }
  }
  for (const std::size_t damaged :
       DamagedHeadersBefore(file, *walk.prefix_length, *layout, signature, type_field, format.block_size)) {
    check.problems.push_back("damaged block header at file offset " + HexNumber(static_cast<std::uint32_t>(damaged), 8) +
                             ", before block 0: signature expected " + SpacedHex(signature) + ", found " +
                             SpacedHex(file.substr(damaged, signature.size())));
  }

  // The magic is looked for in the payloads laid end to end without
  // copying them: each payload is searched together with the last few bytes
  // before it, so a magic split across two blocks is found too.
  const std::string magic = HexToBytes(kind == PartitionKind::kUda ? kFat16MagicHex : kRofsMagicHex);
  std::string carried;            // the stream's last magic.size() - 1 bytes
  std::uint64_t stream_size = 0;  // payload bytes seen so far
  auto find_magic = [&](std::string_view payload) {
    if (check.magic_offset || payload.empty()) return;
    std::string joint = carried;
    joint.append(payload.substr(0, std::min(payload.size(), magic.size() - 1)));
    std::size_t at = joint.find(magic);
    if (at != std::string::npos) {
      check.magic_offset = static_cast<std::size_t>(stream_size - carried.size() + at);
    } else if ((at = payload.find(magic)) != std::string_view::npos) {
      check.magic_offset = static_cast<std::size_t>(stream_size + at);
    }
    carried.append(payload.substr(payload.size() - std::min(payload.size(), magic.size() - 1)));
    if (carried.size() > magic.size() - 1) carried.erase(0, carried.size() - (magic.size() - 1));
    stream_size += payload.size();
  };
  // The checks of one header's own fields.
  std::optional<std::uint32_t> expected_address;
  auto check_header = [&](BlockCheck& block, std::string_view header) {
    const std::string_view found_type = header.substr(kTypeFieldOffset, type_field.size());
    if (found_type != type_field) {
      block.problems.push_back("type field expected " + SpacedHex(type_field) + ", found " + SpacedHex(found_type));
    }
    if (expected_address && block.address != *expected_address) {
      block.problems.push_back("load address expected " + HexNumber(*expected_address, 8) + ", found " +
                               HexNumber(block.address, 8));
    }
    if (block.payload_length > format.block_size) {
      block.problems.push_back("payload length " + HexNumber(block.payload_length, 8) +
                               " is more than the block size " + HexNumber(format.block_size, 8));
    }
    unsigned sum = 0;
    for (std::size_t i = 1; i < header.size(); ++i) sum += static_cast<unsigned char>(header[i]);
    if (sum % 256 != 0xFF) {
      const unsigned found = static_cast<unsigned char>(header.back());
      const unsigned expected = (found + 0xFF - sum % 256) & 0xFF;
      block.problems.push_back("header checksum expected " + HexDigits(expected, 2) + ", found " +
                               HexDigits(found, 2));
    }
    expected_address = block.address + block.payload_length;
  };

  // Each stretch of the chain is walked to its end; where it breaks, the
  // walk goes on at the next signature.
  for (;;) {
    for (const LayoutBlock& walked : walk.blocks) {
      BlockCheck block;
      block.index = check.blocks.size();
      block.header_offset = walked.header_offset;
      block.payload_length = walked.payload_length;
      block.address = walked.address;
      const std::string_view header = file.substr(walked.header_offset, header_bytes);
      check_header(block, header);
      const std::string_view payload = file.substr(walked.header_offset + header_bytes, walked.payload_length);
      const std::string expected_check = CheckValueBytes(payload);
      const std::string_view found_check = header.substr(kCheckValueOffset, 2);
      if (found_check != expected_check) {
        block.problems.push_back("check value expected " + SpacedHex(expected_check) + ", found " +
                                 SpacedHex(found_check));
      }
      find_magic(payload);
      check.blocks.push_back(std::move(block));
    }
    const std::size_t end = walk.end_offset;
    const std::size_t left = file.size() - end;
    const bool partial_signature = walk.end == ChainEnd::kCutShort && walk.ends_inside_header && left < signature.size();
    if (walk.end == ChainEnd::kBroken || partial_signature) {
      // The block before says a header begins here, and none does.
      check.blocks.back().problems.push_back("no block header where this block ends, at file offset " +
                                             HexNumber(static_cast<std::uint32_t>(end), 8));
      if (partial_signature) break;
      walk = ReadFirmwareLayout(file, signature, check.header_size, end);
      if (!walk.HasHeader()) break;
      continue;
    }
    if (walk.end == ChainEnd::kCutShort) {
      BlockCheck block;
      block.index = check.blocks.size();
      block.header_offset = end;
      if (walk.ends_inside_header) {
        block.problems.push_back("header cut short: " + std::to_string(left) + " of " + std::to_string(header_bytes) +
                                 " bytes");
      } else {
        const std::string_view header = file.substr(end, header_bytes);
        block.payload_length = ReadBigEndian32(header, layout->length_offset);
        block.address = ReadBigEndian32(header, layout->address_offset);
        check_header(block, header);
        block.problems.push_back("payload length " + HexNumber(block.payload_length, 8) +
                                 " runs past the end of the file (" + std::to_string(left - header_bytes) +
                                 " bytes left)");
      }
      check.blocks.push_back(std::move(block));
    }
    break;
  }
  return check;
}

}  // namespace larkspur
