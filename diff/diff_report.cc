#include "diff/diff_report.h"

#include <algorithm>
#include <exception>

#include "base/hex.h"

namespace larkspur::diff {
namespace {

constexpr std::size_t kRepackEntryLines = 20;

std::string Number(std::uint64_t value) { return std::to_string(value); }

// "content, 100 -> 120 bytes; attributes 0x01 -> 0x21"
std::string ChangeText(const EntryDifference& entry) {
  std::string text;
  if (entry.content_changed) {
    text = entry.old_size == entry.new_size
               ? "content, " + Number(entry.new_size) + " bytes"
               : "content, " + Number(entry.old_size) + " -> " + Number(entry.new_size) + " bytes";
  }
  for (const FieldDifference& field : entry.fields) {
    text += (text.empty() ? "" : "; ") + field.field + " " + field.old_value + " -> " + field.new_value;
  }
  return text;
}

DiffLine EntryLine(const EntryDifference& entry) {
  switch (entry.status) {
    case EntryStatus::kAdded:
      if (entry.folder) return {"  新增文件夹 %1", {entry.path}};
      if (entry.new_hidden) return {"  新增 %1 (隐藏项)", {entry.path}};
      return {"  新增 %1 (%2 字节)", {entry.path, Number(entry.new_size)}};
    case EntryStatus::kRemoved:
      if (entry.folder) return {"  删除文件夹 %1", {entry.path}};
      if (entry.old_hidden) return {"  删除 %1 (隐藏项)", {entry.path}};
      return {"  删除 %1 (%2 字节)", {entry.path, Number(entry.old_size)}};
    case EntryStatus::kChanged:
      break;
  }
  return {entry.folder ? "  修改文件夹 %1 (%2)" : "  修改 %1 (%2)", {entry.path, ChangeText(entry)}};
}

std::string Blocks(const BlockRange& range) {
  return range.first == range.last ? Number(range.first) : Number(range.first) + "-" + Number(range.last);
}

// A string as JSON: quoted, with quotes, backslashes and control
// characters escaped. The texts are UTF-8 (names read lossily), which JSON
// carries as it is.
std::string JsonString(const std::string& text) {
  std::string json = "\"";
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      json += '\\';
      json += c;
    } else if (byte < 0x20) {
      json += "\\u00" + LowerHexDigits(byte, 2);
    } else {
      json += c;
    }
  }
  return json + "\"";
}

std::string JsonFields(const std::vector<FieldDifference>& fields) {
  std::string json = "[";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    json += std::string(i == 0 ? "" : ", ") + "{\"field\": " + JsonString(fields[i].field) +
            ", \"old\": " + JsonString(fields[i].old_value) + ", \"new\": " + JsonString(fields[i].new_value) + "}";
  }
  return json + "]";
}

const char* StatusName(EntryStatus status) {
  switch (status) {
    case EntryStatus::kAdded:
      return "added";
    case EntryStatus::kRemoved:
      return "removed";
    case EntryStatus::kChanged:
      break;
  }
  return "changed";
}

std::string Bool(bool value) { return value ? "true" : "false"; }

}  // namespace

EntryCounts CountEntries(const FirmwareDifference& difference) {
  EntryCounts counts;
  for (const EntryDifference& entry : difference.entries) {
    const bool folder = entry.folder;
    switch (entry.status) {
      case EntryStatus::kAdded:
        ++(folder ? counts.folders_added : counts.files_added);
        break;
      case EntryStatus::kRemoved:
        ++(folder ? counts.folders_removed : counts.files_removed);
        break;
      case EntryStatus::kChanged:
        ++(folder ? counts.folders_changed : counts.files_changed);
        break;
    }
  }
  return counts;
}

std::vector<DiffLine> SummaryLines(const FirmwareDifference& difference, std::size_t max_entry_lines) {
  std::vector<DiffLine> lines;
  const std::string blocks = Number(std::max(difference.old_blocks, difference.new_blocks));
  const std::string differing = Number(difference.differing_blocks);
  if (!difference.partition_problem.empty()) {
    lines.push_back({"无法比较分区中的文件 (%1); %2 个块中有 %3 个不同.", {difference.partition_problem, blocks, differing}});
    return lines;
  }
  const EntryCounts counts = CountEntries(difference);
  lines.push_back({"新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.",
                   {Number(counts.files_added), Number(counts.files_changed), Number(counts.files_removed), blocks,
                    differing}});
  // Half the files or half their bytes gone is seldom what was meant (a
  // tree emptied by mistake still packs into a file that flashes).
  const bool files_halved = difference.new_files * 2 < difference.old_files;
  const bool bytes_halved = difference.new_file_bytes * 2 < difference.old_file_bytes;
  if (files_halved || bytes_halved) {
    lines.push_back({"警告: 新文件只剩原文件不到一半的文件或字节 (%1 of %2 files, %3 of %4 bytes are left), "
                     "请确认这是你想要的.",
                     {Number(difference.new_files), Number(difference.old_files), Number(difference.new_file_bytes),
                      Number(difference.old_file_bytes)}});
  }
  const std::size_t shown = std::min(max_entry_lines, difference.entries.size());
  for (std::size_t i = 0; i < shown; ++i) lines.push_back(EntryLine(difference.entries[i]));
  if (shown < difference.entries.size()) {
    lines.push_back({"  ……还有 %1 项", {Number(difference.entries.size() - shown)}});
  }
  return lines;
}

