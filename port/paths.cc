#include "port/files.h"

namespace larkspur::port {

#ifndef _WIN32
// Windows: wide_paths_win32.cc.
std::filesystem::path FileSystemPath(std::string_view path) { return std::filesystem::path(path); }

std::string PathText(const std::filesystem::path& path) { return path.native(); }
#endif

std::string JoinPath(const std::string& folder, std::string_view relative) {
  std::string result = folder;
  if (!result.empty() && result.back() != '/' && result.back() != '\\') {
    result += kPathSeparator;
  }
  // "./temp/x" and "temp\x" name the same file beside the program.
  while (relative.size() >= 2 && relative[0] == '.' && (relative[1] == '/' || relative[1] == '\\')) {
    relative.remove_prefix(2);
  }
  for (char c : relative) {
    result += (c == '/' || c == '\\') ? kPathSeparator : c;
  }
  return result;
}

std::string FileNamePart(const std::string& path) {
#ifdef _WIN32
  const auto cut = path.find_last_of("\\/:");
#else
  // A backslash is an ordinary character in POSIX file names; names chosen
  // in the dialog use '/'.
  const auto cut = path.find_last_of('/');
#endif
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string FolderPart(const std::string& path) {
  const std::string folder = path.substr(0, path.size() - FileNamePart(path).size());
  return folder.empty() ? std::string(".") + kPathSeparator : folder;
}

}  // namespace larkspur::port
