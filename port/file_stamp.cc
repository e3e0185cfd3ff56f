#include <filesystem>

#include "port/files.h"

namespace larkspur::port {

FileStamp StampOfFile(const std::string& path) {
  FileStamp stamp;
  std::error_code error;
  const std::filesystem::path file = FileSystemPath(path);
  if (!std::filesystem::is_regular_file(file, error) || error) return stamp;
  const auto size = std::filesystem::file_size(file, error);
  if (error) return stamp;
  const auto time = std::filesystem::last_write_time(file, error);
  if (error) return stamp;
  stamp.regular = true;
  stamp.size = static_cast<std::int64_t>(size);
  stamp.write_time = static_cast<std::int64_t>(time.time_since_epoch().count());
  return stamp;
}

}  // namespace larkspur::port
