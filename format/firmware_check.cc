#include "format/firmware_check.h"

#include <algorithm>
#include <set>

#include "base/hex.h"
#include "format/block_header.h"
#include "format/hex_text.h"
#include "format/partition.h"

namespace larkspur {
namespace {

// The offset of the header just before `next` when its signature is
// damaged: its type field is the one given, its payload, no longer than a block,
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
// header whose signature differs in one byte, with the type field given and
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

// Where a header should begin and none does: the first bytes there, as
// many as a signature has.
Text NoHeaderWhereThisEnds(std::string_view file, std::size_t offset) {
  return Text("这个块结束的地方 (文件偏移 %1) 没有块头 (实为 %2)",
              {HexNumber(offset, 8), SpacedHex(file.substr(offset, kSignatureLength))});
}

// "payload length 0x00040000 runs past the end of the file (12 bytes left)"
Text PayloadPastTheEnd(std::uint32_t payload_length, std::size_t left) {
  return Text("载荷长度 %1 超出了文件末尾 (只剩 %2 字节)", {HexNumber(payload_length, 8), std::to_string(left)});
}

// The fields of the named block whose header (`header_size` bytes, all in
// the file) begins at `offset`, for one the walk could not take whole.
NamedBlock NamedBlockAt(std::string_view file, std::size_t offset, int header_size) {
  constexpr std::size_t kDescriptionOffset = 24, kDescriptionLength = 12;
  const std::string_view header = file.substr(offset, static_cast<std::size_t>(header_size));
  NamedBlock named{offset, header_size, ReadBigEndian32(header, kNamedLengthOffset),
                   ReadBigEndian32(header, kNamedAddressOffset),
                   std::string(header.substr(kDescriptionOffset, kDescriptionLength))};
  named.description.resize(std::min(named.description.find('\0'), named.description.size()));
  return named;
}

// Where a walk that found no code block after the table of contents
// stopped: the offset of what is no block there, or the end of the file
// when only named blocks and padding followed the table.
std::size_t WhereTheWalkStopped(std::string_view file, const FirmwareLayout& walk) {
  const std::size_t at = walk.end_offset;
  if (walk.end == ChainEnd::kCutShort || at >= file.size()) return file.size();
  // The walk takes a run of padding whole, and names the offset of the last
  // thing it took when nothing stopped it.
  if (static_cast<std::uint8_t>(file[at]) == 0xFF) return file.size();
  if (!walk.named.empty() && walk.named.back().header_offset == at) return file.size();
  return at;
}

// What the check gathers of the payloads laid end to end, block by block,
// without copying them: where the partition magic first occurs (a magic
// split across two blocks included), the zero bytes they begin with, the
// sector that holds the first other byte, and their first bytes.
class PayloadScan {
 public:
  explicit PayloadScan(PartitionKind kind)
      : kind_(kind), magic_(HexToBytes(kind == PartitionKind::kUda ? kFat16MagicHex : kRofsMagicHex)) {}

  void Add(std::string_view payload) {
    if (payload.empty()) return;
    if (!magic_offset_) {
      // Each payload is searched together with the last few bytes before it.
      std::string joint = carried_;
      joint.append(payload.substr(0, std::min(payload.size(), magic_.size() - 1)));
      std::size_t at = joint.find(magic_);
      if (at != std::string::npos) {
        magic_offset_ = size_ - carried_.size() + at;
      } else if ((at = payload.find(magic_)) != std::string_view::npos) {
        magic_offset_ = size_ + at;
      }
      carried_.append(payload.substr(payload.size() - std::min(payload.size(), magic_.size() - 1)));
      if (carried_.size() > magic_.size() - 1) carried_.erase(0, carried_.size() - (magic_.size() - 1));
    }
    lead_.append(payload.substr(0, kLeadBytes - std::min(lead_.size(), kLeadBytes)));
    if (!first_other_) {
      const std::size_t at = payload.find_first_not_of('\0');
      if (at != std::string_view::npos) {
        first_other_ = size_ + at;
        // FindFatBootSector passes over sectors of zeros and decides at the
        // first sector with anything else in it: that one is kept.
        first_sector_.assign(static_cast<std::size_t>(*first_other_ % kSectorSize), '\0');
        first_sector_.append(payload.substr(at, kSectorSize - first_sector_.size()));
      }
    } else if (first_sector_.size() < kSectorSize) {
      first_sector_.append(payload.substr(0, kSectorSize - first_sector_.size()));
    }
    size_ += payload.size();
  }

  void Report(FirmwareCheck& check) const {
    if (magic_offset_) check.magic_offset = static_cast<std::size_t>(*magic_offset_);
    check.leading_zeros = first_other_.value_or(size_);
    check.payload_lead = lead_;
    if (kind_ != PartitionKind::kUda || !first_other_) return;
    if (const auto at = FindFatBootSector(first_sector_)) {
      check.boot_sector_offset = static_cast<std::size_t>(*first_other_ / kSectorSize * kSectorSize + *at);
    }
  }

