// Test helpers for ROFS images: the reference data beside the repository,
// a small tar reader for the reference input tree, and images built in
// memory by the project's writer. Test code only.
#ifndef LARKSPUR_TESTING_ROFS_IMAGES_H_
#define LARKSPUR_TESTING_ROFS_IMAGES_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "rofs/rofs_writer.h"

namespace larkspur::testing {

// The folder with the reference images and the input trees: testdata/rofs
// of the project. Empty when it is missing, which the golden tests report
// as a failure.
std::filesystem::path ReferenceRofsFolder();

// One member of a tar archive (ustar or GNU).
struct TarEntry {
  std::string path;  // as stored, '/'-separated, no trailing '/'
  bool is_directory = false;
  std::vector<std::uint8_t> data;
};

// Reads the members of a tar archive; throws std::runtime_error when it is
// damaged.
std::vector<TarEntry> ReadTar(std::span<const std::uint8_t> archive);

// Writes the members under `folder`.
void UnpackTar(const std::vector<TarEntry>& entries, const std::filesystem::path& folder);

// A file for an image built in memory: its image path ('\'-separated UTF-8)
// and its bytes.
struct MemoryFile {
  std::string image_path;
  std::string data;
  bool hidden = false;
};

// The image of `files` (lines numbered from 1 in order), with a fixed time.
std::vector<std::uint8_t> BuildInMemory(const std::vector<MemoryFile>& files,
                                        std::uint32_t max_image_size = 0x10000000);

// Fills size and UID fields of `spec` from `contents` and writes the image.
std::vector<std::uint8_t> WriteInMemory(rofs::ImageSpec spec,
                                        const std::vector<std::vector<std::uint8_t>>& contents);

// The image path split at '\' and converted to UTF-16.
std::vector<std::u16string> ImagePath(std::string_view utf8_path);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_ROFS_IMAGES_H_
