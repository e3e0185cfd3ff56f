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
                         const std::string& relative_prefix, std::vector<std::string>& found,
                         std::vector<std::string>* backslash_names) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(folder, entries)) throw FolderListError(folder);
  const auto refused = [&](const port::DirEntry& entry) {
    if (entry.name.find('\\') == std::string::npos) return false;
    // Joined by hand: JoinPath would take the backslash for a separator.
    if (backslash_names) {
      backslash_names->push_back(folder + (folder.ends_with(port::kPathSeparator) ? "" : "/") + entry.name);
    }
    return true;
  };
  for (const port::DirEntry& entry : entries) {
    if (entry.is_directory || !MatchesPattern(entry.name, pattern) || refused(entry)) continue;
    found.push_back(relative_prefix + entry.name);
  }
  if (!recurse) return;
  for (const port::DirEntry& entry : entries) {
    if (!entry.is_directory || entry.is_hidden || entry.is_system || entry.is_symlink || refused(entry)) continue;
    ListFilesDepthFirst(port::JoinPath(folder, entry.name), pattern, true,
                        relative_prefix + entry.name + "\\", found, backslash_names);
  }
}

}  // namespace larkspur
