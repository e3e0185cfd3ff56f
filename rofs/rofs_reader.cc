#include "rofs/rofs_reader.h"

#include <algorithm>
#include <cstring>

#include "base/byte_order.h"
#include "base/byte_reader.h"
#include "rofs/rofs_errors.h"

namespace larkspur::rofs {
namespace {

std::string Range(std::uint64_t begin, std::uint64_t end) { return HexNumber(begin) + ".." + HexNumber(end); }

// A region of the image given by an offset and a size in the header.
struct Region {
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

void CheckRegion(std::string_view image_name, std::uint32_t field_offset, const char* what,
                 std::uint32_t offset, std::uint32_t size, std::uint32_t image_size) {
  if (offset < kHeaderSize) {
    throw FormatError(image_name, field_offset,
                      "ROFS header at " + HexNumber(field_offset) + ": " + what + " offset " +
                          HexNumber(offset) + " lies inside the 48-byte header");
  }
  if (size == 0) {
    throw FormatError(image_name, field_offset + 4,
                      "ROFS header at " + HexNumber(field_offset + 4) + ": " + what + " size is 0");
  }
  // Both are 32-bit; the sum is formed in 64 bits so it cannot wrap.
  if (std::uint64_t{offset} + size > image_size) {
    throw FormatError(image_name, field_offset,
                      "ROFS header at " + HexNumber(field_offset) + ": " + what + " " +
                          Range(offset, std::uint64_t{offset} + size) +
                          " runs past the image size " + HexNumber(image_size));
  }
}

class TreeParser {
 public:
  TreeParser(const SegmentedBytes& image, std::string_view image_name, const RofsHeader& header)
      : reader_(image, image_name, ThrowFormatError),
        tree_{header.dir_tree_offset, std::uint64_t{header.dir_tree_offset} + header.dir_tree_size},
        entries_{header.file_entries_offset,
                 std::uint64_t{header.file_entries_offset} + header.file_entries_size},
        data_{std::max(tree_.end, entries_.end), header.image_size},
        visited_blocks_((tree_.end - tree_.begin) / 4 + 1, false),
        // Every entry and every block takes at least 4 bytes of the two
        // regions, so a walk that takes more steps is going round in circles.
        max_steps_((tree_.end - tree_.begin + entries_.end - entries_.begin) / 4 + 1) {}

  void Parse(RofsImage& image) {
    image.root.block_offset = static_cast<std::uint32_t>(tree_.begin);
    ParseDirectory(image.root, 0, 0);
    image.directory_count = directory_count_;
    image.file_count = file_count_;
  }

 private:
  [[noreturn]] void Fail(std::uint64_t offset, const std::string& reason) const {
    throw FormatError(reader_.source_name(), offset, reason);
  }

  void Step(std::uint64_t offset) {
    if (++steps_ > max_steps_) {
      Fail(offset, "ROFS tree at " + HexNumber(offset) + ": the walk takes more than " +
                       std::to_string(max_steps_) + " steps; the tree is damaged");
    }
  }

  // `referrer` is the subdirectory entry that leads here (0 for the root).
  void ParseDirectory(RofsDirectory& dir, std::uint32_t referrer, int depth) {
    const std::uint64_t block = dir.block_offset;
    const std::string block_name = "ROFS directory at " + HexNumber(block);
    const std::string where = block_name + ": ";
    if (block % 4 != 0) Fail(block, where + "block is not 4-byte aligned");
    if (block < tree_.begin || block + kDirBlockFixedSize > tree_.end) {
      Fail(block, where + "block lies outside the directory tree " + Range(tree_.begin, tree_.end));
    }
    // Each block may be entered once: a second visit means two entries share
    // it or a chain leads back up, and either would loop or double the tree.
    const std::size_t slot = (block - tree_.begin) / 4;
    if (visited_blocks_[slot]) {
      Fail(referrer, "ROFS entry at " + HexNumber(referrer) + " (" + QuotedName(dir.name) +
                         "): directory block " + HexNumber(block) +
                         " is reached a second time (directory loop)");
    }
    visited_blocks_[slot] = true;
    Step(block);
    ++directory_count_;

    dir.struct_size = reader_.U16(block + kDirStructSizeOffset, "ROFS directory struct size");
    const std::uint8_t first_entry =
        reader_.U8(block + kDirFirstEntryOffsetOffset, "ROFS directory first entry offset");
    dir.file_block_address =
        reader_.U32(block + kDirFileBlockAddressOffset, "ROFS directory file block address");
    dir.file_block_size =
        reader_.U32(block + kDirFileBlockSizeOffset, "ROFS directory file block size");

    if (dir.struct_size < kDirBlockFixedSize) {
      Fail(block, where + "struct size " + std::to_string(dir.struct_size) +
                      " is smaller than the 12-byte block head");
    }
    const std::uint64_t subdirs_end = block + dir.struct_size;
    if (subdirs_end > tree_.end) {
      Fail(block, where + "struct size " + std::to_string(dir.struct_size) +
                      " runs past the directory tree (ends at " + HexNumber(tree_.end) + ")");
    }
    if (first_entry < kDirBlockFixedSize || first_entry > dir.struct_size || first_entry % 4 != 0) {
      Fail(block + kDirFirstEntryOffsetOffset,
           where + "first entry offset " + std::to_string(first_entry) +
               " is not a 4-byte aligned offset from 12 to the struct size " +
               std::to_string(dir.struct_size));
    }

    ParseFileBlock(dir, where);
    ParseSubdirectories(dir, block + first_entry, block_name, depth);
  }

