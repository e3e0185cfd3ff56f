#include "rofs/image_file.h"

#include <system_error>

#include "port/errors.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"

namespace larkspur::rofs {
namespace {

constexpr std::uint64_t kMaxImageFileSize = 0xFFFFFFFF;
constexpr std::uint64_t kMaxTextFileSize = 0x7FFFFFFF;

// The whole file into `dest` through port::ReadWholeFile. Own words for the
// common cases, so the message reads the same on every system; the system's
// reason otherwise. port opens by the path's bytes as the rest of the
// program does (UTF-8 on Windows, through the wide calls).
template <typename Bytes>
Bytes LoadWhole(const std::filesystem::path& path, std::string_view display_name, std::uint64_t max_size) {
  std::error_code error;
  const auto type = std::filesystem::status(path, error).type();
  if (type == std::filesystem::file_type::not_found) {
    throw HostFileError("Cannot open file", display_name, "no such file");
  }
  if (error) throw HostFileError("Cannot open file", display_name, error.message());
  if (type != std::filesystem::file_type::regular) {
    throw HostFileError("Cannot open file", display_name, "not a regular file");
  }
  Bytes bytes;
  try {
    // False only for an empty file here (or one gone since): no bytes.
    port::ReadWholeFile(HostPathToBytes(path), bytes, max_size);
  } catch (const FileOpenError& e) {
    throw HostFileError("Cannot open file", display_name, e.reason());
  } catch (const FileError& e) {
    throw HostFileError("Cannot read file", display_name, e.reason());
  }
  return bytes;
}

}  // namespace

std::vector<std::uint8_t> ReadImageFile(const std::filesystem::path& path,
                                        std::string_view display_name) {
  return LoadWhole<std::vector<std::uint8_t>>(path, display_name, kMaxImageFileSize);
}

std::string ReadTextFile(const std::filesystem::path& path, std::string_view display_name) {
  return LoadWhole<std::string>(path, display_name, kMaxTextFileSize);
}

}  // namespace larkspur::rofs
