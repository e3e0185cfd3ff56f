// Names on a FAT volume: which names a volume (and the host that receives
// them) can carry, how names compare, and the 8.3 short names with their
// long-name checksum. Pure functions; safe from any thread.
#ifndef LARKSPUR_FAT_FAT_NAMES_H_
#define LARKSPUR_FAT_FAT_NAMES_H_

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace larkspur::fat {

// The 11 bytes of a short name as stored: base padded with blanks to 8, then
// the extension padded to 3.
using ShortName = std::array<std::uint8_t, 11>;

// nullopt when `name` can be a file or folder name on a FAT volume and on any
// host; otherwise why not: empty, "." or "..", longer than 255 UTF-16 units,
// a control character, one of " * / : < > ? \ |, a trailing dot or blank, an
// unpaired surrogate, or a device name Windows reserves (CON, PRN, AUX, NUL,
// COM1..COM9, LPT1..LPT9, with or without an extension).
std::optional<std::string> FatNameProblem(std::u16string_view name);

// The key under which a FAT volume takes two names as the same: letters of
// ASCII, Latin-1, Greek and Cyrillic folded to upper case, the rest kept.
std::u16string FoldFatCase(std::u16string_view name);

// The checksum that ties VFAT long-name entries to their short entry.
std::uint8_t ShortNameChecksum(const ShortName& short_name);

// The stored short name when `name` is already a valid upper-case 8.3 name
// of printable ASCII (no long-name entries needed); nullopt otherwise.
std::optional<ShortName> PlainShortName(std::u16string_view name);

// A short name for a name that needs long-name entries, in the usual
// "BASENA~1.EXT" form, not among `taken` (compared as stored); the numeric
// tail grows, shortening the base, until it is free. nullopt only when all
// 999999 tails are taken.
std::optional<ShortName> GenerateShortName(std::u16string_view name, const std::set<ShortName>& taken);

// The name a short entry shows: base, then "." and extension when there is
// one, trailing blanks dropped, lowered as the case flags byte says. Bytes
// 0x80 and above have no agreed meaning and come back as U+FFFD.
std::u16string ShortNameText(const ShortName& short_name, std::uint8_t case_flags);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_NAMES_H_
