#include "diff/firmware_diff.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <utility>

#include "base/crc32.h"
#include "base/hex.h"
#include "base/segmented_bytes.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "fat/fat_reader.h"
#include "format/block_header.h"
#include "format/firmware_check.h"
#include "format/firmware_layout.h"
#include "format/hex_text.h"
#include "format/partition.h"
#include "format/table_of_contents.h"
#include "port/file_view.h"
#include "port/files.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_reader.h"
#include "rofs/symbian_time.h"
#include "rofs/utf16.h"

namespace larkspur::diff {
namespace {

// Bytes compared at a time: two buffers of this size are all the memory a
// comparison of file contents or payloads takes besides the mappings.
constexpr std::size_t kChunk = std::size_t{1} << 20;

// The selector's model name without its label: "N96", "5530, 5800, N97, N86".
std::string ModelName(int model) {
  const std::string text = ModelItemText(model);
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  return open == std::string::npos || close == std::string::npos || close < open
             ? text
             : text.substr(open + 1, close - open - 1);
}

std::string ModelNamesOr(const std::vector<int>& models) {
  std::string names;
  for (const int model : models) names += (names.empty() ? "" : " or ") + ModelName(model);
  return names;
}

// The table's entries in the order DescribeTableOfContents says them, each
// as "TAG: bytes" in hexadecimal (an array's items indented below it): the
// same in every language.
void EntryLines(const std::vector<TocEntry>& entries, const std::string& indent, std::vector<std::string>& lines) {
  for (const TocEntry& entry : entries) {
    lines.push_back(indent + HexDigits(entry.tag, 2) + ":" + (entry.value.empty() ? "" : " " + SpacedHex(entry.value)));
    EntryLines(entry.items, indent + "  ", lines);
  }
}

// A text field: quoted, or none when empty.
std::optional<std::string> Quoted(const std::string& text) {
  if (text.empty()) return std::nullopt;
  return "\"" + text + "\"";
}

// Reads stretches of one file through its reader, and compares runs of two
// files a chunk at a time.
class Comparer {
 public:
  Comparer(const FirmwareInput& old_file, const FirmwareInput& new_file)
      : old_file_(old_file), new_file_(new_file), old_buffer_(new char[kChunk]), new_buffer_(new char[kChunk]) {}

  // True when the pieces of the old file (views of its bytes) hold the same
  // bytes as the pieces of the new file.
  bool Same(const std::vector<std::string_view>& old_pieces, const std::vector<std::string_view>& new_pieces) {
    if (SpansSize(old_pieces) != SpansSize(new_pieces)) return false;
    Cursor old_cursor{old_file_, old_pieces};
    Cursor new_cursor{new_file_, new_pieces};
    for (std::uint64_t left = SpansSize(old_pieces); left > 0;) {
      const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      old_cursor.Read(old_buffer_.get(), length);
      new_cursor.Read(new_buffer_.get(), length);
      if (std::memcmp(old_buffer_.get(), new_buffer_.get(), length) != 0) return false;
      left -= length;
    }
    return true;
  }

  // The length and CRC-32 of pieces of one file, for a run of bytes people
  // cannot read: "1328, 1A2B3C4D".
  std::string Summary(bool old_side, const std::vector<std::string_view>& pieces) {
    Crc32 crc;
    Cursor cursor{old_side ? old_file_ : new_file_, pieces};
    char* buffer = old_buffer_.get();
    for (std::uint64_t left = SpansSize(pieces); left > 0;) {
      const std::size_t length = static_cast<std::size_t>(std::min<std::uint64_t>(left, kChunk));
      cursor.Read(buffer, length);
      crc.Update(std::string_view(buffer, length));
      left -= length;
    }
    return std::to_string(SpansSize(pieces)) + ", " + HexDigits(crc.value(), 8);
  }

 private:
  // A position in a run of pieces of one file.
  struct Cursor {
    const FirmwareInput& file;
    const std::vector<std::string_view>& pieces;
    std::size_t index = 0;
    std::size_t at = 0;

    void Read(char* to, std::size_t length) {
      while (length > 0) {
        const std::string_view piece = pieces[index].substr(at, length);
        if (file.read) {
          file.read(piece, to);
        } else {
          std::memcpy(to, piece.data(), piece.size());
        }
        to += piece.size();
        length -= piece.size();
        at += piece.size();
        if (at == pieces[index].size()) ++index, at = 0;
      }
    }
  };