  void ParseFileBlock(RofsDirectory& dir, const std::string& where) {
    const std::uint64_t block = dir.block_offset;
    if (dir.file_block_address == 0) {
      if (dir.file_block_size != 0) {
        Fail(block + kDirFileBlockSizeOffset,
             where + "file block size " + HexNumber(dir.file_block_size) + " without a file block");
      }
      return;
    }
    const std::uint64_t files_begin = dir.file_block_address;
    const std::uint64_t files_end = files_begin + dir.file_block_size;
    if (files_begin % 4 != 0 || files_begin < entries_.begin || files_end > entries_.end) {
      Fail(block + kDirFileBlockAddressOffset,
           where + "file block " + Range(files_begin, files_end) +
               " is not an aligned part of the file-entry region " +
               Range(entries_.begin, entries_.end));
    }
    const std::string block_name = "ROFS file block at " + HexNumber(files_begin);
    for (std::uint64_t at = files_begin; at < files_end;) {
      RofsFile file;
      at = ParseEntry(at, files_end, entries_.end, block_name, file.name, [&](const Entry& e) {
        if (e.attributes & kAttDirectory) {
          Fail(e.offset, "ROFS entry at " + HexNumber(e.offset) + " (" + QuotedName(file.name) +
                             "): a file entry with the directory attribute (attributes " +
                             HexNumber(e.attributes) + ")");
        }
        file.entry_offset = static_cast<std::uint32_t>(e.offset);
        file.attributes = e.attributes;
        file.extra_attributes = e.extra_attributes;
        file.size = e.size;
        file.address = e.address;
        std::memcpy(file.uids.data(), e.uids.data(), kEntryUidsSize);
      });
      if (!file.hidden() &&
          (file.address < data_.begin || std::uint64_t{file.address} + file.size > data_.end)) {
        Fail(file.entry_offset,
             "ROFS entry at " + HexNumber(file.entry_offset) + " (" + QuotedName(file.name) +
                 "): file data " + Range(file.address, std::uint64_t{file.address} + file.size) +
                 " lies outside the data region " + Range(data_.begin, data_.end));
      }
      ++file_count_;
      dir.files.push_back(std::move(file));
    }
  }

  void ParseSubdirectories(RofsDirectory& dir, std::uint64_t first_entry,
                           const std::string& block_name, int depth) {
    const std::uint64_t subdirs_end = std::uint64_t{dir.block_offset} + dir.struct_size;
    for (std::uint64_t at = first_entry; at < subdirs_end;) {
      RofsDirectory sub;
      at = ParseEntry(at, subdirs_end, tree_.end, block_name, sub.name, [&](const Entry& e) {
        if (!(e.attributes & kAttDirectory)) {
          Fail(e.offset, "ROFS entry at " + HexNumber(e.offset) + " (" + QuotedName(sub.name) +
                             "): a subdirectory entry without the directory attribute "
                             "(attributes " +
                             HexNumber(e.attributes) + ")");
        }
        sub.entry_offset = static_cast<std::uint32_t>(e.offset);
        sub.attributes = e.attributes;
        sub.block_offset = e.address;
      });
      if (depth + 1 > kMaxDirectoryDepth) {
        Fail(sub.entry_offset, "ROFS entry at " + HexNumber(sub.entry_offset) + " (" +
                                   QuotedName(sub.name) + "): directories nest deeper than " +
                                   std::to_string(kMaxDirectoryDepth) + " levels");
      }
      const std::uint32_t entry_offset = sub.entry_offset;
      const std::uint64_t sub_block = sub.block_offset;
      if (sub_block % 4 != 0 || sub_block < tree_.begin ||
          sub_block + kDirBlockFixedSize > tree_.end) {
        Fail(entry_offset, "ROFS entry at " + HexNumber(entry_offset) + " (" + QuotedName(sub.name) +
                               "): directory block address " + HexNumber(sub_block) +
                               " is not an aligned block inside the directory tree " +
                               Range(tree_.begin, tree_.end));
      }
      dir.subdirectories.push_back(std::move(sub));
      ParseDirectory(dir.subdirectories.back(), entry_offset, depth + 1);
    }
  }

