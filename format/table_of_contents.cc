#include "format/table_of_contents.h"

#include <cstdio>

#include "base/byte_order.h"
#include "base/hex.h"

namespace larkspur {
namespace {

// Entries nest only as deep as arrays inside arrays; a table that goes
// deeper is damaged, and the limit keeps the parse's stack small.
constexpr int kMaxArrayDepth = 8;

bool HasTwoByteLength(std::uint8_t tag) {
  return tag == 0xE4 || tag == 0xE5 || tag == 0xEA || tag == 0xEE || tag == 0xF3;
}

std::string At(std::size_t offset) { return "table of contents at " + HexNumber(offset, 8) + ": "; }

// Reads `count` entries from `offset` up to `end`; the problem when they do
// not fit.
std::string ReadEntries(std::string_view file, std::size_t offset, std::size_t end, std::uint64_t count, int depth,
                        std::vector<TocEntry>& entries, std::size_t& entries_end) {
  for (std::uint64_t i = 0; i < count; ++i) {
    // Every entry takes at least two bytes: a count larger than the table
    // could hold is damaged, whatever memory it would ask for.
    if (offset >= end) {
      return At(offset) + "entry " + std::to_string(i + 1) + " of " + std::to_string(count) +
             " would start past the table's end " + HexNumber(end, 8);
    }
    TocEntry entry;
    entry.offset = offset;
    entry.tag = static_cast<std::uint8_t>(file[offset]);
    const std::size_t length_bytes = HasTwoByteLength(entry.tag) ? 2 : 1;
    if (length_bytes > end - offset - 1) {
      return At(offset) + "entry " + std::to_string(i + 1) + " (tag " + HexDigits(entry.tag, 2) +
             ") has no room for its length before the table's end " + HexNumber(end, 8);
    }
    const std::size_t length =
        length_bytes == 2
            ? (static_cast<std::uint8_t>(file[offset + 1]) << 8 | static_cast<std::uint8_t>(file[offset + 2]))
            : static_cast<std::uint8_t>(file[offset + 1]);
    entry.value_offset = offset + 1 + length_bytes;
    if (length > end - entry.value_offset) {
      return At(offset) + "entry " + std::to_string(i + 1) + " (tag " + HexDigits(entry.tag, 2) + ", " +
             std::to_string(length) + " bytes) runs past the table's end " + HexNumber(end, 8);
    }
    entry.value = std::string(file.substr(entry.value_offset, length));
    if (entry.tag == kArrayTag) {
      if (depth >= kMaxArrayDepth) return At(offset) + "arrays nest deeper than " + std::to_string(kMaxArrayDepth);
      if (length == 0) return At(offset) + "an array (tag EE) without its count byte";
      std::size_t items_end = 0;
      const std::string problem =
          ReadEntries(file, entry.value_offset + 1, entry.value_offset + length,
                      static_cast<std::uint8_t>(file[entry.value_offset]), depth + 1, entry.items, items_end);
      if (!problem.empty()) return problem;
    }
    offset = entry.value_offset + length;
    entries.push_back(std::move(entry));
  }
  entries_end = offset;
  return "";
}

void CollectEraseAreas(const std::vector<TocEntry>& entries, std::vector<EraseArea>& areas) {
  for (const TocEntry& entry : entries) {
    if (entry.tag == kEraseAreaTag && entry.value.size() >= 3 && (entry.value.size() - 3) % 8 == 0) {
      for (std::size_t at = 3; at < entry.value.size(); at += 8) {
        areas.push_back(
            {ReadBigEndian32(entry.value, at), ReadBigEndian32(entry.value, at + 4), entry.value_offset + at + 4});
      }
    }
    CollectEraseAreas(entry.items, areas);
  }
}

// "2011-03-13 07:06:40 UTC" for seconds since 1970.
std::string UtcDate(std::uint32_t seconds) {
  const std::int64_t days = seconds / 86400;
  const std::int64_t rest = seconds % 86400;
  // Days to a civil date (proleptic Gregorian), from the year 0 of March.
  const std::int64_t z = days + 719468;
  const std::int64_t era = z / 146097;
  const std::int64_t doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const std::int64_t mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  char text[40];
  std::snprintf(text, sizeof text, "%04lld-%02lld-%02lld %02lld:%02lld:%02lld UTC", static_cast<long long>(year),
                static_cast<long long>(month), static_cast<long long>(day), static_cast<long long>(rest / 3600),
                static_cast<long long>(rest / 60 % 60), static_cast<long long>(rest % 60));
  return text;
}

void DescribeEntries(const std::vector<TocEntry>& entries, const std::string& indent, std::vector<Text>& lines) {
  for (const TocEntry& entry : entries) {
    // The line is indent, the tag's name and the value; only the names
    // and a few words of the values are said in the language in force.
    Text value;
    if (entry.tag == kEraseAreaTag && entry.value.size() >= 3 && (entry.value.size() - 3) % 8 == 0) {
      static constexpr const char* kDevices[] = {"NOR", "NAND", nullptr, "MuxOneNAND", "MMC", "RAM"};
      const auto device = static_cast<std::uint8_t>(entry.value[1]);
      std::string areas;
      for (std::size_t at = 3; at < entry.value.size(); at += 8) {
        areas += " " + HexNumber(ReadBigEndian32(entry.value, at), 8) + "-" +
                 HexNumber(ReadBigEndian32(entry.value, at + 4), 8);
      }
      value = Text("%1%2", {device < std::size(kDevices) && kDevices[device] != nullptr
                                ? Text(std::string(kDevices[device]))
                                : Text("设备 %1", {std::to_string(device)}),
                            areas});
    } else if (entry.tag == kDateTag && entry.value.size() == 4) {
      value = Text(UtcDate(ReadBigEndian32(entry.value, 0)));
    } else if (entry.tag == kDescriptionTag) {
      std::string text;
      for (const char c : entry.value) {
        if (c == '\0') {
          text += text.empty() || text.back() == ' ' ? "" : " | ";
        } else {
          text += (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7F) ? '?' : c;
        }
      }
      while (text.ends_with(" | ")) text.resize(text.size() - 3);
      value = Text(text);
    } else if (entry.tag == kArrayTag) {
      value = Text("%1 项", {std::to_string(entry.items.size())});
    } else {
      value = entry.value.empty() ? Text("(空)") : Text(SpacedHex(entry.value));
    }
    lines.push_back(Text("%1%2: %3", {indent, TocTagName(entry.tag), value}));
    DescribeEntries(entry.items, indent + "  ", lines);
  }
}

}  // namespace

TocReading ReadTableOfContents(std::string_view file) {
  TocReading reading;
  if (file.empty() || static_cast<std::uint8_t>(file[0]) != kTocMarker) return reading;
  if (file.size() < 9) {
    reading.problem = At(0) + "the file ends inside the table's header (" + std::to_string(file.size()) + " bytes)";
    return reading;
  }
  TableOfContents toc;
  toc.header_length = ReadBigEndian32(file, 1);
  toc.count = ReadBigEndian32(file, 5);
  if (toc.header_length < 4 || toc.end() > file.size()) {
    reading.problem = At(1) + "header length " + HexNumber(toc.header_length) + " does not fit the file (" +
                      HexNumber(file.size()) + " bytes)";
    return reading;
  }
  std::size_t entries_end = 0;
  reading.problem = ReadEntries(file, 9, toc.end(), toc.count, 0, toc.entries, entries_end);
  if (reading.problem.empty()) reading.toc = std::move(toc);
  return reading;
}

std::vector<EraseArea> EraseAreasOf(const TableOfContents& toc) {
  std::vector<EraseArea> areas;
  CollectEraseAreas(toc.entries, areas);
  return areas;
}

std::optional<EraseArea> AreaCovering(const std::vector<EraseArea>& areas, std::uint32_t address) {
  for (const EraseArea& area : areas) {
    if (area.start <= address && address <= area.end) return area;
  }
  return std::nullopt;
}

std::optional<EraseBudget> EraseBudgetOf(const std::vector<EraseArea>& areas, std::uint32_t start,
                                         std::uint64_t length) {
  const std::optional<EraseArea> area = AreaCovering(areas, start);
  if (!area) return std::nullopt;
  const std::uint64_t payload_end = std::uint64_t{start} + length;
  return EraseBudget{*area, payload_end,
                     static_cast<std::int64_t>(std::uint64_t{area->end} + 1) - static_cast<std::int64_t>(payload_end)};
}

std::optional<std::uint32_t> ExtendedAreaEnd(const std::vector<EraseArea>& areas, const EraseArea& area,
                                             std::uint64_t payload_end) {
  const std::uint64_t end_plus_one = std::uint64_t{area.end} + 1;
  // The finest alignment the area's start and end share: the erase-block
  // granularity the table itself uses. A coarser one (a start at 0x01000000
  // is aligned to 16 MiB) would move the end megabytes further than the
  // payload needs, into flash the table may not list.
  const std::uint64_t both = std::uint64_t{area.start} | end_plus_one;
  std::uint64_t alignment = both & (~both + 1);
  if (alignment == 0) alignment = 1;
  const std::uint64_t new_end_plus_one = (payload_end + alignment - 1) / alignment * alignment;
  if (new_end_plus_one == 0 || new_end_plus_one - 1 > 0xFFFFFFFF) return std::nullopt;
  const std::uint64_t new_end = new_end_plus_one - 1;
  for (const EraseArea& other : areas) {
    if (other == area) continue;
    // The grown area must not reach into another.
    if (other.start <= new_end && other.end >= area.start) return std::nullopt;
  }
  return static_cast<std::uint32_t>(new_end);
}

Text TocTagName(std::uint8_t tag) {
  switch (tag) {
    case 0x12:
      return Text("擦除区");
    case 0x2F:
      return Text("分区信息");
    case 0x19:
      return Text("格式化分区");
    case 0xC2:
      return Text("%1 类型", {std::string("CMT")});
    case 0xC3:
      return Text("%1 算法", {std::string("CMT")});
    case 0xE7:
      return Text("%1 手机类型", {std::string("APE")});
    case 0xE8:
      return Text("%1 算法", {std::string("APE")});
    case 0xE6:
      return Text("日期");
    case 0xF4:
      return Text("描述");
    case 0xEE:
      return Text("数组");
    default:
      return Text("标签 %1", {HexDigits(tag, 2)});
  }
}

std::vector<Text> DescribeTableOfContents(const TableOfContents& toc) {
  std::vector<Text> lines;
  DescribeEntries(toc.entries, "", lines);
  return lines;
}

}  // namespace larkspur
