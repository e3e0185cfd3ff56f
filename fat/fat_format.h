// Layout constants of FAT12 and FAT16 volumes: the boot sector with its BIOS
// parameter block, the directory entry, and the VFAT long-name entry. Offsets
// are byte offsets from the start of the structure; every value is stored
// little-endian.
#ifndef LARKSPUR_FAT_FAT_FORMAT_H_
#define LARKSPUR_FAT_FAT_FORMAT_H_

#include <cstdint>

namespace larkspur::fat {

// Boot sector.
inline constexpr std::uint32_t kBootSectorSize = 512;
inline constexpr std::uint32_t kBootJumpOffset = 0;
inline constexpr std::uint32_t kOemNameOffset = 3;
inline constexpr std::uint32_t kOemNameSize = 8;
inline constexpr std::uint32_t kBytesPerSectorOffset = 11;
inline constexpr std::uint32_t kSectorsPerClusterOffset = 13;
inline constexpr std::uint32_t kReservedSectorsOffset = 14;
inline constexpr std::uint32_t kFatCountOffset = 16;
inline constexpr std::uint32_t kRootEntriesOffset = 17;
inline constexpr std::uint32_t kTotalSectors16Offset = 19;
inline constexpr std::uint32_t kMediaOffset = 21;
inline constexpr std::uint32_t kSectorsPerFatOffset = 22;
inline constexpr std::uint32_t kHiddenSectorsOffset = 28;
inline constexpr std::uint32_t kTotalSectors32Offset = 32;
inline constexpr std::uint32_t kExtendedSignatureOffset = 38;
inline constexpr std::uint8_t kExtendedSignature = 0x29;
inline constexpr std::uint32_t kSerialOffset = 39;
inline constexpr std::uint32_t kBpbLabelOffset = 43;
inline constexpr std::uint32_t kBootSignatureOffset = 510;

// FAT12 holds fewer than 4085 clusters, FAT16 fewer than 65525; the cluster
// count alone decides the type.
inline constexpr std::uint32_t kMaxFat12Clusters = 4084;
inline constexpr std::uint32_t kMaxFat16Clusters = 65524;
inline constexpr std::uint32_t kFirstDataCluster = 2;

// Directory entries.
inline constexpr std::uint32_t kDirEntrySize = 32;
inline constexpr std::uint32_t kEntryNameOffset = 0;  // 8 + 3 bytes, blank-padded
inline constexpr std::uint32_t kShortNameSize = 11;
inline constexpr std::uint32_t kEntryAttributesOffset = 11;
inline constexpr std::uint32_t kEntryCaseOffset = 12;  // lower-case flags below
inline constexpr std::uint32_t kEntryCreateTimeOffset = 14;
inline constexpr std::uint32_t kEntryCreateDateOffset = 16;
inline constexpr std::uint32_t kEntryAccessDateOffset = 18;
inline constexpr std::uint32_t kEntryClusterHighOffset = 20;
inline constexpr std::uint32_t kEntryTimeOffset = 22;
inline constexpr std::uint32_t kEntryDateOffset = 24;
inline constexpr std::uint32_t kEntryClusterOffset = 26;
inline constexpr std::uint32_t kEntrySizeOffset = 28;

inline constexpr std::uint8_t kEntryEnd = 0x00;      // first name byte: no entries follow
inline constexpr std::uint8_t kEntryDeleted = 0xE5;  // first name byte: free slot
inline constexpr std::uint8_t kEntryKanjiE5 = 0x05;  // stands for a first byte 0xE5
inline constexpr std::uint8_t kCaseLowerBase = 0x08;
inline constexpr std::uint8_t kCaseLowerExtension = 0x10;

inline constexpr std::uint8_t kAttReadOnly = 0x01;
inline constexpr std::uint8_t kAttHidden = 0x02;
inline constexpr std::uint8_t kAttSystem = 0x04;
inline constexpr std::uint8_t kAttVolumeLabel = 0x08;
inline constexpr std::uint8_t kAttDirectory = 0x10;
inline constexpr std::uint8_t kAttArchive = 0x20;
inline constexpr std::uint8_t kAttLongName = 0x0F;  // the four low bits together
inline constexpr std::uint8_t kAttLongNameMask = 0x3F;

// VFAT long-name entries: 13 UTF-16 units each, in three runs.
inline constexpr std::uint32_t kLfnOrderOffset = 0;
inline constexpr std::uint8_t kLfnLastFlag = 0x40;
inline constexpr std::uint8_t kLfnOrderMask = 0x1F;
inline constexpr std::uint32_t kLfnChecksumOffset = 13;
inline constexpr std::uint32_t kLfnUnitsPerEntry = 13;
inline constexpr std::uint32_t kLfnUnitOffsets[kLfnUnitsPerEntry] = {1,  3,  5,  7,  9,  14, 16,
                                                                     18, 20, 22, 24, 28, 30};
inline constexpr std::uint32_t kMaxLongNameUnits = 255;
inline constexpr std::uint32_t kMaxLfnEntries = 20;  // ceil(255 / 13)

// Directories nest at most this deep below the root; deeper is taken for
// damage (a 260-character path cannot go deeper anyway).
inline constexpr int kMaxFolderDepth = 128;

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_FORMAT_H_