  const FirmwareInput& old_file_;
  const FirmwareInput& new_file_;
  std::unique_ptr<char[]> old_buffer_;
  std::unique_ptr<char[]> new_buffer_;
};

std::vector<std::string_view> Views(const SegmentedBytes& bytes) {
  std::vector<std::string_view> views;
  views.reserve(bytes.pieces().size());
  for (const SegmentedBytes::Piece piece : bytes.pieces()) {
    views.emplace_back(reinterpret_cast<const char*>(piece.data()), piece.size());
  }
  return views;
}

// A file or folder of a partition, as the comparison sees it.
struct Entry {
  bool folder = false;
  bool hidden = false;
  std::uint64_t size = 0;
  std::vector<std::string_view> data;  // views of the firmware file's bytes
  // Fields compared by name, in the same order for every entry of a kind.
  std::vector<std::pair<Field, std::string>> fields;
};

// The entries of a partition, by path.
struct Tree {
  std::map<std::string, Entry> entries;
  std::uint64_t files = 0;
  std::uint64_t file_bytes = 0;
};

// One firmware file, read for comparing.
struct Side {
  const FirmwareInput* input = nullptr;
  FirmwareLayout layout;
  std::vector<std::string_view> stream;  // the prefix, then the payloads
  std::uint64_t payload_start = 0;       // in the stream
  std::uint64_t partition_start = 0;     // in the stream
  std::vector<std::string_view> partition;
  // Every code block's header, one after another: copied while the walk
  // has them in memory, so comparing headers later touches no page of the
  // mapping (with small blocks those are all of its pages).
  std::string headers;
  Tree tree;
  // The partition's own fields, in the same order for either file.
  std::vector<std::pair<Field, std::optional<std::string>>> fields;
};

// Reads the layout and finds the partition, as Extract does.
Side ReadSide(const FirmwareInput& input, PartitionKind kind, int model) {
  Side side;
  side.input = &input;
  const BlockFormat& format = BlockFormatOf(model, kind);
  side.layout = ReadFirmwareLayout(input.bytes, format);
  const FirmwareLayout& layout = side.layout;
  const std::string model_name = ModelName(model);
  if (!layout.HasHeader()) {
    throw NotComparableError(input.name + " holds no block header of the " + model_name + " (signature " +
                             SpacedHex(format.signature) + ")");
  }
  if (!layout.chain_intact) {
    throw NotComparableError(input.name + ": the chain of blocks " +
                             (layout.end == ChainEnd::kCutShort ? std::string("is cut short") : std::string("breaks")) +
                             " at file offset " + HexNumber(layout.end_offset, 8) + " (after " +
                             std::to_string(layout.blocks.size()) + " blocks); larkspur-cli verify names the damage");
  }
  side.stream = PayloadSpans(input.bytes, layout);
  side.payload_start = *layout.prefix_length;
  if (kind == PartitionKind::kRofs) {
    const auto header = FindInSpans(side.stream, HexToBytes(kRofsMagicHex), side.payload_start);
    if (!header) {
      throw NotComparableError(input.name + (FindFatBootSectorInSpans(side.stream, side.payload_start)
                                                 ? ": the name says ROFS, the payload starts with a FAT boot sector "
                                                   "(use --kind uda)"
                                                 : ": no ROFS header in the payload"));
    }
    side.partition_start = *header;
  } else {
    constexpr std::uint64_t kRofsLeadBytes = 0x20000;
    std::string lead_copy;
    if (const auto boot_sector = FindFatBootSectorInSpans(side.stream, side.payload_start)) {
      side.partition_start = side.payload_start + *boot_sector;
    } else if (StartsWithRofsHeader(BytesOfSpans(side.stream, side.payload_start, kRofsLeadBytes, lead_copy))) {
      throw NotComparableError(input.name +
                               ": the name says UDA, the payload starts with a ROFS header (use --kind rofs)");
    } else {
      side.partition_start =
          FindInSpans(side.stream, HexToBytes(kFat16MagicHex), side.payload_start).value_or(side.payload_start);
    }
  }
  side.partition = CarveSpans(side.stream, side.partition_start);
  const auto header_size = static_cast<std::size_t>(layout.header_size);
  side.headers.reserve(layout.blocks.size() * header_size);
  for (const LayoutBlock& block : layout.blocks) side.headers += input.bytes.substr(block.header_offset, header_size);
  if (input.drop_pages) input.drop_pages();
  return side;
}

// The header of code block `block` of a side, as the walk found it.
std::string_view BlockHeader(const Side& side, std::size_t block) {
  const auto header_size = static_cast<std::size_t>(side.layout.header_size);
  return std::string_view(side.headers).substr(block * header_size, header_size);
}

SegmentedBytes AsImage(const std::vector<std::string_view>& pieces) {
  std::vector<SegmentedBytes::Piece> spans;
  spans.reserve(pieces.size());
  for (const std::string_view piece : pieces) {
    spans.emplace_back(reinterpret_cast<const std::uint8_t*>(piece.data()), piece.size());
  }
  return SegmentedBytes(spans);
}

void AddRofsDirectory(const rofs::RofsDirectory& directory, const std::string& prefix, const SegmentedBytes& image,
                      Tree& tree) {
  for (const rofs::RofsFile& file : directory.files) {
    Entry entry;
    entry.hidden = file.hidden();
    if (!entry.hidden) {
      entry.size = file.size;
      entry.data = Views(image.Slice(file.address, file.size));
      ++tree.files;
      tree.file_bytes += file.size;
    }
    entry.fields = {{Field::kAttributes, HexNumber(file.attributes, 2)},
                    {Field::kExtraAttributes, HexNumber(file.extra_attributes, 2)},
                    {Field::kUids, SpacedHex(std::span<const std::uint8_t>(file.uids))}};
    tree.entries[prefix + rofs::Utf16ToUtf8Lossy(file.name)] = std::move(entry);
  }
  for (const rofs::RofsDirectory& sub : directory.subdirectories) {
    const std::string path = prefix + rofs::Utf16ToUtf8Lossy(sub.name) + "/";
    Entry entry;
    entry.folder = true;
    entry.fields = {{Field::kAttributes, HexNumber(sub.attributes, 2)}};
    tree.entries[path] = std::move(entry);
    AddRofsDirectory(sub, path, image, tree);
  }
}

std::string ShortNameField(const fat::ShortName& name) {
  return PrintableBytes(std::string_view(reinterpret_cast<const char*>(name.data()), name.size()));
}

void AddFatFolder(const fat::FatFolder& folder, const std::string& prefix, const SegmentedBytes& image, Tree& tree) {
  for (const fat::FatFile& file : folder.files) {
    Entry entry;
    entry.size = file.size;
    std::vector<SegmentedBytes> extents;
    for (const fat::Extent& extent : file.extents) extents.push_back(image.Slice(extent.offset, extent.length));
    entry.data = Views(SegmentedBytes::Joined(extents));
    entry.fields = {{Field::kAttributes, HexNumber(file.attributes, 2)},
                    {Field::kTime, fat::FatTimestampText(file.modified)},
                    {Field::kShortName, ShortNameField(file.short_name)}};
    ++tree.files;
    tree.file_bytes += file.size;
    tree.entries[prefix + rofs::Utf16ToUtf8Lossy(file.name)] = std::move(entry);
  }
  for (const fat::FatFolder& sub : folder.folders) {
    const std::string path = prefix + rofs::Utf16ToUtf8Lossy(sub.name) + "/";
    Entry entry;
    entry.folder = true;
    entry.fields = {{Field::kAttributes, HexNumber(sub.attributes, 2)},
                    {Field::kTime, fat::FatTimestampText(sub.modified)},
                    {Field::kShortName, ShortNameField(sub.short_name)}};
    tree.entries[path] = std::move(entry);
    AddFatFolder(sub, path, image, tree);
  }
}

// Reads the partition's tree and its own fields. Throws what the readers
// throw.
void ReadPartition(Side& side, PartitionKind kind) {
  const SegmentedBytes image = AsImage(side.partition);
  const std::string name = side.input->name;
  if (kind == PartitionKind::kRofs) {
    const rofs::RofsImage parsed = rofs::ParseRofsImage(image, name);
    AddRofsDirectory(parsed.root, "", image, side.tree);
    const rofs::RofsHeader& header = parsed.header;
    side.fields = {
        {Field::kRofsTime, rofs::FormatSymbianTime(header.time)},
        {Field::kRofsVersion, std::to_string(header.version.major) + "." + std::to_string(header.version.minor) + "(" +
                                  std::to_string(header.version.build) + ")"},
        {Field::kRofsMaximumSize, HexNumber(header.max_image_size)},
        {Field::kRofsImageSize, std::to_string(header.image_size)},
    };
    return;
  }
  const fat::FatVolume volume = fat::ParseFatImage(image, name);
  AddFatFolder(volume.root, "", image, side.tree);
  const fat::BootSector& boot = volume.geometry.boot;
  side.fields = {
      {Field::kVolumeLabel, Quoted(volume.label)},
      {Field::kSerial, boot.has_extended_fields ? std::optional<std::string>(HexDigits(boot.serial >> 16, 4) + "-" +
                                                                             HexDigits(boot.serial & 0xFFFF, 4))
                                                : std::nullopt},
      {Field::kOemName, Quoted(boot.oem_name)},
      {Field::kBytesPerSector, std::to_string(boot.bytes_per_sector)},
      {Field::kSectorsPerCluster, std::to_string(boot.sectors_per_cluster)},
      {Field::kReservedSectors, std::to_string(boot.reserved_sectors)},
      {Field::kFatCount, std::to_string(boot.fat_count)},
      {Field::kRootEntries, std::to_string(boot.root_entries)},
      {Field::kTotalSectors, std::to_string(boot.total_sectors)},
      {Field::kMedia, HexNumber(boot.media, 2)},
      {Field::kSectorsPerFat, std::to_string(boot.sectors_per_fat)},
      {Field::kHiddenSectors, std::to_string(boot.hidden_sectors)},
      {Field::kFatCopiesAgree, volume.fat_copies_agree ? "true" : "false"},
  };
}

class Comparison {
 public:
  Comparison(const FirmwareInput& old_file, const FirmwareInput& new_file, PartitionKind kind, int model)
      : old_(ReadSide(old_file, kind, model)),
        new_(ReadSide(new_file, kind, model)),
        comparer_(old_file, new_file),
        format_(BlockFormatOf(model, kind)) {
    result_.kind = kind;
    result_.model = model;
    result_.old_blocks = old_.layout.blocks.size();
    result_.new_blocks = new_.layout.blocks.size();
  }

