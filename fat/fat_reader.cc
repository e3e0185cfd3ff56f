#include "fat/fat_reader.h"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "base/byte_reader.h"
#include "base/hex.h"
#include "fat/fat_format.h"
#include "rofs/rofs_errors.h"
#include "rofs/utf16.h"

namespace larkspur::fat {
namespace {

using rofs::FormatError;
using rofs::QuotedName;

bool IsPowerOfTwo(std::uint32_t value) { return value != 0 && (value & (value - 1)) == 0; }

// A blank-padded text field of the boot sector or a label entry, for
// listings: trailing blanks and NULs dropped, anything not printable ASCII
// shown as '?'.
std::string TrimmedText(std::span<const std::uint8_t> bytes) {
  std::string text;
  for (std::uint8_t byte : bytes) text += (byte >= 0x20 && byte < 0x7F) ? static_cast<char>(byte) : '?';
  std::size_t end = bytes.size();
  while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == 0)) --end;
  return text.substr(0, end);
}

std::string TypeName(FatType type) { return type == FatType::kFat12 ? "FAT12" : "FAT16"; }

class TreeParser {
 public:
  TreeParser(const SegmentedBytes& image, std::string_view image_name, const FatGeometry& geometry)
      : reader_(image, image_name, rofs::ThrowFormatError),
        layout_(geometry.layout),
        next_(std::uint64_t{layout_.cluster_count} + kFirstDataCluster, 0),
        owner_(next_.size(), 0) {
    const bool fat12 = layout_.type == FatType::kFat12;
    end_of_chain_ = fat12 ? 0xFF8 : 0xFFF8;
    bad_cluster_ = fat12 ? 0xFF7 : 0xFFF7;
    for (std::uint32_t cluster = 0; cluster < next_.size(); ++cluster) {
      next_[cluster] = FatValue(cluster);
    }
  }

  void Parse(FatVolume& volume) {
    for (std::uint32_t cluster = kFirstDataCluster; cluster < next_.size(); ++cluster) {
      const std::uint32_t value = next_[cluster];
      if (value == 0) {
        ++volume.free_clusters;
      } else if (value == bad_cluster_) {
        ++volume.bad_clusters;
      } else {
        ++volume.used_clusters;
      }
    }
    volume_ = &volume;
    // Drivers read the first FAT; a copy that differs from it is a sign of
    // an interrupted write, worth showing but no reason to refuse.
    for (std::uint32_t copy = 1; copy < volume.geometry.boot.fat_count; ++copy) {
      if (!reader_.SameBytes(layout_.fat_offset, layout_.fat_offset + copy * layout_.fat_size, layout_.fat_size,
                             "FAT copy")) {
        volume.fat_copies_agree = false;
      }
    }
    const std::vector<Extent> root{{layout_.root_offset, layout_.root_size}};
    ParseFolder(volume.root, root, true, 0);
    if (volume.label.empty() && volume.geometry.boot.has_extended_fields &&
        volume.geometry.boot.bpb_label != "NO NAME") {
      volume.label = volume.geometry.boot.bpb_label;
    }
  }

 private:
  [[noreturn]] void Fail(std::uint64_t offset, const std::string& reason) const {
    throw FormatError(reader_.source_name(), offset, reason);
  }