std::vector<DiffLine> ReportLines(const FirmwareDifference& difference) {
  if (difference.same()) return {{"两个文件完全相同 (the same firmware, byte for byte).", {}}};
  std::vector<DiffLine> lines = SummaryLines(difference, difference.entries.size());
  for (const FieldDifference& field : difference.partition) {
    lines.push_back({"  分区: %1: %2 -> %3", {field.field, field.old_value, field.new_value}});
  }
  for (const FieldDifference& field : difference.outside) {
    lines.push_back({"  载荷之外: %1: %2 -> %3", {field.field, field.old_value, field.new_value}});
  }
  for (const BlockRange& range : difference.block_ranges) {
    lines.push_back({"  块 %1 不同 (地址 %2-%3)",
                     {Blocks(range), HexNumber(range.first_address, 8), HexNumber(range.last_address, 8)}});
  }
  return lines;
}

std::string DiffJson(const FirmwareDifference& difference, const std::string& old_path,
                     const std::string& new_path) {
  const EntryCounts counts = CountEntries(difference);
  std::string json = "{\n";
  json += "  \"old\": " + JsonString(old_path) + ",\n";
  json += "  \"new\": " + JsonString(new_path) + ",\n";
  json += "  \"kind\": " + JsonString(KindName(difference.kind)) + ",\n";
  json += "  \"model\": " + Number(static_cast<std::uint64_t>(difference.model)) + ",\n";
  json += "  \"same\": " + Bool(difference.same()) + ",\n";
  json += "  \"summary\": {\"files_added\": " + Number(counts.files_added) +
          ", \"files_changed\": " + Number(counts.files_changed) + ", \"files_removed\": " +
          Number(counts.files_removed) + ", \"folders_added\": " + Number(counts.folders_added) +
          ", \"folders_changed\": " + Number(counts.folders_changed) + ", \"folders_removed\": " +
          Number(counts.folders_removed) + ", \"blocks_differ\": " + Number(difference.differing_blocks) + "},\n";
  json += "  \"partition_problem\": " +
          (difference.partition_problem.empty() ? std::string("null") : JsonString(difference.partition_problem)) +
          ",\n";
  json += "  \"files\": {\"old\": " + Number(difference.old_files) + ", \"new\": " + Number(difference.new_files) +
          ", \"old_bytes\": " + Number(difference.old_file_bytes) +
          ", \"new_bytes\": " + Number(difference.new_file_bytes) + "},\n";
  json += "  \"entries\": [";
  for (std::size_t i = 0; i < difference.entries.size(); ++i) {
    const EntryDifference& entry = difference.entries[i];
    const bool added = entry.status == EntryStatus::kAdded;
    const bool removed = entry.status == EntryStatus::kRemoved;
    json += std::string(i == 0 ? "\n" : ",\n") + "    {\"path\": " + JsonString(entry.path) +
            ", \"folder\": " + Bool(entry.folder) + ", \"status\": " + JsonString(StatusName(entry.status)) +
            ", \"old_size\": " + (added || entry.folder ? "null" : Number(entry.old_size)) +
            ", \"new_size\": " + (removed || entry.folder ? "null" : Number(entry.new_size)) +
            ", \"old_hidden\": " + Bool(entry.old_hidden) + ", \"new_hidden\": " + Bool(entry.new_hidden) +
            ", \"content_changed\": " + Bool(entry.content_changed) + ", \"fields\": " + JsonFields(entry.fields) +
            "}";
  }
  json += difference.entries.empty() ? "],\n" : "\n  ],\n";
  json += "  \"partition\": " + JsonFields(difference.partition) + ",\n";
  json += "  \"outside\": " + JsonFields(difference.outside) + ",\n";
  json += "  \"blocks\": {\"old\": " + Number(difference.old_blocks) + ", \"new\": " + Number(difference.new_blocks) +
          ", \"differ\": " + Number(difference.differing_blocks) + ", \"ranges\": [";
  for (std::size_t i = 0; i < difference.block_ranges.size(); ++i) {
    const BlockRange& range = difference.block_ranges[i];
    json += std::string(i == 0 ? "" : ", ") + "{\"first\": " + Number(range.first) + ", \"last\": " +
            Number(range.last) + ", \"first_address\": " + Number(range.first_address) +
            ", \"last_address\": " + Number(range.last_address) + "}";
  }
  json += "]}\n}\n";
  return json;
}

std::string ErrorJson(const std::string& reason) { return "{\"error\": " + JsonString(reason) + "}\n"; }

std::vector<DiffLine> RepackSummary(const std::string& input_path, const std::string& output_path,
                                    const std::string& name, PartitionKind kind, int model) {
  std::vector<DiffLine> lines = {{"REB-%1 与输入文件相比:", {name}}};
  try {
    const FirmwareDifference difference = CompareFirmwareFiles(input_path, output_path, kind, model);
    const std::vector<DiffLine> summary = SummaryLines(difference, kRepackEntryLines);
    lines.insert(lines.end(), summary.begin(), summary.end());
  } catch (const std::exception& error) {
    // The REB- file stands whatever the comparison meets: it was checked
    // as it was written.
    lines.push_back({"  无法比较 (%1).", {error.what()}});
  }
  return lines;
}

}  // namespace larkspur::diff
