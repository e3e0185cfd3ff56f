#include "tools/larkspur-cli/firmware_report.h"

#include <algorithm>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/run_reports.h"
#include "base/hex.h"
#include "format/table_of_contents.h"

namespace larkspur {
namespace {

// A line of the report, said in the language in force.
void PrintLine(std::ostream& out, const Text& line) { out << SayText(line) << '\n'; }

// "named block 1 (CERT)": its number and description, printable.
Text NamedBlockName(const NamedBlockCheck& named) {
  const std::string index = std::to_string(named.index);
  if (named.block.description.empty()) return Text("命名块 %1", {index});
  std::string description;
  for (const char c : named.block.description) {
    description += static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F ? '?' : c;
  }
  return Text("命名块 %1 (%2)", {index, description});
}

// "block 4", "blocks 0-2, 5": block numbers in rising order, runs joined.
Text BlockNumbers(const std::vector<std::size_t>& numbers) {
  std::string text;
  for (std::size_t i = 0; i < numbers.size();) {
    std::size_t last = i;
    while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
    if (i > 0) text += ", ";
    text += std::to_string(numbers[i]);
    if (last > i) text += "-" + std::to_string(numbers[last]);
    i = last + 1;
  }
  return Text("块 %2", {std::to_string(numbers.size()), text});
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
// and FF padding alone, in file order; nothing when the stretch is empty.
std::vector<Text> NamedAndPadding(const FirmwareCheck& check, std::size_t from, std::size_t to) {
  std::vector<Text> pieces;
  const auto padding = [&](std::size_t bytes) { pieces.push_back(Text("%1 字节的 FF", {std::to_string(bytes)})); };
  std::size_t at = from;
  for (const NamedBlockCheck& named : check.named) {
    const NamedBlock& block = named.block;
    if (block.header_offset < from || block.header_offset >= to) continue;
    if (block.header_offset > at) padding(block.header_offset - at);
    pieces.push_back(NamedBlockName(named));
    at = block.header_offset + static_cast<std::size_t>(block.header_size) + block.payload_length;
  }
  if (to > at) padding(to - at);
  return pieces;
}

void PrintTableOfContents(std::ostream& out, const FirmwareCheck& check) {
  // The reader's reason is a detail of the bytes (an offset, a tag): it is
  // quoted as it is.
  if (!check.toc_problem.empty()) PrintLine(out, Text("目录表:         未读取: %1", {check.toc_problem}));
  if (!check.toc) return;
  PrintLine(out, Text("目录表:         %1 字节, %2 项",
                {std::to_string(check.toc->end()), std::to_string(check.toc->entries.size())}));
  for (Text& line : DescribeTableOfContents(*check.toc)) PrintLine(out, Text("  %1", {std::move(line)}));
}

void PrintNamedBlocks(std::ostream& out, const FirmwareCheck& check) {
  if (check.named.empty()) return;
  PrintLine(out, Text("命名块:         %1", {std::to_string(check.named.size())}));
  for (const NamedBlockCheck& named : check.named) {
    const NamedBlock& block = named.block;
    const Text what = block.header_size == 0
                          ? Text("块头被截断")
                          : Text("%1 字节的块头, 载荷 %2 字节, 地址 %3",
                                 {std::to_string(block.header_size), HexNumber(block.payload_length),
                                  HexNumber(block.address, 8)});
    PrintLine(out, Text("  %1: %2, 位于文件偏移 %3", {NamedBlockName(named), what, HexNumber(block.header_offset, 8)}));
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
  const std::optional<EraseBudget> budget = EraseBudgetOf(areas, start, length);
  Text area;
  if (areas.empty()) {
    area = Text("目录表中没有擦除区");
  } else if (!budget) {
    area = Text("表中没有一个包含载荷的起点 %1", {HexNumber(start, 8)});
  } else {
    area = Text("%1-%2 包含载荷 %3-%4, %5",
                {HexNumber(budget->area.start, 8), HexNumber(budget->area.end, 8), HexNumber(start, 8),
                 HexNumber((budget->payload_end - (length != 0 ? 1 : 0)) & 0xFFFFFFFF, 8),
                 budget->free >= 0 ? Text("%1 字节空闲", {std::to_string(budget->free)})
                                   : Text("超出 %1 字节", {std::to_string(-budget->free)})});
  }
  PrintLine(out, Text("擦除区:         %1", {area}));
}

// Where the partition starts in the payloads laid end to end, as Extract
// takes it.
void PrintPartitionStart(std::ostream& out, const FirmwareCheck& check) {
  if (check.kind == PartitionKind::kRofs) {
    Text where;
    if (!check.magic_offset) {
      where = Text("在载荷中没有找到");
    } else {
      const std::size_t lead = *check.magic_offset;
      where = Text("在载荷的偏移 %1 处%2",
                   {HexNumber(lead, 8),
                    lead == 0                      ? Text(", 前面没有任何字节")
                    : check.leading_zeros >= lead ? Text("; 前面的字节: 全是零 (%1 字节)", {std::to_string(lead)})
                                                   : Text("; 前面的字节: 不全是零 (%1 字节, 开头是 %2)",
                                                          {std::to_string(lead),
                                                           SpacedHex(std::string_view(check.payload_lead).substr(0, lead))})});
    }
    PrintLine(out, Text("ROFS 头:        %1", {where}));
    return;
  }
  Text volume;
  if (check.boot_sector_offset) {
    const std::size_t at = *check.boot_sector_offset;
    volume = Text("引导扇区在载荷的偏移 %1 处%2",
                  {HexNumber(at, 8), at != 0 ? Text(", 前面有 %1 个零字节", {std::to_string(at)}) : Text("")});
  } else if (check.magic_offset) {
    volume = Text("载荷开头没有 FAT 引导扇区; 解包时取第一个 E9 00 90, 在偏移 %1 处", {HexNumber(*check.magic_offset, 8)});
  } else {
    volume = Text("载荷开头没有 FAT 引导扇区, 载荷中也没有 E9 00 90");
  }
  PrintLine(out, Text("FAT 卷:         %1", {volume}));
}

}  // namespace

void PrintProblems(std::ostream& out, const FirmwareCheck& check) {
  for (const Text& problem : check.problems) PrintLine(out, problem);
  // Code and named blocks in file order.
  std::vector<std::pair<std::size_t, Text>> lines;
  for (const BlockCheck& block : check.blocks) {
    const Text name("文件偏移 %2 处的块 %1", {std::to_string(block.index), HexNumber(block.header_offset, 8)});
    for (const Text& problem : block.problems) lines.emplace_back(block.header_offset, Text("%1: %2", {name, problem}));
  }
  for (const NamedBlockCheck& named : check.named) {
    const Text name("文件偏移 %2 处的%1", {NamedBlockName(named), HexNumber(named.block.header_offset, 8)});
    for (const Text& problem : named.problems) {
      lines.emplace_back(named.block.header_offset, Text("%1: %2", {name, problem}));
    }
  }
  std::stable_sort(lines.begin(), lines.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  for (const auto& [offset, line] : lines) PrintLine(out, line);
}

void PrintInfo(std::ostream& out, const FirmwareCheck& check) {
  PrintLine(out, Text("类型:           %1", {std::string(KindName(check.kind))}));
  PrintLine(out, Text("大小:           %1 字节", {std::to_string(check.file_size)}));
  PrintLine(out, Text("块头布局:       %1 字节的块头, 块长度 %2",
                {std::to_string(check.header_size), HexNumber(check.block_size)}));
  PrintTableOfContents(out, check);
  if (!check.prefix_length) {
    PrintNamedBlocks(out, check);
    PrintProblems(out, check);
    return;
  }
  const std::string prefix = std::to_string(*check.prefix_length);
  if (check.prefix_walked && check.toc) {
    std::vector<Text> pieces = {Text("目录表 (%1 字节)", {std::to_string(check.toc->end())})};
    for (Text& piece : NamedAndPadding(check, check.toc->end(), *check.prefix_length)) pieces.push_back(std::move(piece));
    PrintLine(out, Text("前缀:           %1 字节: %2", {prefix, JoinedTexts(std::move(pieces))}));
  } else {
    PrintLine(out, Text("前缀:           %1 字节", {prefix}));
  }
  PrintNamedBlocks(out, check);
  if (!check.blocks.empty()) {
    const BlockCheck& first = check.blocks.front();
    const BlockCheck& last = check.blocks.back();
    PrintLine(out, Text("起始地址:       %1", {HexNumber(first.address, 8)}));
    PrintLine(out, Text("块:             %1", {std::to_string(check.blocks.size())}));
    PrintLine(out, Text("加载地址:       %1 .. %2", {HexNumber(first.address, 8), HexNumber(last.address, 8)}));
    // The layout: runs of equal payload lengths.
    std::map<std::uint32_t, std::size_t> lengths;
    for (const BlockCheck& block : check.blocks) ++lengths[block.payload_length];
    std::string runs;
    for (const auto& [length, count] : lengths) runs += " " + std::to_string(count) + " x " + HexNumber(length);
    PrintLine(out, Text("载荷长度:      %1", {runs}));
  }
  PrintEraseArea(out, check);

  const auto padding = GroupBlocks<std::size_t>(check, [](const BlockCheck& block) { return block.padding_after; });
  std::size_t padding_bytes = 0;
  std::vector<Text> groups;
  for (const auto& [bytes, numbers] : padding) {
    padding_bytes += bytes * numbers.size();
    groups.push_back(Text("%2 之后 %1 字节", {std::to_string(bytes), BlockNumbers(numbers)}));
  }
  PrintLine(out, Text("填充:           %1", {padding.empty() ? Text("代码块之间没有")
                                                       : Text("代码块之间有 %1 字节的 FF (%2)",
                                                              {std::to_string(padding_bytes), JoinedTexts(std::move(groups), "; ")})}));
  if (check.code_end) {
    std::vector<Text> after = NamedAndPadding(check, *check.code_end, check.file_size);
    PrintLine(out, Text("块之后:         %1", {after.empty() ? Text("什么也没有") : JoinedTexts(std::move(after))}));
  }
  const auto other_fields =
      GroupBlocks<std::string>(check, [](const BlockCheck& block) { return block.other_type_field; });
  if (!other_fields.empty()) {
    std::vector<Text> fields;
    for (const auto& [field, numbers] : other_fields) {
      fields.push_back(Text("%2 中的 %1", {SpacedHex(field), BlockNumbers(numbers)}));
    }
    PrintLine(out, Text("配置文件之外的块头字节: %1", {JoinedTexts(std::move(fields), "; ")}));
  }
  PrintPartitionStart(out, check);

  if (check.AllRight()) {
    PrintLine(out, Text("块头:           全部 %1 个正确 (标识, 校验值, 校验和, 长度, 地址链)",
                  {std::to_string(check.blocks.size())}));
    if (!check.named.empty()) {
      PrintLine(out, Text("命名块头:       全部 %1 个正确 (校验和; 它们的校验值没有检查: 算法未知)",
                    {std::to_string(check.named.size())}));
    }
  } else {
    PrintLine(out, Text("块头:           下面是有错误的"));
    PrintProblems(out, check);
  }
}

}  // namespace larkspur
