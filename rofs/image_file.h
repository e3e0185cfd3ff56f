// Loads files from the host in one read: images for the parsers that take a
// span of bytes, and obey files. Both go through port::ReadWholeFile, the
// project's one loader, and report in this library's words (HostFileError).
// Stateless; safe from any thread.
#ifndef LARKSPUR_ROFS_IMAGE_FILE_H_
#define LARKSPUR_ROFS_IMAGE_FILE_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::rofs {

// The bytes of the image file at `path`; empty for an empty file. Image
// addresses are 32-bit, so a file of more than 4 GiB is refused. Allocates
// exactly what it reads. Throws HostFileError naming `display_name`:
// "Cannot open file" with "no such file" or "not a regular file", or the
// system's reason; "Cannot read file" when a read fails or the file is too
// large.
std::vector<std::uint8_t> ReadImageFile(const std::filesystem::path& path,
                                        std::string_view display_name);

// The whole text of the file at `path` (an obey file), as bytes; empty for
// an empty file. Throws HostFileError as ReadImageFile does; a text file of
// 2 GiB or more is refused.
std::string ReadTextFile(const std::filesystem::path& path, std::string_view display_name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_IMAGE_FILE_H_