  struct Entry {
    std::uint64_t offset;
    std::uint8_t attributes;
    std::uint8_t extra_attributes;
    std::uint32_t size;
    std::uint32_t address;
    std::vector<std::uint8_t> uids;
  };

  // Reads the entry at `at`, whose contents must end by `content_end` (the
  // block's stated end) and whose padding by the next 4-byte boundary, but not
  // past `region_end`. Fills `name`, hands the fields to `use` and returns the
  // offset of the next entry.
  template <typename Use>
  std::uint64_t ParseEntry(std::uint64_t at, std::uint64_t content_end, std::uint64_t region_end,
                           const std::string& block_name, std::u16string& name, Use use) {
    Step(at);
    const std::string where = "ROFS entry at " + HexNumber(at) + ": ";
    // The stored size of the last entry counts its padding, which the block's
    // own size does not; the padding may reach the next 4-byte boundary.
    const std::uint64_t padded_end = std::min(RoundUp4(content_end), region_end);
    if (at + kEntryFixedSize > content_end) {
      Fail(at, block_name + ": entry at " + HexNumber(at) + " runs past its block (ends at " +
                   HexNumber(content_end) + ")");
    }
    const std::uint16_t struct_size = reader_.U16(at + kEntryStructSizeOffset, "ROFS entry size");
    if (struct_size < kEntryFixedSize) {
      Fail(at, where + "entry size " + std::to_string(struct_size) +
                   " is smaller than the 30-byte entry head");
    }
    if (at + struct_size > padded_end) {
      Fail(at, block_name + ": entry at " + HexNumber(at) + " of " + std::to_string(struct_size) +
                   " bytes runs past its block (ends at " + HexNumber(content_end) + ")");
    }
    const std::uint8_t name_offset = reader_.U8(at + kEntryNameOffsetOffset, "ROFS name offset");
    const std::uint8_t name_units = reader_.U8(at + kEntryNameLengthOffset, "ROFS name length");
    if (name_offset < kEntryFixedSize) {
      Fail(at, where + "name offset " + std::to_string(name_offset) +
                   " points into the 30-byte entry head");
    }
    const std::uint64_t name_end = std::uint64_t{name_offset} + 2 * std::uint64_t{name_units};
    if (name_end > struct_size || at + name_end > content_end) {
      Fail(at, where + "name of " + std::to_string(name_units) + " units at +" +
                   std::to_string(name_offset) + " runs past the entry (size " +
                   std::to_string(struct_size) + ")");
    }
    const auto name_bytes =
        reader_.Bytes(at + name_offset, 2 * std::uint64_t{name_units}, "ROFS name");
    name.resize(name_units);
    for (std::size_t i = 0; i < name_units; ++i) {
      name[i] = static_cast<char16_t>(LittleEndian16(name_bytes.data() + 2 * i));
    }
    Entry entry;
    entry.offset = at;
    entry.attributes = reader_.U8(at + kEntryAttributesOffset, "ROFS attributes");
    entry.extra_attributes = reader_.U8(at + kEntryExtraAttributesOffset, "ROFS extra attributes");
    entry.size = reader_.U32(at + kEntrySizeOffset, "ROFS entry size field");
    entry.address = reader_.U32(at + kEntryAddressOffset, "ROFS entry address");
    entry.uids = reader_.Bytes(at + kEntryUidsOffset, kEntryUidsSize, "ROFS entry UIDs");
    use(entry);
    return at + RoundUp4(struct_size);
  }

