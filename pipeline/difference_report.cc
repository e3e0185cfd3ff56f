#include "pipeline/difference_report.h"

#include <algorithm>
#include <exception>

#include "base/hex.h"
#include "diff/diff_json.h"

namespace larkspur::pipeline {
namespace {

using diff::EntryDifference;
using diff::EntryStatus;
using diff::Field;
using diff::FieldDifference;
using diff::FirmwareDifference;

constexpr std::size_t kRepackEntryLines = 20;

std::string Number(std::uint64_t value) { return std::to_string(value); }

// The field's name for people: a text of the catalog, with what says which
// one (`at`) as its values.
const char* FieldKey(Field field) {
  switch (field) {
    case Field::kAttributes:
      return "属性";
    case Field::kExtraAttributes:
      return "扩展属性";
    case Field::kUids:
      return "唯一标识符";
    case Field::kTime:
      return "修改时间";
    case Field::kShortName:
      return "短文件名";
    case Field::kPartitionStart:
      return "分区起点 (载荷偏移)";
    case Field::kBytesBeforePartition:
      return "分区前面的字节 (长度, CRC-32)";
    case Field::kRofsTime:
      return "ROFS 时间";
    case Field::kRofsVersion:
      return "ROFS 版本";
    case Field::kRofsMaximumSize:
      return "ROFS 最大大小";
    case Field::kRofsImageSize:
      return "ROFS 映像大小 (字节)";
    case Field::kVolumeLabel:
      return "卷标";
    case Field::kSerial:
      return "卷序列号";
    case Field::kOemName:
      return "厂商名称";
    case Field::kBytesPerSector:
      return "每扇区字节数";
    case Field::kSectorsPerCluster:
      return "每簇扇区数";
    case Field::kReservedSectors:
      return "保留扇区数";
    case Field::kFatCount:
      return "FAT 个数";
    case Field::kRootEntries:
      return "根目录项数";
    case Field::kTotalSectors:
      return "总扇区数";
    case Field::kMedia:
      return "介质描述符";
    case Field::kSectorsPerFat:
      return "每个 FAT 的扇区数";
    case Field::kHiddenSectors:
      return "隐藏扇区数";
    case Field::kFatCopiesAgree:
      return "各份 FAT 一致";
    case Field::kStartAddress:
      return "起始地址";
    case Field::kTableOfContents:
      return "目录表 (长度, 项数, CRC-32)";
    case Field::kTableOfContentsLine:
      return "目录表第 %1 行";
    case Field::kNamedBlock:
      return "命名块 %1 (描述, 载荷长度)";
    case Field::kNamedBlockDescription:
      return "命名块 %1 的描述";
    case Field::kNamedBlockLength:
      return "命名块 %1 (%2) 的载荷长度";
    case Field::kNamedBlockAddress:
      return "命名块 %1 (%2) 的地址";
    case Field::kNamedBlockHeader:
      return "命名块 %1 (%2) 的块头, 从 %3 起";
    case Field::kNamedBlockPayload:
      return "命名块 %1 (%2) 的载荷 (长度, CRC-32)";
    case Field::kPrefix:
      return "前缀 (长度, CRC-32)";
    case Field::kTypeField:
      return "类型字段 (块 %1)";
    case Field::kPaddingAfterBlock:
      return "块 %1 之后的 FF 填充 (字节)";
    case Field::kAfterTheBlocks:
      return "最后一块之后的字节 (长度, CRC-32)";
    case Field::kFirstDifferingByte:
      return "第一个不同的字节, 文件偏移 %1";
  }
  return "";
}

Text FieldText(const FieldDifference& difference) {
  Text text(FieldKey(difference.field), {});
  for (const std::string& at : difference.at) text.values.emplace_back(at);
  return text;
}

// A value: as it is (numbers, hexadecimal, names: the same in every
// language), but a field a file lacks, and the yes or no of a field that
// is one, in words.
Text ValueText(const FieldDifference& difference, const std::optional<std::string>& value) {
  if (!value) return Text("无");
  if (difference.field == Field::kFatCopiesAgree) return Text(*value == "true" ? "是" : "否");
  return Text(*value);
}

// "属性: 0x01 -> 0x21": no words of its own.
Text ChangeText(const FieldDifference& difference) {
  if (difference.old_line || difference.new_line) {
    return Text("%1: %2 -> %3", {FieldText(difference), difference.old_line.value_or(Text("无")),
                                 difference.new_line.value_or(Text("无"))});
  }
  return Text("%1: %2 -> %3", {FieldText(difference), ValueText(difference, difference.old_value),
                               ValueText(difference, difference.new_value)});
}

// What changed in an entry, the parts joined by "; ".
Text EntryChangeText(const EntryDifference& entry) {
  std::vector<Text> parts;
  if (entry.old_hidden != entry.new_hidden) {
    parts.push_back(Text(entry.new_hidden ? "文件变为隐藏项" : "隐藏项变为文件"));
  }
  if (entry.content_changed) {
    parts.push_back(entry.old_size == entry.new_size
                        ? Text("内容不同, 大小同为 %1", {Number(entry.new_size)})
                        : Text("内容不同, 大小 %1 -> %2", {Number(entry.old_size), Number(entry.new_size)}));
  }
  for (const FieldDifference& field : entry.fields) parts.push_back(ChangeText(field));
  if (parts.empty()) return Text(std::string());
  Text joined = parts.front();
  for (std::size_t i = 1; i < parts.size(); ++i) joined = Text("%1; %2", {joined, parts[i]});
  return joined;
}

Text EntryLine(const EntryDifference& entry) {
  switch (entry.status) {
    case EntryStatus::kAdded:
      if (entry.folder) return Text("  新增文件夹 %1", {entry.path});
      if (entry.new_hidden) return Text("  新增 %1 (隐藏项)", {entry.path});
      return Text("  新增 %1 (%2 字节)", {entry.path, Number(entry.new_size)});
    case EntryStatus::kRemoved:
      if (entry.folder) return Text("  删除文件夹 %1", {entry.path});
      if (entry.old_hidden) return Text("  删除 %1 (隐藏项)", {entry.path});
      return Text("  删除 %1 (%2 字节)", {entry.path, Number(entry.old_size)});
    case EntryStatus::kChanged:
      break;
  }
  return Text(entry.folder ? "  修改文件夹 %1 (%2)" : "  修改 %1 (%2)", {entry.path, EntryChangeText(entry)});
}

std::string Blocks(const diff::BlockRange& range) {
  return range.first == range.last ? Number(range.first) : Number(range.first) + "-" + Number(range.last);
}

}  // namespace

std::vector<Text> SummaryLines(const FirmwareDifference& difference, std::size_t max_entry_lines) {
  std::vector<Text> lines;
  const std::string blocks = Number(std::max(difference.old_blocks, difference.new_blocks));
  const std::string differing = Number(difference.differing_blocks);
  if (!difference.partition_problem.empty()) {
    lines.push_back(
        Text("无法比较分区中的文件 (%1); %2 个块中有 %3 个不同.", {difference.partition_problem, blocks, differing}));
    return lines;
  }
  const diff::EntryCounts counts = diff::CountEntries(difference);
  lines.push_back(Text(
      "新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.",
      {Number(counts.files_added), Number(counts.files_changed), Number(counts.files_removed), blocks, differing}));
  // Half the files or half their bytes gone is seldom what was meant (a
  // tree emptied by mistake still packs into a file that flashes).
  const bool files_halved = difference.new_files * 2 < difference.old_files;
  const bool bytes_halved = difference.new_file_bytes * 2 < difference.old_file_bytes;
  if (files_halved || bytes_halved) {
    lines.push_back(
        Text("警告: 新文件只剩原文件不到一半的文件或字节 (剩下 %2 个文件中的 %1 个, %4 字节中的 %3 字节), "
             "请确认这是你想要的.",
             {Number(difference.new_files), Number(difference.old_files), Number(difference.new_file_bytes),
              Number(difference.old_file_bytes)}));
  }
  const std::size_t shown = std::min(max_entry_lines, difference.entries.size());
  for (std::size_t i = 0; i < shown; ++i) lines.push_back(EntryLine(difference.entries[i]));
  if (shown < difference.entries.size()) {
    lines.push_back(Text("  ……还有 %1 项", {Number(difference.entries.size() - shown)}));
  }
  return lines;
}

std::vector<Text> ReportLines(const FirmwareDifference& difference) {
  if (difference.same()) return {Text("两个文件完全相同 (同一个固件, 逐字节一致).")};
  std::vector<Text> lines = SummaryLines(difference, difference.entries.size());
  for (const FieldDifference& field : difference.partition) lines.push_back(Text("  分区: %1", {ChangeText(field)}));
  for (const FieldDifference& field : difference.outside) {
    lines.push_back(Text("  载荷之外: %1", {ChangeText(field)}));
  }
  for (const diff::BlockRange& range : difference.block_ranges) {
    lines.push_back(Text("  不同的块: %1 (地址 %2-%3)",
                         {Blocks(range), HexNumber(range.first_address, 8), HexNumber(range.last_address, 8)}));
  }
  return lines;
}

std::vector<Text> RepackSummary(const std::string& input_path, const std::string& output_path, const std::string& name,
                                PartitionKind kind, int model) {
  std::vector<Text> lines = {Text("REB-%1 与输入文件相比:", {name})};
  try {
    const FirmwareDifference difference = diff::CompareFirmwareFiles(input_path, output_path, kind, model);
    const std::vector<Text> summary = SummaryLines(difference, kRepackEntryLines);
    lines.insert(lines.end(), summary.begin(), summary.end());
  } catch (const std::exception& error) {
    // The REB- file stands whatever the comparison meets: it was checked
    // as it was written.
    lines.push_back(Text("  无法比较 (%1).", {std::string(error.what())}));
  }
  return lines;
}

}  // namespace larkspur::pipeline
