#include "format/partition.h"

#include <cstdint>

#include "base/byte_order.h"
#include "format/hex_text.h"

namespace larkspur {
namespace {

constexpr std::size_t kRofsLeadLimit = 0x10000;

unsigned Byte(std::string_view bytes, std::size_t offset) { return static_cast<unsigned char>(bytes[offset]); }

bool IsPowerOfTwo(unsigned value) { return value != 0 && (value & (value - 1)) == 0; }

}  // namespace

bool IsFatBootSector(std::string_view sector) {
  if (sector.size() < kSectorSize) return false;
  const bool jump = Byte(sector, 0) == 0xE9 || (Byte(sector, 0) == 0xEB && Byte(sector, 2) == 0x90);
  if (!jump || Byte(sector, 510) != 0x55 || Byte(sector, 511) != 0xAA) return false;
  const unsigned bytes_per_sector = ReadLittleEndian16(sector, 11);
  const unsigned sectors_per_cluster = Byte(sector, 13);
  const unsigned reserved_sectors = ReadLittleEndian16(sector, 14);
  const unsigned fat_count = Byte(sector, 16);
  const unsigned root_entries = ReadLittleEndian16(sector, 17);
  const std::uint32_t total_sectors = ReadLittleEndian16(sector, 19) != 0
                                          ? ReadLittleEndian16(sector, 19)
                                          : ReadLittleEndian32(sector, 32);
  const unsigned sectors_per_fat = ReadLittleEndian16(sector, 22);
  // A FAT32 volume keeps its root folder in clusters and its FAT size at
  // 0x24: still a FAT volume, whose boot sector is where the image starts.
  const bool fat32 = root_entries == 0 && sectors_per_fat == 0 && ReadLittleEndian32(sector, 36) > 0;
  return IsPowerOfTwo(bytes_per_sector) && bytes_per_sector >= 512 && bytes_per_sector <= 4096 &&
         IsPowerOfTwo(sectors_per_cluster) && reserved_sectors >= 1 && (fat_count == 1 || fat_count == 2) &&
         total_sectors > 0 && ((root_entries > 0 && sectors_per_fat > 0) || fat32);
}

bool IsFat32BootSector(std::string_view sector) {
  return IsFatBootSector(sector) && ReadLittleEndian16(sector, 17) == 0 && ReadLittleEndian16(sector, 22) == 0;
}

std::optional<std::size_t> FindFatBootSector(std::string_view payload) {
  for (std::size_t at = 0; kSectorSize <= payload.size() - at && at <= payload.size(); at += kSectorSize) {
    if (IsFatBootSector(payload.substr(at))) return at;
    if (payload.substr(at, kSectorSize).find_first_not_of('\0') != std::string_view::npos) return std::nullopt;
  }
  return std::nullopt;
}

std::optional<std::size_t> FindRofsHeader(std::string_view payload) {
  const std::size_t found = payload.find(HexToBytes(kRofsMagicHex));
  if (found == std::string_view::npos) return std::nullopt;
  return found;
}

bool StartsWithRofsHeader(std::string_view payload) {
  const auto found = FindRofsHeader(payload.substr(0, kRofsLeadLimit + 6));
  return found.has_value() && *found <= kRofsLeadLimit;
}

}  // namespace larkspur