  FirmwareDifference Run() {
    // The blocks first: what they find spares reading files' bytes again.
    CompareBlocks();
    ComparePartitions();
    CompareOutside();
    if (result_.same() && old_.input->bytes != new_.input->bytes) {
      // Nothing above explains it (a header's check value that does not
      // match its payload, say): the first byte that differs is named.
      const std::string_view a = old_.input->bytes;
      const std::string_view b = new_.input->bytes;
      std::size_t at = 0;
      while (at < a.size() && at < b.size() && a[at] == b[at]) ++at;
      const auto byte_at = [&](std::string_view bytes) {
        return at < bytes.size() ? std::optional<std::string>(SpacedHex(bytes.substr(at, 1))) : std::nullopt;
      };
      result_.outside.push_back({Field::kFirstDifferingByte, {HexNumber(at, 8)}, byte_at(a), byte_at(b)});
    }
    return std::move(result_);
  }

 private:
  void ComparePartitions() {
    // Where the partition starts in the payload, and what stands in front.
    const std::uint64_t old_lead = old_.partition_start - old_.payload_start;
    const std::uint64_t new_lead = new_.partition_start - new_.payload_start;
    if (old_lead != new_lead) {
      result_.partition.push_back({Field::kPartitionStart, {}, HexNumber(old_lead), HexNumber(new_lead)});
    } else if (!comparer_.Same(Lead(old_), Lead(new_))) {
      result_.partition.push_back({Field::kBytesBeforePartition,
                                   {},
                                   comparer_.Summary(true, Lead(old_)),
                                   comparer_.Summary(false, Lead(new_))});
    }
    std::string problem;
    for (Side* side : {&old_, &new_}) {
      try {
        ReadPartition(*side, result_.kind);
      } catch (const rofs::FormatError& error) {
        if (problem.empty()) problem = error.what();
      }
    }
    if (!problem.empty()) {
      result_.partition_problem = problem;
      return;
    }
    for (std::size_t i = 0; i < old_.fields.size() && i < new_.fields.size(); ++i) {
      const auto& [field, old_value] = old_.fields[i];
      const std::optional<std::string>& new_value = new_.fields[i].second;
      if (old_value != new_value) result_.partition.push_back({field, {}, old_value, new_value});
    }
    result_.old_files = old_.tree.files;
    result_.new_files = new_.tree.files;
    result_.old_file_bytes = old_.tree.file_bytes;
    result_.new_file_bytes = new_.tree.file_bytes;
    CompareEntries();
  }

