#include "fat/folder_record.h"

#include <map>
#include <system_error>

#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
constexpr char kRecordHeading[] = "larkspur folder record 1\n";

std::string Escaped(const std::string& path) {
  std::string text;
  for (char c : path) {
    if (c == '\\') {
      text += "\\\\";
    } else if (c == '\n') {
      text += "\\n";
    } else {
      text += c;
    }
  }
  return text;
}

// `path` below `folder`, names joined by '/' on every system, each in the
// program's path bytes (UTF-8 on Windows, whatever its ANSI code page).
std::string RelativeText(const fs::path& path, const fs::path& folder) {
  std::string text;
  for (const fs::path& name : path.lexically_relative(folder)) {
    if (!text.empty()) text += '/';
    text += rofs::HostPathToBytes(name);
  }
  return text;
}

}  // namespace

std::string RecordFolderState(const fs::path& folder) {
  // Sorted by path, so the same folder gives the same text whatever order
  // the system lists it in.
  std::map<std::string, std::string> lines;
  std::error_code error;
  fs::recursive_directory_iterator it(folder, error), end;
  for (; !error && it != end; it.increment(error)) {
    const fs::path& path = it->path();
    const std::string relative = Escaped(RelativeText(path, folder));
    const fs::file_status status = it->symlink_status(error);
    if (error) break;
    if (fs::is_directory(status)) {
      lines[relative] = "d " + relative + "\n";
      continue;
    }
    const std::uintmax_t size = fs::is_regular_file(status) ? it->file_size(error) : 0;
    if (error) break;
    const auto time = fs::is_symlink(status) ? fs::file_time_type() : fs::last_write_time(path, error);
    if (error) break;
    lines[relative] = "f " + std::to_string(size) + " " + std::to_string(time.time_since_epoch().count()) + " " +
                      relative + "\n";
  }
  if (error) {
    const fs::path where = it == end ? folder : it->path();
    throw rofs::HostFileError("Cannot list folder", rofs::HostPathToBytes(where), error.message());
  }
  std::string record = kRecordHeading;
  for (const auto& [path, line] : lines) record += line;
  return record;
}

bool FolderMatchesRecord(const fs::path& folder, const std::string& record) {
  if (record.rfind(kRecordHeading, 0) != 0) return false;
  try {
    return RecordFolderState(folder) == record;
  } catch (const rofs::HostFileError&) {
    return false;
  }
}

std::string RecordFolderState(const std::string& folder) { return RecordFolderState(port::FileSystemPath(folder)); }

bool FolderMatchesRecord(const std::string& folder, const std::string& record) {
  return FolderMatchesRecord(port::FileSystemPath(folder), record);
}

}  // namespace larkspur::fat
