// Builds a FAT12 or FAT16 image from a folder on the host, in the geometry
// of an existing image: same size, same boot sector and reserved region byte
// for byte, same FAT count and root folder size; only the FATs, the root
// folder and the data region are written anew (and the bytes behind the
// volume, if the image file is longer, are kept). The output is a function
// of the original image and the folder's names, contents and times alone:
// the same tree gives the same bytes. Clusters the original FAT marks bad
// stay bad and are never used. Not thread-safe against changes to the
// folder while it is read.
#ifndef LARKSPUR_FAT_FAT_WRITER_H_
#define LARKSPUR_FAT_FAT_WRITER_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "rofs/rofs_errors.h"

namespace larkspur::fat {

// The folder cannot become a volume of this geometry: a name a FAT volume
// cannot carry, something that is neither file nor folder, or more than the
// volume holds. what() names the host path and the reason (and for a volume
// that is too small, the bytes needed and the bytes the volume has).
class FatBuildError : public rofs::RofsError {
 public:
  explicit FatBuildError(const std::string& message) : rofs::RofsError(message) {}
};

// Names every file and folder under `folder` with a VFAT long name when it
// is not a plain upper-case 8.3 name, with an 8.3 short name that clashes
// with none in its folder, "." and ".." in every folder below the root, the
// host's modification times in local time, and files and folders laid out
// in name order, each in consecutive free clusters from the first. Files
// get the archive mark; a file or folder at a path the original volume
// holds (names compared ignoring case) keeps its read-only, hidden and
// system marks from there.
//
// Throws rofs::FormatError when `original` (named `image_name`) is no
// volume ParseFatGeometry accepts, FatBuildError as above, and
// rofs::HostFileError or port's errors when the folder cannot be read.
// Nothing is written anywhere; the caller writes the bytes returned.
std::vector<std::uint8_t> BuildFatImage(std::span<const std::uint8_t> original, std::string_view image_name,
                                        const std::filesystem::path& folder);

// The same, with `folder` one of the program's path strings (UTF-8 on
// Windows too; port/files.h).
std::vector<std::uint8_t> BuildFatImage(std::span<const std::uint8_t> original, std::string_view image_name,
                                        const std::string& folder);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_WRITER_H_