  static std::vector<std::string_view> Lead(const Side& side) {
    return CarveSpans(CutSpans(side.stream, side.partition_start), side.payload_start);
  }

  // The stream up to `end`.
  static std::vector<std::string_view> CutSpans(const std::vector<std::string_view>& stream, std::uint64_t end) {
    std::vector<std::string_view> cut;
    for (std::string_view span : stream) {
      if (end == 0) break;
      span = span.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(span.size(), end)));
      end -= span.size();
      cut.push_back(span);
    }
    return cut;
  }

  void CompareEntries() {
    const auto& old_entries = old_.tree.entries;
    const auto& new_entries = new_.tree.entries;
    auto a = old_entries.begin();
    auto b = new_entries.begin();
    while (a != old_entries.end() || b != new_entries.end()) {
      if (b == new_entries.end() || (a != old_entries.end() && a->first < b->first)) {
        result_.entries.push_back(OneSided(a->first, a->second, EntryStatus::kRemoved));
        ++a;
      } else if (a == old_entries.end() || b->first < a->first) {
        result_.entries.push_back(OneSided(b->first, b->second, EntryStatus::kAdded));
        ++b;
      } else {
        if (auto changed = Changed(a->first, a->second, b->second)) result_.entries.push_back(std::move(*changed));
        ++a;
        ++b;
      }
    }
  }

  static EntryDifference OneSided(const std::string& path, const Entry& entry, EntryStatus status) {
    EntryDifference difference;
    difference.path = path;
    difference.folder = entry.folder;
    difference.status = status;
    (status == EntryStatus::kAdded ? difference.new_size : difference.old_size) = entry.size;
    (status == EntryStatus::kAdded ? difference.new_hidden : difference.old_hidden) = entry.hidden;
    return difference;
  }