  std::uint32_t FatValue(std::uint32_t cluster) const {
    if (layout_.type == FatType::kFat16) {
      return reader_.U16(layout_.fat_offset + 2ull * cluster, "FAT entry");
    }
    // Two 12-bit entries share three bytes; the geometry check made sure the
    // FAT holds the pair of the last cluster.
    const std::uint16_t pair = reader_.U16(layout_.fat_offset + cluster + cluster / 2, "FAT entry");
    return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
  }

  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return layout_.data_offset + std::uint64_t{cluster - kFirstDataCluster} * layout_.cluster_size;
  }

  std::string EntryWhere(std::uint64_t entry_offset, std::u16string_view name) const {
    return "FAT directory entry at " + HexNumber(entry_offset) + " (" + QuotedName(name) + "): ";
  }

  // Follows the chain that starts at `first` for the entry at
  // `entry_offset`. Each cluster may belong to one chain only: meeting a
  // cluster a second time is a loop (same chain) or a cross-link (another
  // chain), so no walk can take more steps than the volume has clusters.
  std::vector<std::uint32_t> WalkChain(std::uint32_t first, std::uint64_t entry_offset, std::u16string_view name) {
    const std::string where = EntryWhere(entry_offset, name);
    const std::uint32_t last_cluster = layout_.cluster_count + 1;
    if (first < kFirstDataCluster || first > last_cluster) {
      Fail(entry_offset, where + "first cluster " + std::to_string(first) +
                             " lies outside the volume's clusters 2.." + std::to_string(last_cluster));
    }
    std::vector<std::uint32_t> chain;
    for (std::uint32_t cluster = first;;) {
      if (owner_[cluster] == entry_offset + 1) {
        Fail(entry_offset, where + "the cluster chain comes back to cluster " + std::to_string(cluster) +
                               " (a loop in the FAT)");
      }
      if (owner_[cluster] != 0) {
        Fail(entry_offset, where + "cluster " + std::to_string(cluster) +
                               " already belongs to the entry at " + HexNumber(owner_[cluster] - 1) +
                               " (cross-linked chains)");
      }
      owner_[cluster] = entry_offset + 1;
      chain.push_back(cluster);
      const std::uint32_t value = next_[cluster];
      if (value >= end_of_chain_) break;
      const std::string at_cluster = where + "cluster " + std::to_string(cluster) + " of the chain ";
      if (value == 0) Fail(entry_offset, at_cluster + "is marked free in the FAT");
      if (value == bad_cluster_) Fail(entry_offset, at_cluster + "is marked bad in the FAT");
      if (value < kFirstDataCluster || value > last_cluster) {
        Fail(entry_offset, at_cluster + "points to " + HexNumber(value) + ", outside the volume's clusters 2.." +
                               std::to_string(last_cluster));
      }
      cluster = value;
    }
    return chain;
  }

  std::vector<Extent> ChainExtents(const std::vector<std::uint32_t>& chain, std::uint64_t bytes) const {
    std::vector<Extent> extents;
    for (std::uint32_t cluster : chain) {
      if (bytes == 0) break;
      const std::uint64_t length = std::min<std::uint64_t>(bytes, layout_.cluster_size);
      const std::uint64_t offset = ClusterOffset(cluster);
      if (!extents.empty() && extents.back().offset + extents.back().length == offset) {
        extents.back().length += length;
      } else {
        extents.push_back({offset, length});
      }
      bytes -= length;
    }
    return extents;
  }

  struct LongName {
    bool active = false;
    std::uint8_t expected = 0;  // order of the next entry we may meet
    std::uint8_t checksum = 0;
    std::uint8_t count = 0;
    char16_t units[kMaxLfnEntries * kLfnUnitsPerEntry] = {};
  };

  // Takes one long-name entry into `lfn`; a piece out of sequence drops what
  // was gathered, so the short entry after it shows its short name.
  void TakeLongNameEntry(std::uint64_t at, std::uint8_t first, LongName& lfn) const {
    const std::uint8_t order = first & kLfnOrderMask;
    const std::uint8_t checksum = reader_.U8(at + kLfnChecksumOffset, "FAT long name checksum");
    if (first & kLfnLastFlag) {
      lfn = LongName{};
      if (order == 0 || order > kMaxLfnEntries) return;
      lfn.active = true;
      lfn.count = order;
      lfn.checksum = checksum;
    } else if (!lfn.active || order != lfn.expected || checksum != lfn.checksum) {
      lfn.active = false;
      return;
    }
    if (order == 0) {
      lfn.active = false;
      return;
    }
    for (std::uint32_t i = 0; i < kLfnUnitsPerEntry; ++i) {
      lfn.units[(order - 1) * kLfnUnitsPerEntry + i] =
          static_cast<char16_t>(reader_.U16(at + kLfnUnitOffsets[i], "FAT long name"));
    }
    lfn.expected = order - 1;
  }

  // The long name for the short entry that follows `lfn`, or nullopt when
  // the pieces are incomplete or their checksum is not that of the entry.
  static std::optional<std::u16string> FinishLongName(const LongName& lfn, const ShortName& short_name) {
    if (!lfn.active || lfn.expected != 0 || lfn.checksum != ShortNameChecksum(short_name)) return std::nullopt;
    std::u16string name;
    for (std::uint32_t i = 0; i < lfn.count * kLfnUnitsPerEntry; ++i) {
      if (lfn.units[i] == 0) break;
      name += lfn.units[i];
    }
    return name;
  }

  // Reads the entries of one folder, stored in `extents` (the root region,
  // or the clusters of a folder's chain), into `folder`.
  void ParseFolder(FatFolder& folder, const std::vector<Extent>& extents, bool is_root, int depth) {
    std::unordered_map<std::u16string, std::uint64_t> seen;
    std::vector<std::pair<std::size_t, std::vector<Extent>>> subfolder_extents;
    LongName lfn;
    for (const Extent& extent : extents) {
      for (std::uint64_t at = extent.offset; at + kDirEntrySize <= extent.offset + extent.length;
           at += kDirEntrySize) {
        const std::uint8_t first = reader_.U8(at, "FAT directory entry");
        if (first == kEntryEnd) goto done;
        if (first == kEntryDeleted) {
          lfn.active = false;
          continue;
        }
        const std::uint8_t attributes = reader_.U8(at + kEntryAttributesOffset, "FAT entry attributes");
        if ((attributes & kAttLongNameMask) == kAttLongName) {
          TakeLongNameEntry(at, first, lfn);
          continue;
        }
        ShortName short_name;
        std::memcpy(short_name.data(), reader_.Bytes(at + kEntryNameOffset, kShortNameSize, "FAT short name").data(),
                    kShortNameSize);
        const LongName gathered = lfn;
        lfn.active = false;
        if (attributes & kAttVolumeLabel) {
          if (is_root && volume_->label.empty()) volume_->label = TrimmedText(short_name);
          continue;
        }
        static constexpr ShortName kDot = {'.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        static constexpr ShortName kDotDot = {'.', '.', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' ', ' '};
        if (short_name == kDot || short_name == kDotDot) {
          if (is_root) Fail(at, "FAT directory entry at " + HexNumber(at) + ": a \".\" or \"..\" entry in the root folder");
          continue;
        }
        ReadEntry(folder, at, short_name, attributes, gathered, seen, depth, subfolder_extents);
      }
    }
  done:
    for (auto& [index, sub_extents] : subfolder_extents) {
      ParseFolder(folder.folders[index], sub_extents, false, depth + 1);
    }
  }

  void ReadEntry(FatFolder& folder, std::uint64_t at, const ShortName& short_name, std::uint8_t attributes,
                 const LongName& lfn, std::unordered_map<std::u16string, std::uint64_t>& seen, int depth,
                 std::vector<std::pair<std::size_t, std::vector<Extent>>>& subfolder_extents) {
    const std::uint8_t case_flags = reader_.U8(at + kEntryCaseOffset, "FAT case flags");
    std::u16string name;
    if (auto long_name = FinishLongName(lfn, short_name)) {
      name = std::move(*long_name);
    } else {
      name = ShortNameText(short_name, case_flags);
      // Bytes above ASCII mean letters of a code page the entry does not
      // name (0x05 in front stands for 0xE5); guessing would extract a
      // wrong name.
      for (std::size_t i = 0; i < kShortNameSize; ++i) {
        const std::uint8_t byte = (i == 0 && short_name[i] == kEntryKanjiE5) ? kEntryDeleted : short_name[i];
        if (byte >= 0x80) {
          Fail(at, "FAT directory entry at " + HexNumber(at) + ": short name " + QuotedName(name) + " holds the byte " +
                       HexNumber(byte) + " of an unknown code page and has no long name");
        }
      }
    }
    const std::string where = EntryWhere(at, name);
    if (const auto problem = FatNameProblem(name)) {
      Fail(at, where + "the name cannot be extracted: " + *problem);
    }
    const auto [it, inserted] = seen.emplace(FoldFatCase(name), at);
    if (!inserted) {
      Fail(at, where + "the name repeats the name of the entry at " + HexNumber(it->second) +
                   " in the same folder (names match ignoring case)");
    }
    const std::uint32_t first_cluster = reader_.U16(at + kEntryClusterOffset, "FAT first cluster");
    const FatTimestamp modified{reader_.U16(at + kEntryDateOffset, "FAT date"),
                                reader_.U16(at + kEntryTimeOffset, "FAT time")};
    if (attributes & kAttDirectory) {
      if (depth + 1 > kMaxFolderDepth) {
        Fail(at, where + "folders nest deeper than " + std::to_string(kMaxFolderDepth) + " levels");
      }
      if (first_cluster == 0) Fail(at, where + "a folder without a cluster");
      FatFolder sub;
      sub.name = std::move(name);
      sub.short_name = short_name;
      sub.entry_offset = at;
      sub.attributes = attributes;
      sub.modified = modified;
      sub.first_cluster = first_cluster;
      const std::vector<std::uint32_t> chain = WalkChain(first_cluster, at, sub.name);
      subfolder_extents.emplace_back(folder.folders.size(),
                                     ChainExtents(chain, std::uint64_t{chain.size()} * layout_.cluster_size));
      folder.folders.push_back(std::move(sub));
      ++volume_->folder_count;
      return;
    }
    FatFile file;
    file.name = std::move(name);
    file.short_name = short_name;
    file.entry_offset = at;
    file.attributes = attributes;
    file.modified = modified;
    file.first_cluster = first_cluster;
    file.size = reader_.U32(at + kEntrySizeOffset, "FAT file size");
    if (first_cluster == 0) {
      if (file.size != 0) {
        Fail(at, where + "size " + std::to_string(file.size) + " but no first cluster");
      }
    } else {
      const std::vector<std::uint32_t> chain = WalkChain(first_cluster, at, file.name);
      const std::uint64_t chain_bytes = std::uint64_t{chain.size()} * layout_.cluster_size;
      if (chain_bytes < file.size) {
        Fail(at, where + "the cluster chain of " + std::to_string(chain.size()) + " clusters holds " +
                     std::to_string(chain_bytes) + " bytes, fewer than the file size " + std::to_string(file.size));
      }
      file.extents = ChainExtents(chain, file.size);
    }
    folder.files.push_back(std::move(file));
    ++volume_->file_count;
  }

  ByteReader reader_;
  const VolumeLayout& layout_;
  std::vector<std::uint32_t> next_;
  // For each cluster, 1 + the offset of the entry whose chain holds it; 0
  // while no chain has reached it.
  std::vector<std::uint64_t> owner_;
  std::uint32_t end_of_chain_ = 0;
  std::uint32_t bad_cluster_ = 0;
  FatVolume* volume_ = nullptr;
};

}  // namespace

