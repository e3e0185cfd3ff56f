#include "tools/larkspur-cli/firmware_report.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "format/table_of_contents.h"

namespace larkspur {
namespace {

// "named block 1 (CERT)": its number and description, printable.
std::string NamedBlockName(const NamedBlockCheck& named) {
  std::string name = "named block " + std::to_string(named.index);
  if (named.block.description.empty()) return name;
  name += " (";
  for (const char c : named.block.description) {
    name += static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ? '?' : c;
  }
  return name + ")";
}

// "block 4", "blocks 0-2, 5": block numbers in rising order, runs joined.
std::string BlockNumbers(const std::vector<std::size_t>& numbers) {
  std::string text = numbers.size() == 1 ? "block " : "blocks ";
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t last = i;
    while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
    if (i > 0) text += ", ";
    text += std::to_string(numbers[i]);
    if (last > i) text += "-" + std::to_string(numbers[last]);
    i = last + 1;
  }
  return text;
}

// The numbers of the blocks grouped by a value of theirs (empty values
// left out), the groups in the order of their first blocks.
template <typename Value>
std::vector<std::pair<Value, std::vector<std::size_t>>> GroupBlocks(const FirmwareCheck& check,
                                                                    Value (*value_of)(const BlockCheck&)) {
  std::vector<std::pair<Value, std::vector<std::size_t>>> groups;
  for (const BlockCheck& block : check.blocks) {
    const Value value = value_of(block);
    if (value == Value{}) continue;
    auto group = std::find_if(groups.begin(), groups.end(), [&](const auto& g) { return g.first == value; });
    if (group == groups.end()) group = groups.insert(groups.end(), {value, {}});
    group->second.push_back(block.index);
  }
  return groups;
}

// What lies from `from` to `to`, a stretch the walk took as named blocks
// and FF padding alone, in file order.
std::string NamedAndPadding(const FirmwareCheck& check, std::size_t from, std::size_t to) {
  std::string text;
  const auto add = [&](const std::string& piece) { text += (text.empty() ? "" : ", ") + piece; };
  std::size_t at = from;
  for (const NamedBlockCheck& named : check.named) {
    const NamedBlock& block = named.block;
    if (block.header_offset < from || block.header_offset >= to) continue;
    if (block.header_offset > at) add(std::to_string(block.header_offset - at) + " bytes of FF");
    add(NamedBlockName(named));
    at = block.header_offset + static_cast<std::size_t>(block.header_size) + block.payload_length;
  }
  if (to > at) add(std::to_string(to - at) + " bytes of FF");
  return text;
}

void PrintTableOfContents(std::ostream& out, const FirmwareCheck& check) {
  if (!check.toc_problem.empty()) out << "table of contents: not read: " << check.toc_problem << '\n';
  if (!check.toc) return;
  const std::size_t entries = check.toc->entries.size();
  out << "table of contents: " << check.toc->end() << " bytes, " << entries
      << (entries == 1 ? " entry\n" : " entries\n");
  for (const std::string& line : DescribeTableOfContents(*check.toc)) out << "  " << line << '\n';
}

void PrintNamedBlocks(std::ostream& out, const FirmwareCheck& check) {
  if (check.named.empty()) return;
  out << "named blocks:   " << check.named.size() << '\n';
  for (const NamedBlockCheck& named : check.named) {
    const NamedBlock& block = named.block;
    out << "  " << NamedBlockName(named) << ": ";
    if (block.header_size == 0) {
      out << "header cut short";
    } else {
      out << block.header_size << "-byte header, payload " << HexNumber(block.payload_length) << " bytes, address "
          << HexNumber(block.address, 8);
    }
    out << ", at file offset " << HexNumber(block.header_offset, 8) << '\n';
  }
}

// The erase area of the table of contents that the code blocks' payload
// (from the first block's load address on) lies in, and what is left of it.
void PrintEraseArea(std::ostream& out, const FirmwareCheck& check) {
  if (!check.toc || check.blocks.empty()) return;
  const std::vector<EraseArea> areas = EraseAreasOf(*check.toc);
  const std::uint32_t start = check.blocks.front().address;
  std::uint64_t length = 0;
  for (const BlockCheck& block : check.blocks) length += block.payload_length;
  out << "erase area:     ";
  if (areas.empty()) {
    out << "the table of contents gives none\n";
    return;
  }
  const std::optional<EraseBudget> budget = EraseBudgetOf(areas, start, length);
  if (!budget) {
    out << "none of the table's holds the payload's start " << HexNumber(start, 8) << '\n';
    return;
  }
  out << HexNumber(budget->area.start, 8) << "-" << HexNumber(budget->area.end, 8) << " holds the payload "
      << HexNumber(start, 8) << "-" << HexNumber((budget->payload_end - (length != 0 ? 1 : 0)) & 0xFFFFFFFF, 8) << ", "
      << (budget->free >= 0 ? std::to_string(budget->free) + " bytes free"
                            : "over by " + std::to_string(-budget->free) + " bytes")
      << '\n';
}

// Where the partition starts in the payloads laid end to end, as Extract
// takes it.
void PrintPartitionStart(std::ostream& out, const FirmwareCheck& check) {
  if (check.kind == PartitionKind::kRofs) {
    out << "ROFS header:    ";
    if (!check.magic_offset) {
      out << "not found in the payloads\n";
      return;
    }
    const std::size_t lead = *check.magic_offset;
    out << "at offset " << HexNumber(lead, 8) << " of the payloads";
    if (lead == 0) {
      out << ", nothing in front of it\n";
    } else if (check.leading_zeros >= lead) {
      out << "; the bytes in front of it: all zero (" << lead << " bytes)\n";
    } else {
      out << "; the bytes in front of it: not zero (" << lead << " bytes, beginning "
          << SpacedHex(std::string_view(check.payload_lead).substr(0, lead)) << ")\n";
    }
    return;
  }
  out << "FAT volume:     ";
  if (check.boot_sector_offset) {
    out << "boot sector at offset " << HexNumber(*check.boot_sector_offset, 8) << " of the payloads";
    if (*check.boot_sector_offset != 0) out << ", after " << *check.boot_sector_offset << " zero bytes";
    out << '\n';
  } else if (check.magic_offset) {
    out << "no FAT boot sector at the start of the payloads; Extract takes the first E9 00 90, at offset "
        << HexNumber(*check.magic_offset, 8) << '\n';
  } else {
    out << "no FAT boot sector at the start of the payloads, and no E9 00 90 in them\n";
  }
}

}  // namespace