  std::optional<EntryDifference> Changed(const std::string& path, const Entry& old_entry, const Entry& new_entry) {
    EntryDifference difference;
    difference.path = path;
    difference.folder = old_entry.folder;
    difference.old_size = old_entry.size;
    difference.new_size = new_entry.size;
    difference.old_hidden = old_entry.hidden;
    difference.new_hidden = new_entry.hidden;
    if (old_entry.hidden == new_entry.hidden && !old_entry.folder && !old_entry.hidden) {
      difference.content_changed =
          !SameInPlace(old_entry.data, new_entry.data) && !comparer_.Same(old_entry.data, new_entry.data);
    }
    // A ROFS entry's UIDs are the first bytes of its data: they change
    // with the bytes, and are news only when the same bytes stay.
    const bool same_bytes = !difference.content_changed && old_entry.hidden == new_entry.hidden;
    for (std::size_t i = 0; i < old_entry.fields.size() && i < new_entry.fields.size(); ++i) {
      const auto& [field, old_value] = old_entry.fields[i];
      const std::string& new_value = new_entry.fields[i].second;
      if (old_value == new_value || (field == Field::kUids && !same_bytes)) continue;
      difference.fields.push_back({field, {}, old_value, new_value});
    }
    if (!difference.content_changed && difference.fields.empty() && old_entry.hidden == new_entry.hidden) {
      return std::nullopt;
    }
    return difference;
  }

  void CompareOutside() {
    const FirmwareLayout& a = old_.layout;
    const FirmwareLayout& b = new_.layout;
    const std::string_view old_bytes = old_.input->bytes;
    const std::string_view new_bytes = new_.input->bytes;
    auto& outside = result_.outside;
    // The start address: where the flasher writes the first block.
    const auto start = [](const FirmwareLayout& layout) { return HexNumber(layout.blocks.front().address, 8); };
    if (start(a) != start(b)) outside.push_back({Field::kStartAddress, {}, start(a), start(b)});
    CompareTables();
    CompareNamedBlocks();
    // Prefix bytes besides the table and the named blocks.
    const std::vector<std::string_view> old_prefix = Unclaimed(old_bytes, a, 0, *a.prefix_length);
    const std::vector<std::string_view> new_prefix = Unclaimed(new_bytes, b, 0, *b.prefix_length);
    if (!comparer_.Same(old_prefix, new_prefix)) {
      outside.push_back(
          {Field::kPrefix, {}, comparer_.Summary(true, old_prefix), comparer_.Summary(false, new_prefix)});
    }
    CompareHeaders();
    // FF padding between code blocks.
    for (std::size_t i = 0; i + 1 < a.blocks.size() && i + 1 < b.blocks.size(); ++i) {
      if (a.blocks[i].padding_after != b.blocks[i].padding_after) {
        outside.push_back({Field::kPaddingAfterBlock,
                           {std::to_string(i)},
                           std::to_string(a.blocks[i].padding_after),
                           std::to_string(b.blocks[i].padding_after)});
      }
    }
    // What follows the last block, named blocks aside.
    const std::vector<std::string_view> old_trail = Unclaimed(old_bytes, a, a.code_end, old_bytes.size());
    const std::vector<std::string_view> new_trail = Unclaimed(new_bytes, b, b.code_end, new_bytes.size());
    if (!comparer_.Same(old_trail, new_trail)) {
      outside.push_back(
          {Field::kAfterTheBlocks, {}, comparer_.Summary(true, old_trail), comparer_.Summary(false, new_trail)});
    }
  }

  // The bytes of `file` from `begin` to `end` that neither the table of
  // contents nor a named block holds.
  static std::vector<std::string_view> Unclaimed(std::string_view file, const FirmwareLayout& layout, std::size_t begin,
                                                 std::size_t end) {
    std::vector<std::pair<std::size_t, std::size_t>> claimed;
    if (layout.toc) claimed.emplace_back(0, layout.toc->end());
    for (const NamedBlock& named : layout.named) {
      claimed.emplace_back(named.header_offset,
                           named.header_offset + static_cast<std::size_t>(named.header_size) + named.payload_length);
    }
    std::sort(claimed.begin(), claimed.end());
    std::vector<std::string_view> pieces;
    std::size_t at = begin;
    for (const auto& [from, to] : claimed) {
      if (from > at && at < end) pieces.push_back(file.substr(at, std::min(from, end) - at));
      at = std::max(at, to);
    }
    if (at < end) pieces.push_back(file.substr(at, end - at));
    return pieces;
  }