FatGeometry ParseFatGeometry(const SegmentedBytes& image, std::string_view image_name) {
  const auto fail = [&](std::uint64_t offset, const std::string& reason) {
    throw FormatError(image_name, offset, "FAT boot sector at " + HexNumber(offset) + ": " + reason);
  };
  if (image.size() < kBootSectorSize) {
    throw FormatError(image_name, 0,
                      "the file holds " + std::to_string(image.size()) + " bytes, fewer than the 512-byte FAT boot sector");
  }
  const ByteReader reader(image, image_name, rofs::ThrowFormatError);
  const std::vector<std::uint8_t> jump = reader.Bytes(0, 3, "jump");
  if (!(jump[0] == 0xE9 || (jump[0] == 0xEB && jump[2] == 0x90))) {
    fail(0, "jump " + SpacedHex(jump) + " is neither E9 xx xx nor EB xx 90");
  }
  const std::vector<std::uint8_t> signature = reader.Bytes(kBootSignatureOffset, 2, "boot signature");
  if (signature[0] != 0x55 || signature[1] != 0xAA) {
    fail(kBootSignatureOffset, "signature " + SpacedHex(signature) + " is not 55 AA");
  }
  FatGeometry geometry;
  BootSector& boot = geometry.boot;
  boot.oem_name = TrimmedText(reader.Bytes(kOemNameOffset, kOemNameSize, "OEM name"));
  boot.bytes_per_sector = reader.U16(kBytesPerSectorOffset, "bytes per sector");
  boot.sectors_per_cluster = reader.U8(kSectorsPerClusterOffset, "sectors per cluster");
  boot.reserved_sectors = reader.U16(kReservedSectorsOffset, "reserved sectors");
  boot.fat_count = reader.U8(kFatCountOffset, "FAT count");
  boot.root_entries = reader.U16(kRootEntriesOffset, "root entries");
  const std::uint16_t total16 = reader.U16(kTotalSectors16Offset, "total sectors");
  boot.total_sectors = total16 != 0 ? total16 : reader.U32(kTotalSectors32Offset, "total sectors");
  boot.media = reader.U8(kMediaOffset, "media byte");
  boot.sectors_per_fat = reader.U16(kSectorsPerFatOffset, "sectors per FAT");
  boot.hidden_sectors = reader.U32(kHiddenSectorsOffset, "hidden sectors");
  boot.has_extended_fields = reader.U8(kExtendedSignatureOffset, "extended signature") == kExtendedSignature;
  if (boot.has_extended_fields) {
    boot.serial = reader.U32(kSerialOffset, "serial");
    boot.bpb_label = TrimmedText(reader.Bytes(kBpbLabelOffset, 11, "volume label"));
  }

  if (!IsPowerOfTwo(boot.bytes_per_sector) || boot.bytes_per_sector < 512 || boot.bytes_per_sector > 4096) {
    fail(kBytesPerSectorOffset, "bytes per sector " + std::to_string(boot.bytes_per_sector) +
                                    " is not 512, 1024, 2048 or 4096");
  }
  if (!IsPowerOfTwo(boot.sectors_per_cluster)) {
    fail(kSectorsPerClusterOffset,
         "sectors per cluster " + std::to_string(boot.sectors_per_cluster) + " is not a power of two");
  }
  if (boot.reserved_sectors == 0) fail(kReservedSectorsOffset, "reserved sectors 0; the boot sector needs one");
  if (boot.fat_count == 0) fail(kFatCountOffset, "FAT count 0");
  if (boot.root_entries == 0) fail(kRootEntriesOffset, "root entries 0; FAT12 and FAT16 keep a root folder there");
  // With a part-filled last root sector, drivers disagree on where the data
  // region starts (mtools rounds down, dosfstools up), so no reading of
  // such a volume can be trusted.
  if ((std::uint32_t{boot.root_entries} * kDirEntrySize) % boot.bytes_per_sector != 0) {
    fail(kRootEntriesOffset, "root entries " + std::to_string(boot.root_entries) + " do not fill whole sectors of " +
                                 std::to_string(boot.bytes_per_sector) +
                                 " bytes, so where the data region starts is in doubt");
  }
  if (boot.sectors_per_fat == 0) {
    fail(kSectorsPerFatOffset, "sectors per FAT 0 (a FAT32 volume, which this reader does not take)");
  }
  if (boot.total_sectors == 0) fail(kTotalSectors32Offset, "total sectors 0");

  VolumeLayout& layout = geometry.layout;
  const std::uint64_t sector = boot.bytes_per_sector;
  layout.cluster_size = boot.bytes_per_sector * boot.sectors_per_cluster;
  layout.fat_offset = boot.reserved_sectors * sector;
  layout.fat_size = boot.sectors_per_fat * sector;
  layout.root_offset = layout.fat_offset + boot.fat_count * layout.fat_size;
  layout.root_size = std::uint64_t{boot.root_entries} * kDirEntrySize;
  layout.data_offset = layout.root_offset + layout.root_size;
  layout.volume_size = boot.total_sectors * sector;
  if (layout.data_offset >= layout.volume_size) {
    fail(kTotalSectors16Offset, "total sectors " + std::to_string(boot.total_sectors) +
                                    " leave no data region after the FATs and the root folder (data at " +
                                    HexNumber(layout.data_offset) + ")");
  }
  if (layout.volume_size > image.size()) {
    fail(kTotalSectors16Offset, "the volume of " + std::to_string(boot.total_sectors) + " sectors (" +
                                    HexNumber(layout.volume_size) + " bytes) is larger than the file (" +
                                    HexNumber(image.size()) + " bytes); the image is cut short");
  }
  const std::uint64_t clusters = (layout.volume_size - layout.data_offset) / layout.cluster_size;
  if (clusters == 0) fail(kTotalSectors16Offset, "the data region holds no whole cluster");
  if (clusters > kMaxFat16Clusters) {
    fail(kTotalSectors16Offset, std::to_string(clusters) +
                                    " clusters make a FAT32 volume, which this reader does not take");
  }
  layout.cluster_count = static_cast<std::uint32_t>(clusters);
  layout.type = clusters <= kMaxFat12Clusters ? FatType::kFat12 : FatType::kFat16;
  const std::uint64_t entries = clusters + kFirstDataCluster;
  const std::uint64_t fat_bytes_needed = layout.type == FatType::kFat12 ? (entries * 3 + 1) / 2 : entries * 2;
  if (layout.fat_size < fat_bytes_needed) {
    fail(kSectorsPerFatOffset, "sectors per FAT " + std::to_string(boot.sectors_per_fat) + " hold " +
                                   std::to_string(layout.fat_size) + " bytes, fewer than the " +
                                   std::to_string(fat_bytes_needed) + " that " + TypeName(layout.type) +
                                   " entries for " + std::to_string(clusters) + " clusters take");
  }
  return geometry;
}

