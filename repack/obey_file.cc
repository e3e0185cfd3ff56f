#include "repack/obey_file.h"

#include "port/files.h"

namespace larkspur {

std::string ObeyDataLine(const std::string& relative_path) {
  constexpr std::size_t kFolderPrefixLength = 6;  // "rofs2\"
  const std::string in_image =
      relative_path.size() > kFolderPrefixLength ? relative_path.substr(kFolderPrefixLength) : std::string();
  return "data=\"..\\" + relative_path + "\" \"" + in_image + "\"";
}

std::string JoinObeyLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) {
    text += line;
    text += "\r\n";
  }
  return text;
}

bool MatchesPattern(const std::string& name, const std::string& pattern) {
  if (pattern == "*.*" || pattern == "*") return true;
  // Iterative wildcard match with one backtrack point for the last '*'.
  std::size_t n = 0, p = 0, star = std::string::npos, resume = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (star != std::string::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

void ListFilesDepthFirst(const std::string& folder, const std::string& pattern, bool recurse,
                         const std::string& relative_prefix, std::vector<std::string>& found) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(folder, entries)) return;
  for (const port::DirEntry& entry : entries) {
    if (entry.is_directory || !MatchesPattern(entry.name, pattern)) continue;
    found.push_back(relative_prefix + entry.name);
  }
  if (!recurse) return;
  for (const port::DirEntry& entry : entries) {
    if (!entry.is_directory || entry.is_hidden || entry.is_system || entry.is_symlink) continue;
    ListFilesDepthFirst(port::JoinPath(folder, entry.name), pattern, true,
                        relative_prefix + entry.name + "\\", found);
  }
}

}  // namespace larkspur
