// What a firmware file's payload holds: where its partition image starts and
// what kind of image it is. The partition magics live here; carving and the
// firmware check use them. Pure functions on bytes; never throw.
#ifndef LARKSPUR_FORMAT_PARTITION_H_
#define LARKSPUR_FORMAT_PARTITION_H_

#include <cstddef>
#include <optional>
#include <string_view>

namespace larkspur {

// "ROFS0" FF: the ROFS header's identifier, header size 0x30 and reserved
// byte; and the jump E9 00 90 that the partition magic search uses for FAT.
inline constexpr char kRofsMagicHex[] = "524F465330FF";
inline constexpr char kFat16MagicHex[] = "E90090";

inline constexpr std::size_t kSectorSize = 512;

// True when the 512 bytes at the start of `sector` are a FAT boot sector: a
// jump (E9 xx xx or EB xx 90), the signature 55 AA at 510, and a sane BIOS
// parameter block (bytes per sector a power of two from 512 to 4096,
// sectors per cluster a power of two, at least one reserved sector, one or
// two FATs, some root entries and a size in sectors, sectors per FAT).
bool IsFatBootSector(std::string_view sector);

// True when the 512 bytes at the start of `sector` are the boot sector of a
// FAT32 volume: a jump, 55 AA, no root entries and no 16-bit FAT size, a
// 32-bit FAT size at 0x24. IsFatBootSector takes these too.
bool IsFat32BootSector(std::string_view sector);

// Where a FAT boot sector starts in `payload`: at a 512-byte boundary with
// nothing but zero bytes before it. Nothing when there is none.
std::optional<std::size_t> FindFatBootSector(std::string_view payload);

// Where the ROFS header ("ROFS0" FF) first occurs in `payload`.
std::optional<std::size_t> FindRofsHeader(std::string_view payload);

// True when `payload` starts with a ROFS header, at its first byte or after
// a header of up to 64 KiB in front of it, as real images have.
bool StartsWithRofsHeader(std::string_view payload);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_PARTITION_H_