 private:
  static constexpr std::size_t kLeadBytes = 4;
  PartitionKind kind_;
  std::string magic_;
  std::string carried_;  // the stream's last magic_.size() - 1 bytes
  std::uint64_t size_ = 0;
  std::optional<std::uint64_t> magic_offset_;
  std::optional<std::uint64_t> first_other_;  // the first byte that is not zero
  std::string first_sector_;
  std::string lead_;
};

}  // namespace

bool FirmwareCheck::AllRight() const {
  if (!problems.empty() || blocks.empty()) return false;
  for (const BlockCheck& block : blocks) {
    if (!block.problems.empty()) return false;
  }
  for (const NamedBlockCheck& block : named) {
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
    check.problems.push_back(Text("配置文件的块头长度没有已知的布局"));
    return check;
  }
  const auto header_bytes = static_cast<std::size_t>(layout->header_size);

  // Both kinds of block header follow one checksum rule.
  auto checksum_problem = [](std::string_view header) -> std::optional<Text> {
    const char expected = HeaderChecksum(header);
    if (header.back() == expected) return std::nullopt;
    return Text("块头校验和应为 %1, 实为 %2", {HexDigits(static_cast<unsigned char>(expected), 2),
                                                HexDigits(static_cast<unsigned char>(header.back()), 2)});
  };
  // A named block's check value is not checked: its algorithm is not
  // known. Its header checksum is.
  auto add_named = [&](const NamedBlock& named) -> NamedBlockCheck& {
    NamedBlockCheck block{check.named.size(), named, {}};
    if (auto problem =
            checksum_problem(file.substr(named.header_offset, static_cast<std::size_t>(named.header_size)))) {
      block.problems.push_back(std::move(*problem));
    }
    check.named.push_back(std::move(block));
    return check.named.back();
  };
  // The named block the file ends inside of.
  auto add_cut_named = [&](const FirmwareLayout& walk) {
    const std::size_t at = walk.end_offset;
    const std::size_t left = file.size() - at;
    const std::optional<int> size = left >= 4 ? NamedHeaderSize(file.substr(at + 1, 3)) : std::nullopt;
    if (walk.ends_inside_header || !size) {
      NamedBlock named;
      named.header_offset = at;
      // Too little of it is left to say which named header it is.
      check.named.push_back({check.named.size(),
                             named,
                             {size ? Text("块头被截断: 只有 %1 字节, 共 %2 字节", {std::to_string(left), std::to_string(*size)})
                                   : Text("块头被截断: 只有 %1 字节", {std::to_string(left)})}});
      return;
    }
    NamedBlockCheck& block = add_named(NamedBlockAt(file, at, *size));
    block.problems.push_back(PayloadPastTheEnd(block.block.payload_length, left - static_cast<std::size_t>(*size)));
  };

  // The block before says a header begins at `offset`, and none does. Said
  // of the block of `stretch` that lies last, code or named (those from
  // `named_before` on are its named ones), or else of the table of contents.
  auto no_header_at = [&](std::size_t offset, const FirmwareLayout& stretch, std::size_t named_before) {
    const bool named = check.named.size() > named_before;
    const bool code = !stretch.blocks.empty();
    if (named && (!code || check.named.back().block.header_offset > stretch.blocks.back().header_offset)) {
      check.named.back().problems.push_back(NoHeaderWhereThisEnds(file, offset));
    } else if (code) {
      check.blocks.back().problems.push_back(NoHeaderWhereThisEnds(file, offset));
    } else {
      check.problems.push_back(Text("目录表结束的地方 (文件偏移 %1) 没有块头 (实为 %2)",
                                    {HexNumber(offset, 8), SpacedHex(file.substr(offset, kSignatureLength))}));
    }
  };

  FirmwareLayout walk = ReadFirmwareLayout(file, signature, check.header_size);
  check.toc = walk.toc;
  check.toc_problem = walk.toc_problem;
  if (!walk.toc_problem.empty()) {
    check.problems.push_back(Text("%1; 读取文件时没有使用它", {walk.toc_problem}));
  }
  if (!walk.HasHeader() && walk.toc) {
    // The table led to named blocks (or to none) and no code block came:
    // what stopped the walk is named, and the check goes on at the next
    // signature after it.
    for (const NamedBlock& named : walk.named) add_named(named);
    if (walk.end == ChainEnd::kCutShort && walk.end_in_named_block) add_cut_named(walk);
    const std::size_t stopped = WhereTheWalkStopped(file, walk);
    if (stopped < file.size()) {
      no_header_at(stopped, walk, 0);
      walk = ReadFirmwareLayout(file, signature, check.header_size, stopped);
    }
  }
  if (!walk.HasHeader()) {
    check.problems.push_back(Text("文件中没有块头 (标识 %1)", {SpacedHex(signature)}));
    return check;
  }
  check.prefix_length = walk.prefix_length;
  check.prefix_walked = walk.toc.has_value();
  if (judge_model) {
    const BlockSizeVerdict verdict = JudgeBlockSizes(walk, format);
    if (verdict.other_model) {
      const std::vector<int> fitting = ModelsThatFit(file, kind);
      const std::string found = HexNumber(*verdict.regular_length, 8), model = HexNumber(format.block_size, 8);
      check.problems.push_back(
          fitting.empty()
              ? Text("块长度为 %1 字节, 这个手机型号的块长度为 %2: 这个文件不适合任何已知的手机型号", {found, model})
              : Text("块长度为 %1 字节, 这个手机型号的块长度为 %2: 这个文件是为%3制作的",
                     {found, model, ModelNames(fitting)}));
    }
  }
  // Read from a table of contents, everything in front of the first code
  // block was walked block by block; otherwise it is a prefix that may hide
  // a damaged header.
  if (!check.toc) {
    const std::size_t first = *walk.prefix_length;
    // Real files carry other type fields than the profile's: damaged
    // headers are looked for with the one the first header carries.
    const std::string_view first_type_field = header_bytes <= file.size() - first
                                                  ? file.substr(first + kTypeFieldOffset, type_field.size())
                                                  : std::string_view(type_field);
    for (const std::size_t damaged :
         DamagedHeadersBefore(file, first, *layout, signature, first_type_field, format.block_size)) {
      check.problems.push_back(Text("文件偏移 %1 处的块头已损坏, 在块 0 之前: 标识应为 %2, 实为 %3",
                                    {HexNumber(damaged, 8), SpacedHex(signature),
                                     SpacedHex(file.substr(damaged, signature.size()))}));
    }
  }

  PayloadScan scan(kind);
  // The checks of one code header's own fields.
  std::optional<std::uint32_t> expected_address;
  auto check_header = [&](BlockCheck& block, std::string_view header) {
    const std::string_view found_type = header.substr(kTypeFieldOffset, type_field.size());
    // Real files carry other bytes here than the profile gives; the header
    // checksum covers them.
    if (found_type != type_field) block.other_type_field = std::string(found_type);
    if (expected_address && block.address != *expected_address) {
      block.problems.push_back(
          Text("加载地址应为 %1, 实为 %2", {HexNumber(*expected_address, 8), HexNumber(block.address, 8)}));
    }
    if (block.payload_length > format.block_size) {
      block.problems.push_back(Text("载荷长度 %1 超过了块长度 %2",
                                    {HexNumber(block.payload_length, 8), HexNumber(format.block_size, 8)}));
    }
    if (auto problem = checksum_problem(header)) block.problems.push_back(std::move(*problem));
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
      block.padding_after = walked.padding_after;
      const std::string_view header = file.substr(walked.header_offset, header_bytes);
      check_header(block, header);
      const std::string_view payload = file.substr(walked.header_offset + header_bytes, walked.payload_length);
      const std::string expected_check = CheckValueBytes(payload);
      const std::string_view found_check = header.substr(kCheckValueOffset, 2);
      if (found_check != expected_check) {
        block.problems.push_back(Text("校验值应为 %1, 实为 %2", {SpacedHex(expected_check), SpacedHex(found_check)}));
      }
      scan.Add(payload);
      check.blocks.push_back(std::move(block));
    }
    // The named blocks of this stretch (those before its first code block
    // too, when it starts after the table of contents).
    const std::size_t named_before = check.named.size();
    for (const NamedBlock& named : walk.named) add_named(named);

    const std::size_t end = walk.end_offset;
    const std::size_t left = file.size() - end;
    const bool partial_signature = walk.end == ChainEnd::kCutShort && walk.ends_inside_header &&
                                   !walk.end_in_named_block && left < signature.size();
    if (walk.end == ChainEnd::kBroken || partial_signature) {
      no_header_at(end, walk, named_before);
      if (partial_signature) break;
      walk = ReadFirmwareLayout(file, signature, check.header_size, end);
      if (!walk.HasHeader()) break;
      continue;
    }
    if (walk.end == ChainEnd::kCutShort && walk.end_in_named_block) {
      add_cut_named(walk);
    } else if (walk.end == ChainEnd::kCutShort) {
      BlockCheck block;
      block.index = check.blocks.size();
      block.header_offset = end;
      if (walk.ends_inside_header) {
        block.problems.push_back(
            Text("块头被截断: 只有 %1 字节, 共 %2 字节", {std::to_string(left), std::to_string(header_bytes)}));
      } else {
        const std::string_view header = file.substr(end, header_bytes);
        block.payload_length = ReadBigEndian32(header, layout->length_offset);
        block.address = ReadBigEndian32(header, layout->address_offset);
        check_header(block, header);
        block.problems.push_back(PayloadPastTheEnd(block.payload_length, left - header_bytes));
      }
      check.blocks.push_back(std::move(block));
    } else if (walk.end == ChainEnd::kIntact) {
      check.code_end = walk.code_end;
    }
    break;
  }
  scan.Report(check);
  return check;
}

}  // namespace larkspur