  void CompareTables() {
    const auto& a = old_.layout.toc;
    const auto& b = new_.layout.toc;
    // "22, 1, 1A2B3C4D": its length, its entries, the CRC-32 of its bytes.
    const auto describe = [](std::string_view file, const std::optional<TableOfContents>& toc) {
      return toc ? std::optional<std::string>(std::to_string(toc->end()) + ", " + std::to_string(toc->entries.size()) +
                                              ", " + HexDigits(Crc32Of(file.substr(0, toc->end())), 8))
                 : std::nullopt;
    };
    if (!a || !b) {
      if (a || b) {
        result_.outside.push_back(
            {Field::kTableOfContents, {}, describe(old_.input->bytes, a), describe(new_.input->bytes, b)});
      }
      return;
    }
    const std::vector<Text> old_said = DescribeTableOfContents(*a);
    const std::vector<Text> new_said = DescribeTableOfContents(*b);
    std::vector<std::string> old_lines;
    std::vector<std::string> new_lines;
    EntryLines(a->entries, "", old_lines);
    EntryLines(b->entries, "", new_lines);
    bool told = false;
    for (std::size_t i = 0; i < std::max(old_lines.size(), new_lines.size()); ++i) {
      const auto line = [i](const auto& lines) {
        return i < lines.size() ? std::optional(lines[i]) : std::nullopt;
      };
      if (line(old_lines) == line(new_lines)) continue;
      result_.outside.push_back({Field::kTableOfContentsLine, {std::to_string(i + 1)}, line(old_lines),
                                 line(new_lines), line(old_said), line(new_said)});
      told = true;
    }
    // Bytes the lines do not show (the counts, bytes after the entries).
    const std::string_view old_table = old_.input->bytes.substr(0, a->end());
    const std::string_view new_table = new_.input->bytes.substr(0, b->end());
    if (!told && old_table != new_table) {
      result_.outside.push_back(
          {Field::kTableOfContents, {}, describe(old_.input->bytes, a), describe(new_.input->bytes, b)});
    }
  }