  ByteReader reader_;
  Region tree_;
  Region entries_;
  Region data_;
  std::vector<bool> visited_blocks_;
  std::uint64_t max_steps_;
  std::uint64_t steps_ = 0;
  std::uint32_t directory_count_ = 0;
  std::uint32_t file_count_ = 0;
};

}  // namespace

RofsHeader ParseRofsHeader(const SegmentedBytes& image, std::string_view image_name) {
  if (image.size() < kHeaderSize) {
    throw FormatError(image_name, 0,
                      "the file holds " + std::to_string(image.size()) +
                          " bytes, fewer than the 48-byte ROFS header");
  }
  const ByteReader reader(image, image_name, ThrowFormatError);
  RofsHeader header;
  const auto identifier = reader.Bytes(kHeaderIdentifierOffset, 4, "ROFS identifier");
  std::memcpy(header.identifier.data(), identifier.data(), 4);
  if (std::memcmp(identifier.data(), kExtensionIdentifier, 4) == 0) {
    // An extension lies at the core image's max image size and counts every
    // offset from the start of that core image, so its tree offset less its
    // own header tells how large the core is.
    const std::uint32_t tree = reader.U32(kHeaderDirTreeOffsetOffset, "ROFS dir tree offset");
    const std::string core =
        tree > kHeaderSize
            ? " (its directory tree at " + HexNumber(tree) +
                  " counts from the start of a core image of " + HexNumber(tree - kHeaderSize) +
                  " bytes)"
            : " (its header does not tell the size of the core image)";
    throw FormatError(image_name, 0,
                      "ROFS header at 0x0: an extension image (identifier \"ROFx\") cannot be "
                      "read on its own: it extends a core ROFS image and needs that core image "
                      "in front of it" +
                          core);
  }
  if (std::memcmp(identifier.data(), kIdentifier, 4) != 0) {
    throw FormatError(image_name, 0,
                      "ROFS header at 0x0: identifier " + SpacedHex(identifier) +
                          " is not \"ROFS\" (52 4F 46 53)");
  }
  header.header_size = reader.U8(kHeaderSizeOffset, "ROFS header size");
  header.format_version = reader.U16(kHeaderFormatVersionOffset, "ROFS format version");
  header.dir_tree_offset = reader.U32(kHeaderDirTreeOffsetOffset, "ROFS dir tree offset");
  header.dir_tree_size = reader.U32(kHeaderDirTreeSizeOffset, "ROFS dir tree size");
  header.file_entries_offset =
      reader.U32(kHeaderFileEntriesOffsetOffset, "ROFS file entries offset");
  header.file_entries_size = reader.U32(kHeaderFileEntriesSizeOffset, "ROFS file entries size");
  header.time = reader.I64(kHeaderTimeOffset, "ROFS time");
  header.version.major = static_cast<std::int8_t>(reader.U8(kHeaderImageVersionOffset, "version"));
  header.version.minor =
      static_cast<std::int8_t>(reader.U8(kHeaderImageVersionOffset + 1, "version"));
  header.version.build =
      static_cast<std::int16_t>(reader.U16(kHeaderImageVersionOffset + 2, "version"));
  header.image_size = reader.U32(kHeaderImageSizeOffset, "ROFS image size");
  header.checksum = reader.U32(kHeaderChecksumOffset, "ROFS checksum");
  header.max_image_size = reader.U32(kHeaderMaxImageSizeOffset, "ROFS max image size");

  if (header.format_version != kFormatVersion) {
    throw FormatError(
        image_name, kHeaderFormatVersionOffset,
        "ROFS header at 0x6: format version " + HexNumber(header.format_version) + " is not 0x200");
  }
  if (header.image_size < kHeaderSize) {
    throw FormatError(image_name, kHeaderImageSizeOffset,
                      "ROFS header at 0x24: image size " + HexNumber(header.image_size) +
                          " is smaller than the header");
  }
  if (header.image_size > image.size()) {
    throw FormatError(image_name, kHeaderImageSizeOffset,
                      "ROFS header at 0x24: image size " + HexNumber(header.image_size) +
                          " is larger than the file (" + HexNumber(image.size()) +
                          " bytes); the image is cut short");
  }
  CheckRegion(image_name, kHeaderDirTreeOffsetOffset, "directory tree", header.dir_tree_offset,
              header.dir_tree_size, header.image_size);
  CheckRegion(image_name, kHeaderFileEntriesOffsetOffset, "file-entry region",
              header.file_entries_offset, header.file_entries_size, header.image_size);
  const std::uint64_t tree_end = std::uint64_t{header.dir_tree_offset} + header.dir_tree_size;
  const std::uint64_t entries_end =
      std::uint64_t{header.file_entries_offset} + header.file_entries_size;
  if (header.dir_tree_offset < entries_end && header.file_entries_offset < tree_end) {
    throw FormatError(
        image_name, kHeaderFileEntriesOffsetOffset,
        "ROFS header at 0x10: file-entry region " + Range(header.file_entries_offset, entries_end) +
            " overlaps the directory tree " + Range(header.dir_tree_offset, tree_end));
  }
  return header;
}

RofsHeader ParseRofsHeader(std::span<const std::uint8_t> image, std::string_view image_name) {
  return ParseRofsHeader(SegmentedBytes(image), image_name);
}

RofsImage ParseRofsImage(const SegmentedBytes& image, std::string_view image_name) {
  RofsImage result;
  result.header = ParseRofsHeader(image, image_name);
  TreeParser(image, image_name, result.header).Parse(result);
  return result;
}

RofsImage ParseRofsImage(std::span<const std::uint8_t> image, std::string_view image_name) {
  return ParseRofsImage(SegmentedBytes(image), image_name);
}

std::span<const std::uint8_t> FileData(std::span<const std::uint8_t> image, const RofsFile& file) {
  if (file.hidden()) return {};
  return image.subspan(file.address, file.size);
}

}  // namespace larkspur::rofs
