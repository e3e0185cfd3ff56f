#include "diff/diff_json.h"

#include "base/hex.h"

namespace larkspur::diff {
namespace {

std::string Number(std::uint64_t value) { return std::to_string(value); }

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

std::string JsonValue(const std::optional<std::string>& value) { return value ? JsonString(*value) : "null"; }

std::string JsonFields(const std::vector<FieldDifference>& fields) {
  std::string json = "[";
  for (std::size_t i = 0; i < fields.size(); ++i) {
    std::string at = "[";
    for (std::size_t j = 0; j < fields[i].at.size(); ++j) at += (j == 0 ? "" : ", ") + JsonString(fields[i].at[j]);
    json += std::string(i == 0 ? "" : ", ") + "{\"field\": " + JsonString(FieldName(fields[i].field)) +
            ", \"at\": " + at + "], \"old\": " + JsonValue(fields[i].old_value) +
            ", \"new\": " + JsonValue(fields[i].new_value) + "}";
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

std::string DiffJson(const FirmwareDifference& difference, const std::string& old_path, const std::string& new_path) {
  const EntryCounts counts = CountEntries(difference);
  std::string json = "{\n";
  json += "  \"old\": " + JsonString(old_path) + ",\n";
  json += "  \"new\": " + JsonString(new_path) + ",\n";
  json += "  \"kind\": " + JsonString(KindName(difference.kind)) + ",\n";
  json += "  \"model\": " + Number(static_cast<std::uint64_t>(difference.model)) + ",\n";
  json += "  \"same\": " + Bool(difference.same()) + ",\n";
  json += "  \"summary\": {\"files_added\": " + Number(counts.files_added) +
          ", \"files_changed\": " + Number(counts.files_changed) +
          ", \"files_removed\": " + Number(counts.files_removed) +
          ", \"folders_added\": " + Number(counts.folders_added) +
          ", \"folders_changed\": " + Number(counts.folders_changed) +
          ", \"folders_removed\": " + Number(counts.folders_removed) +
          ", \"blocks_differ\": " + Number(difference.differing_blocks) + "},\n";
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
            ", \"content_changed\": " + Bool(entry.content_changed) + ", \"fields\": " + JsonFields(entry.fields) + "}";
  }
  json += difference.entries.empty() ? "],\n" : "\n  ],\n";
  json += "  \"partition\": " + JsonFields(difference.partition) + ",\n";
  json += "  \"outside\": " + JsonFields(difference.outside) + ",\n";
  json += "  \"blocks\": {\"old\": " + Number(difference.old_blocks) + ", \"new\": " + Number(difference.new_blocks) +
          ", \"differ\": " + Number(difference.differing_blocks) + ", \"ranges\": [";
  for (std::size_t i = 0; i < difference.block_ranges.size(); ++i) {
    const BlockRange& range = difference.block_ranges[i];
    json += std::string(i == 0 ? "" : ", ") + "{\"first\": " + Number(range.first) +
            ", \"last\": " + Number(range.last) + ", \"first_address\": " + Number(range.first_address) +
            ", \"last_address\": " + Number(range.last_address) + "}";
  }
  json += "]}\n}\n";
  return json;
}

std::string ErrorJson(const std::string& reason) { return "{\"error\": " + JsonString(reason) + "}\n"; }

}  // namespace larkspur::diff