  void CompareNamedBlocks() {
    const auto& a = old_.layout.named;
    const auto& b = new_.layout.named;
    const auto header = [](std::string_view file, const NamedBlock& named) {
      return file.substr(named.header_offset, static_cast<std::size_t>(named.header_size));
    };
    const auto payload = [&](std::string_view file, const NamedBlock& named) {
      return std::vector<std::string_view>{
          file.substr(named.header_offset + static_cast<std::size_t>(named.header_size), named.payload_length)};
    };
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
      const std::string number = std::to_string(i);
      if (i >= a.size() || i >= b.size()) {
        // "NOLO, 0x400": its description and payload length.
        const auto describe = [&](const std::vector<NamedBlock>& named) {
          return i < named.size()
                     ? std::optional<std::string>(named[i].description + ", " + HexNumber(named[i].payload_length))
                     : std::nullopt;
        };
        result_.outside.push_back({Field::kNamedBlock, {number}, describe(a), describe(b)});
        continue;
      }
      const std::vector<std::string> name = {number, a[i].description};
      if (a[i].description != b[i].description) {
        result_.outside.push_back({Field::kNamedBlockDescription, {number}, a[i].description, b[i].description});
      }
      if (a[i].payload_length != b[i].payload_length) {
        result_.outside.push_back(
            {Field::kNamedBlockLength, name, HexNumber(a[i].payload_length), HexNumber(b[i].payload_length)});
      }
      if (a[i].address != b[i].address) {
        result_.outside.push_back(
            {Field::kNamedBlockAddress, name, HexNumber(a[i].address, 8), HexNumber(b[i].address, 8)});
      }
      // The header's bytes besides its check value, length, address and
      // checksum (a key hash, the flash id, a second hash).
      const std::string_view old_header = header(old_.input->bytes, a[i]);
      const std::string_view new_header = header(new_.input->bytes, b[i]);
      if (old_header.size() == new_header.size()) {
        for (std::size_t at = 0; at + 1 < old_header.size(); ++at) {
          if (at >= kNamedCheckValueOffset && at < kNamedAddressOffset + 4) continue;
          if (old_header[at] == new_header[at]) continue;
          const std::size_t length = std::min<std::size_t>(8, old_header.size() - 1 - at);
          result_.outside.push_back({Field::kNamedBlockHeader,
                                     {number, a[i].description, "+" + std::to_string(at)},
                                     SpacedHex(old_header.substr(at, length)),
                                     SpacedHex(new_header.substr(at, length))});
          break;
        }
      }
      const auto old_payload = payload(old_.input->bytes, a[i]);
      const auto new_payload = payload(new_.input->bytes, b[i]);
      if (a[i].payload_length == b[i].payload_length && !comparer_.Same(old_payload, new_payload)) {
        result_.outside.push_back({Field::kNamedBlockPayload, name, comparer_.Summary(true, old_payload),
                                   comparer_.Summary(false, new_payload)});
      }
    }
  }

  // The header bytes a Repack does not make anew besides the signature:
  // the type field (01, or the 8 bytes of 26-byte headers). Runs of blocks
  // with the same change are told once.
  void CompareHeaders() {
    const FirmwareLayout& a = old_.layout;
    const FirmwareLayout& b = new_.layout;
    const std::size_t type_length = static_cast<std::size_t>(format_.length_offset - kTypeFieldOffset);
    const auto type_field = [&](const Side& side, std::size_t block) {
      return SpacedHex(BlockHeader(side, block).substr(kTypeFieldOffset, type_length));
    };
    std::optional<std::size_t> run_start;
    std::string run_old, run_new;
    const auto close_run = [&](std::size_t end) {
      if (!run_start) return;
      const std::string blocks = end - 1 == *run_start ? std::to_string(*run_start)
                                                       : std::to_string(*run_start) + "-" + std::to_string(end - 1);
      result_.outside.push_back({Field::kTypeField, {blocks}, run_old, run_new});
      run_start.reset();
    };
    const std::size_t common = std::min(a.blocks.size(), b.blocks.size());
    for (std::size_t i = 0; i < common; ++i) {
      const std::string old_field = type_field(old_, i);
      const std::string new_field = type_field(new_, i);
      if (old_field == new_field) {
        close_run(i);
        continue;
      }
      if (run_start && (old_field != run_old || new_field != run_new)) close_run(i);
      if (!run_start) run_start = i, run_old = old_field, run_new = new_field;
    }
    close_run(common);
  }

  void CompareBlocks() {
    const FirmwareLayout& a = old_.layout;
    const FirmwareLayout& b = new_.layout;
    const auto header_size = static_cast<std::size_t>(a.header_size);
    const auto payload = [&](std::string_view file, const LayoutBlock& block) {
      return std::vector<std::string_view>{file.substr(block.header_offset + header_size, block.payload_length)};
    };
    for (std::size_t i = 0; i < std::max(a.blocks.size(), b.blocks.size()); ++i) {
      bool differs = i >= a.blocks.size() || i >= b.blocks.size();
      if (!differs) {
        const LayoutBlock& old_block = a.blocks[i];
        const LayoutBlock& new_block = b.blocks[i];
        const std::string_view old_check = BlockHeader(old_, i).substr(kCheckValueOffset, 2);
        const std::string_view new_check = BlockHeader(new_, i).substr(kCheckValueOffset, 2);
        // Different check values are different payloads; equal ones are
        // read to be sure.
        differs = old_block.payload_length != new_block.payload_length || old_check != new_check ||
                  !comparer_.Same(payload(old_.input->bytes, old_block), payload(new_.input->bytes, new_block));
      }
      if (!differs) {
        if (a.blocks[i].header_offset == b.blocks[i].header_offset) same_in_place_.push_back(i);
        continue;
      }
      ++result_.differing_blocks;
      const LayoutBlock& block = i < b.blocks.size() ? b.blocks[i] : a.blocks[i];
      const std::uint32_t last = block.address + (block.payload_length == 0 ? 0 : block.payload_length - 1);
      auto& ranges = result_.block_ranges;
      if (!ranges.empty() && ranges.back().last + 1 == i) {
        ranges.back().last = i;
        ranges.back().last_address = last;
      } else {
        ranges.push_back({i, i, block.address, last});
      }
    }
  }

  // True when each piece of the old file lies at the same file offset as
  // its piece of the new file, with the same length, inside a block whose
  // payload CompareBlocks found the same in both at that offset: then the
  // bytes are the same without reading them again. False says nothing.
  bool SameInPlace(const std::vector<std::string_view>& old_pieces,
                   const std::vector<std::string_view>& new_pieces) const {
    if (old_pieces.size() != new_pieces.size()) return false;
    const char* old_base = old_.input->bytes.data();
    const char* new_base = new_.input->bytes.data();
    const auto header_size = static_cast<std::size_t>(old_.layout.header_size);
    for (std::size_t i = 0; i < old_pieces.size(); ++i) {
      const std::size_t at = static_cast<std::size_t>(old_pieces[i].data() - old_base);
      if (old_pieces[i].size() != new_pieces[i].size() ||
          static_cast<std::size_t>(new_pieces[i].data() - new_base) != at) {
        return false;
      }
      // The last block starting at or before the piece; the piece must lie
      // inside its payload.
      const auto block = std::upper_bound(
          same_in_place_.begin(), same_in_place_.end(), at,
          [&](std::size_t offset, std::size_t index) { return offset < old_.layout.blocks[index].header_offset; });
      if (block == same_in_place_.begin()) return false;
      const LayoutBlock& holder = old_.layout.blocks[*std::prev(block)];
      const std::size_t payload = holder.header_offset + header_size;
      if (at < payload || at - payload > holder.payload_length ||
          old_pieces[i].size() > holder.payload_length - (at - payload)) {
        return false;
      }
    }
    return true;
  }

  Side old_;
  Side new_;
  Comparer comparer_;
  const BlockFormat& format_;
  FirmwareDifference result_;
  // The blocks, in order, that are the same in both files at the same file
  // offset.
  std::vector<std::size_t> same_in_place_;
};

}  // namespace

