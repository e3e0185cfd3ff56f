// Reads a FAT12 or FAT16 volume from bytes into a tree of folders and files:
// a span, or an image held in pieces (base/segmented_bytes.h: the partition
// where it lies in a firmware file's payloads, read without a copy). The parser trusts nothing in the bytes: the boot sector's
// geometry is checked field by field and against the size of the bytes,
// every cluster chain is followed through a FAT that lies inside the image
// and may claim each cluster once (which refuses loops and cross-linked
// chains and bounds every walk by the cluster count), every chain must hold
// its file, folders nest at most kMaxFolderDepth deep, and every name is
// checked (FatNameProblem, no two equal names in a folder ignoring case)
// before a caller sees it. Stateless; safe from any thread.
//
// Errors are rofs::FormatError, whose what() is "<image>: <reason>" with the
// offset and the bad value in the reason.
#ifndef LARKSPUR_FAT_FAT_READER_H_
#define LARKSPUR_FAT_FAT_READER_H_

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/segmented_bytes.h"
#include "base/text.h"
#include "fat/fat_names.h"
#include "fat/fat_time.h"

namespace larkspur::fat {

enum class FatType { kFat12, kFat16 };

// The BIOS parameter block as stored.
struct BootSector {
  std::string oem_name;
  std::uint16_t bytes_per_sector = 0;
  std::uint8_t sectors_per_cluster = 0;
  std::uint16_t reserved_sectors = 0;
  std::uint8_t fat_count = 0;
  std::uint16_t root_entries = 0;
  std::uint32_t total_sectors = 0;  // from the 16-bit field, or the 32-bit one when that is 0
  std::uint8_t media = 0;
  std::uint16_t sectors_per_fat = 0;
  std::uint32_t hidden_sectors = 0;
  bool has_extended_fields = false;  // signature 0x29: serial and label below are stored
  std::uint32_t serial = 0;
  std::string bpb_label;  // trailing blanks dropped
};

// Where the regions lie, in bytes from the start of the image.
struct VolumeLayout {
  FatType type = FatType::kFat16;
  std::uint64_t fat_offset = 0;  // the first FAT; the others follow it
  std::uint64_t fat_size = 0;    // bytes of one FAT
  std::uint64_t root_offset = 0;
  std::uint64_t root_size = 0;  // root_entries * 32, whole sectors
  std::uint64_t data_offset = 0;
  std::uint32_t cluster_size = 0;
  std::uint32_t cluster_count = 0;  // clusters 2 .. cluster_count + 1 exist
  std::uint64_t volume_size = 0;    // total_sectors * bytes_per_sector
};

struct FatGeometry {
  BootSector boot;
  VolumeLayout layout;
};

// A run of file bytes in the image.
struct Extent {
  std::uint64_t offset = 0;
  std::uint64_t length = 0;
};

struct FatFile {
  std::u16string name;  // the long name, or the short one when there is no valid long name
  ShortName short_name{};
  std::uint64_t entry_offset = 0;  // the short entry, in the image
  std::uint8_t attributes = 0;
  FatTimestamp modified;
  std::uint32_t first_cluster = 0;
  std::uint32_t size = 0;
  std::vector<Extent> extents;  // together exactly `size` bytes, in file order
};

struct FatFolder {
  std::u16string name;             // empty for the root
  ShortName short_name{};
  std::uint64_t entry_offset = 0;  // 0 for the root, which has no entry
  std::uint8_t attributes = 0;
  FatTimestamp modified;
  std::uint32_t first_cluster = 0;  // 0 for the root
  // Both in the order of their entries.
  std::vector<FatFolder> folders;
  std::vector<FatFile> files;
};

struct FatVolume {
  FatGeometry geometry;
  std::string label;  // the root's label entry, else the boot sector's; "" for none
  FatFolder root;
  std::uint32_t folder_count = 0;  // below the root
  std::uint32_t file_count = 0;
  std::uint32_t used_clusters = 0;
  std::uint32_t free_clusters = 0;
  std::uint32_t bad_clusters = 0;
  bool fat_copies_agree = true;  // every FAT after the first equals the first
};

// Parses and checks the boot sector: a jump E9 xx xx or EB xx 90, 55 AA at
// 510, 512..4096 bytes per sector (a power of two), sectors per cluster a
// power of two up to 128, at least one reserved sector and one FAT, root
// entries that fill whole sectors, sectors per FAT that hold an entry for every
// cluster, a data region after the fixed regions, a volume that the bytes
// hold, and a cluster count of FAT12 or FAT16. Throws rofs::FormatError
// naming `image_name`, the offset and the bad value otherwise.
FatGeometry ParseFatGeometry(const SegmentedBytes& image, std::string_view image_name);
FatGeometry ParseFatGeometry(std::span<const std::uint8_t> image, std::string_view image_name);

// Parses the geometry, the first FAT and the whole folder tree, as the
// header comment says. Each file's data lies in the image afterwards, at
// its extents. Throws rofs::FormatError for anything that breaks the format
// or a name that cannot be extracted.
FatVolume ParseFatImage(const SegmentedBytes& image, std::string_view image_name);
FatVolume ParseFatImage(std::span<const std::uint8_t> image, std::string_view image_name);

// The data of `file` as pieces of `image`, in order. Precondition: `file`
// comes from ParseFatImage of these same bytes.
std::vector<std::string_view> FilePieces(std::span<const std::uint8_t> image, const FatFile& file);

// The data of `file` in one string (same precondition).
std::string FileBytes(std::span<const std::uint8_t> image, const FatFile& file);

// A few lines describing the volume, for listings, as texts of the catalog:
// type, clusters and FATs (and whether the copies differ), label and
// serial, total / used / free bytes, folder and file counts.
std::vector<Text> DescribeFatVolume(const FatVolume& volume);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_READER_H_
