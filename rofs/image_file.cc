#include "rofs/image_file.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "rofs/rofs_errors.h"

namespace larkspur::rofs {

std::vector<std::uint8_t> ReadImageFile(const std::filesystem::path& path,
                                        std::string_view display_name) {
  constexpr std::uint64_t kMaxBytesRead = 0xFFFFFFFF;
  std::error_code error;
  const auto type = std::filesystem::status(path, error).type();
  // Own words for the common cases, so the message reads the same on every system.
  if (type == std::filesystem::file_type::not_found) {
    throw HostFileError("Cannot open file", display_name, "no such file");
  }
  if (error) throw HostFileError("Cannot open file", display_name, error.message());
  if (type != std::filesystem::file_type::regular) {
    throw HostFileError("Cannot open file", display_name, "not a regular file");
  }
  const std::uint64_t size = std::filesystem::file_size(path, error);
  if (error) throw HostFileError("Cannot open file", display_name, error.message());
  std::ifstream in(path, std::ios::binary);
  if (!in) throw HostFileError("Cannot open file", display_name, "it cannot be opened for reading");
  std::vector<std::uint8_t> bytes(std::min(size, kMaxBytesRead));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (static_cast<std::uint64_t>(in.gcount()) != bytes.size()) {
    throw HostFileError("Cannot read file", display_name, "it ended before its stated size");
  }
  return bytes;
}

}  // namespace larkspur::rofs