const char* FieldName(Field field) {
  switch (field) {
    case Field::kAttributes:
      return "attributes";
    case Field::kExtraAttributes:
      return "extra attributes";
    case Field::kUids:
      return "UIDs";
    case Field::kTime:
      return "time";
    case Field::kShortName:
      return "short name";
    case Field::kPartitionStart:
      return "partition start";
    case Field::kBytesBeforePartition:
      return "bytes in front of the partition";
    case Field::kRofsTime:
      return "ROFS time";
    case Field::kRofsVersion:
      return "ROFS version";
    case Field::kRofsMaximumSize:
      return "ROFS maximum size";
    case Field::kRofsImageSize:
      return "ROFS image size";
    case Field::kVolumeLabel:
      return "volume label";
    case Field::kSerial:
      return "serial";
    case Field::kOemName:
      return "OEM name";
    case Field::kBytesPerSector:
      return "bytes per sector";
    case Field::kSectorsPerCluster:
      return "sectors per cluster";
    case Field::kReservedSectors:
      return "reserved sectors";
    case Field::kFatCount:
      return "FATs";
    case Field::kRootEntries:
      return "root entries";
    case Field::kTotalSectors:
      return "total sectors";
    case Field::kMedia:
      return "media";
    case Field::kSectorsPerFat:
      return "sectors per FAT";
    case Field::kHiddenSectors:
      return "hidden sectors";
    case Field::kFatCopiesAgree:
      return "FAT copies agree";
    case Field::kStartAddress:
      return "start address";
    case Field::kTableOfContents:
      return "table of contents";
    case Field::kTableOfContentsLine:
      return "table of contents line";
    case Field::kNamedBlock:
      return "named block";
    case Field::kNamedBlockDescription:
      return "named block description";
    case Field::kNamedBlockLength:
      return "named block length";
    case Field::kNamedBlockAddress:
      return "named block address";
    case Field::kNamedBlockHeader:
      return "named block header";
    case Field::kNamedBlockPayload:
      return "named block payload";
    case Field::kPrefix:
      return "prefix";
    case Field::kTypeField:
      return "type field";
    case Field::kPaddingAfterBlock:
      return "padding after block";
    case Field::kAfterTheBlocks:
      return "after the blocks";
    case Field::kFirstDifferingByte:
      return "first differing byte";
  }
  return "?";
}

int ChooseModel(const FirmwareInput& old_file, const FirmwareInput& new_file, PartitionKind kind,
                std::optional<int> chosen) {
  if (chosen) return *chosen;
  const auto fits = [kind](const FirmwareInput& file) {
    std::vector<int> models = ModelsThatFit(file.bytes, kind);
    if (file.drop_pages) file.drop_pages();
    return models;
  };
  const std::vector<int> old_fits = fits(old_file);
  const std::vector<int> new_fits = fits(new_file);
  if (old_fits.empty() && new_fits.empty()) return 0;
  if (old_fits.empty()) return new_fits.front();
  if (new_fits.empty()) return old_fits.front();
  for (const int model : old_fits) {
    if (std::find(new_fits.begin(), new_fits.end(), model) != new_fits.end()) return model;
  }
  throw NotComparableError(old_file.name + " was made for the " + ModelNamesOr(old_fits) + ", " + new_file.name +
                           " for the " + ModelNamesOr(new_fits) + ": files of different models cannot be compared");
}

FirmwareDifference CompareFirmware(const FirmwareInput& old_file, const FirmwareInput& new_file, PartitionKind kind,
                                   int model) {
  return Comparison(old_file, new_file, kind, model).Run();
}

FirmwareDifference CompareFirmwareFiles(const std::string& old_path, const std::string& new_path,
                                        std::optional<PartitionKind> kind, std::optional<int> model) {
  // Firmware files are below 2 GiB: their lengths are 32-bit signed counts.
  constexpr std::uint64_t kMaxFirmwareSize = 0x7FFFFFFF;
  port::FileView old_view;
  port::FileView new_view;
  // One path twice is mapped once: Windows opens a firmware file without
  // sharing, so a second open of it would fail.
  const bool one_file = old_path == new_path;
  for (const auto& [view, path] : {std::pair{&old_view, &old_path}, std::pair{&new_view, &new_path}}) {
    if (one_file && view == &new_view) break;
    if (!view->Open(*path, kMaxFirmwareSize)) {
      throw NotComparableError(*path + (port::IsDirectory(*path)     ? " is a folder, not a file"
                                        : port::IsRegularFile(*path) ? " is empty"
                                                                     : " does not exist"));
    }
  }
  const auto read_through = [](const port::FileView& view) {
    return [&view](std::string_view part, char* to) { view.CopyOut(part, to); };
  };
  const auto drop_pages = [](const port::FileView& view) { return [&view] { view.DropPages(); }; };
  const port::FileView& new_source = one_file ? old_view : new_view;
  const FirmwareInput old_file{old_view.bytes(), old_path, read_through(old_view), drop_pages(old_view)};
  const FirmwareInput new_file{new_source.bytes(), new_path, read_through(new_source), drop_pages(new_source)};
  if (!kind) {
    const PartitionKind old_kind = KindOfPath(port::FileNamePart(old_path));
    const PartitionKind new_kind = KindOfPath(port::FileNamePart(new_path));
    if (old_kind != new_kind) {
      throw NotComparableError("the name of " + old_path + " says " + KindName(old_kind) + ", the name of " + new_path +
                               " says " + KindName(new_kind) +
                               ": files of different kinds cannot be compared (--kind reads both as one kind)");
    }
    kind = old_kind;
  }
  return CompareFirmware(old_file, new_file, *kind, ChooseModel(old_file, new_file, *kind, model));
}

}  // namespace larkspur::diff