void PrintProblems(std::ostream& out, const FirmwareCheck& check) {
  for (const std::string& problem : check.problems) out << problem << '\n';
  // Code and named blocks in file order.
  std::vector<std::pair<std::size_t, std::string>> lines;
  for (const BlockCheck& block : check.blocks) {
    for (const std::string& problem : block.problems) {
      lines.emplace_back(block.header_offset, "block " + std::to_string(block.index) + " at file offset " +
                                                  HexNumber(block.header_offset, 8) + ": " + problem);
    }
  }
  for (const NamedBlockCheck& named : check.named) {
    for (const std::string& problem : named.problems) {
      lines.emplace_back(named.block.header_offset, NamedBlockName(named) + " at file offset " +
                                                        HexNumber(named.block.header_offset, 8) + ": " + problem);
    }
  }
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [offset, line] : lines) out << line << '\n';
}

void PrintInfo(std::ostream& out, const FirmwareCheck& check) {
  out << "kind:           " << KindName(check.kind) << '\n';
  out << "size:           " << check.file_size << " bytes\n";
  out << "header layout:  " << check.header_size << "-byte headers, block size " << HexNumber(check.block_size) << '\n';
  PrintTableOfContents(out, check);
  if (!check.prefix_length) {
    PrintNamedBlocks(out, check);
    PrintProblems(out, check);
    return;
  }
  out << "prefix:         " << *check.prefix_length << " bytes";
  if (check.prefix_walked && check.toc) {
    const std::string rest = NamedAndPadding(check, check.toc->end(), *check.prefix_length);
    out << ": table of contents (" << check.toc->end() << " bytes)" << (rest.empty() ? "" : ", " + rest);
  }
  out << '\n';
  PrintNamedBlocks(out, check);
  if (!check.blocks.empty()) {
    const BlockCheck& first = check.blocks.front();
    const BlockCheck& last = check.blocks.back();
    out << "start address:  " << HexNumber(first.address, 8) << '\n';
    out << "blocks:         " << check.blocks.size() << '\n';
    out << "load addresses: " << HexNumber(first.address, 8) << " .. " << HexNumber(last.address, 8) << '\n';
    // The layout: runs of equal payload lengths.
    std::map<std::uint32_t, std::size_t> lengths;
    for (const BlockCheck& block : check.blocks) ++lengths[block.payload_length];
    out << "payload lengths:";
    for (const auto& [length, count] : lengths) out << ' ' << count << " x " << HexNumber(length);
    out << '\n';
  }
  PrintEraseArea(out, check);

  const auto padding = GroupBlocks<std::size_t>(check, [](const BlockCheck& block) { return block.padding_after; });
  std::size_t padding_bytes = 0;
  std::string padding_groups;
  for (const auto& [bytes, numbers] : padding) {
    padding_bytes += bytes * numbers.size();
    padding_groups += (padding_groups.empty() ? "" : "; ") + std::to_string(bytes) + " after " + BlockNumbers(numbers);
  }
  out << "padding:        "
      << (padding.empty()
              ? std::string("none between the code blocks")
              : std::to_string(padding_bytes) + " bytes of FF between the code blocks (" + padding_groups + ")")
      << '\n';
  if (check.code_end) {
    const std::string after = NamedAndPadding(check, *check.code_end, check.file_size);
    out << "after the blocks: " << (after.empty() ? std::string("nothing") : after) << '\n';
  }
  const auto other_fields =
      GroupBlocks<std::string>(check, [](const BlockCheck& block) { return block.other_type_field; });
  if (!other_fields.empty()) {
    out << "header bytes the profile does not give:";
    for (std::size_t i = 0; i < other_fields.size(); ++i) {
      out << (i == 0 ? " " : "; ") << SpacedHex(other_fields[i].first) << " in "
          << BlockNumbers(other_fields[i].second);
    }
    out << '\n';
  }
  PrintPartitionStart(out, check);

  if (check.AllRight()) {
    out << "headers:        all " << check.blocks.size()
        << " right (signature, check value, checksum, length, address chain)\n";
    if (!check.named.empty()) {
      out << "named headers:  all " << check.named.size()
          << " right (the checksum; their check values are not checked: the algorithm is not known)\n";
    }
  } else {
    out << "headers:        wrong ones follow\n";
    PrintProblems(out, check);
  }
}

}  // namespace larkspur
