// Loads an image file from the host in one read, for the parsers that take a
// span of bytes. Stateless; safe from any thread.
#ifndef LARKSPUR_ROFS_IMAGE_FILE_H_
#define LARKSPUR_ROFS_IMAGE_FILE_H_

#include <cstdint>
#include <filesystem>
#include <string_view>
#include <vector>

namespace larkspur::rofs {

// The bytes of the file at `path`, at most the first 4 GiB (image addresses
// are 32-bit, so nothing beyond can belong to an image). Allocates exactly
// what it reads. Throws HostFileError naming `display_name` when there is no
// regular file there or it cannot be read whole.
std::vector<std::uint8_t> ReadImageFile(const std::filesystem::path& path,
                                        std::string_view display_name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_IMAGE_FILE_H_