FatGeometry ParseFatGeometry(std::span<const std::uint8_t> image, std::string_view image_name) {
  return ParseFatGeometry(SegmentedBytes(image), image_name);
}

FatVolume ParseFatImage(const SegmentedBytes& image, std::string_view image_name) {
  FatVolume volume;
  volume.geometry = ParseFatGeometry(image, image_name);
  TreeParser(image, image_name, volume.geometry).Parse(volume);
  return volume;
}

FatVolume ParseFatImage(std::span<const std::uint8_t> image, std::string_view image_name) {
  return ParseFatImage(SegmentedBytes(image), image_name);
}

std::vector<std::string_view> FilePieces(std::span<const std::uint8_t> image, const FatFile& file) {
  std::vector<std::string_view> pieces;
  for (const Extent& extent : file.extents) {
    pieces.emplace_back(reinterpret_cast<const char*>(image.data()) + extent.offset, extent.length);
  }
  return pieces;
}

std::string FileBytes(std::span<const std::uint8_t> image, const FatFile& file) {
  std::string bytes;
  bytes.reserve(file.size);
  for (std::string_view piece : FilePieces(image, file)) bytes += piece;
  return bytes;
}

std::vector<Text> DescribeFatVolume(const FatVolume& volume) {
  const VolumeLayout& layout = volume.geometry.layout;
  const BootSector& boot = volume.geometry.boot;
  const std::uint64_t cluster = layout.cluster_size;
  const Text serial = boot.has_extended_fields
                         ? Text(HexDigits(boot.serial >> 16, 4) + "-" + HexDigits(boot.serial & 0xFFFF, 4))
                         : Text("无");
  const auto bytes = [](std::uint64_t count) { return std::to_string(count); };
  return {
      Text("文件系统:       %1, %2 个簇, 每簇 %3 字节, %4 个 FAT%5",
           {TypeName(layout.type), bytes(layout.cluster_count), bytes(cluster), bytes(boot.fat_count),
            volume.fat_copies_agree ? Text("") : Text(" (副本不一致)")}),
      Text("卷标:           %1, 序列号 %2",
           {volume.label.empty() ? Text("无") : Text("\"" + volume.label + "\""), serial}),
      Text("空间:           %1 字节, 已用 %2, 空闲 %3%4",
           {bytes(layout.cluster_count * cluster), bytes(volume.used_clusters * cluster),
            bytes(volume.free_clusters * cluster),
            volume.bad_clusters != 0 ? Text(", 坏簇中 %1", {bytes(volume.bad_clusters * cluster)}) : Text("")}),
      Text("文件夹:         根目录下 %1 个", {bytes(volume.folder_count)}),
      Text("文件数:         %1", {bytes(volume.file_count)}),
  };
}

}  // namespace larkspur::fat
