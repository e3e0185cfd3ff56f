// Writes the files of a parsed FAT volume into a folder on the host, keeping
// the folder structure and every name as the volume shows it, and setting
// each file's and folder's modification time from its FAT time stamp.
// Everything that can be decided without writing is decided first: every
// name is turned into a host name before the first byte goes to disk.
// Nothing is written outside the output folder, a symbolic link met inside
// it is never written through, and every file goes through
// port::WriteFileReplacing. Not thread-safe for two extractions into the
// same folder.
#ifndef LARKSPUR_FAT_FAT_EXTRACT_H_
#define LARKSPUR_FAT_FAT_EXTRACT_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string_view>
#include <vector>

#include "fat/fat_reader.h"

namespace larkspur::fat {

// One folder or file to create, in an order where every folder comes before
// what it holds.
struct FatExtractItem {
  std::filesystem::path relative;      // below the output folder
  const FatFile* file = nullptr;       // set for a file
  const FatFolder* folder = nullptr;   // set for a folder
};

struct FatExtractStats {
  std::size_t folders = 0;  // below the output folder
  std::size_t files = 0;
  std::uint64_t bytes = 0;
};

// Orders the work and turns every name into a host name. Throws
// rofs::FormatError naming `image_name`, the entry's offset and the name
// when this host's file names cannot hold a name (the reader has refused
// every name that is unsafe anywhere). The plan points into `volume`.
std::vector<FatExtractItem> PlanFatExtraction(const FatVolume& volume, std::string_view image_name);

// Plans, then writes every file of `volume` (parsed from `image`) under
// `out_folder`, creating it and every needed folder; existing files of the
// same names are replaced. Files already there that the volume does not
// hold are left alone, and a later BuildFatImage of the folder would take
// them in: a caller that wants the volume's tree alone empties it first. Throws what PlanFatExtraction throws (before
// anything is written), port's FileCreateError when a file cannot be
// written, and rofs::HostFileError when a folder cannot be created, a time
// cannot be set, or a symbolic link or something else stands where a
// folder or file is to be written.
FatExtractStats ExtractFatImage(std::span<const std::uint8_t> image, const FatVolume& volume,
                                std::string_view image_name, const std::filesystem::path& out_folder);

// The same, with `out_folder` one of the program's path strings (UTF-8 on
// Windows too; port/files.h).
FatExtractStats ExtractFatImage(std::span<const std::uint8_t> image, const FatVolume& volume,
                                std::string_view image_name, const std::string& out_folder);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_EXTRACT_H_
