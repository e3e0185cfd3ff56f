#include "repack/obey_file.h"

#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_names.h"
#include "rofs/utf16.h"

namespace larkspur {
namespace {

constexpr std::size_t kFolderPrefixLength = 6;  // "rofs2\"

// The bits obey words can set: attrib= letters R, H and S; exattrib=U.
constexpr std::uint8_t kObeyAttributeBits = rofs::kAttReadOnly | rofs::kAttHidden | rofs::kAttSystem;

std::u16string JoinedKey(const rofs::KeptPath& path) {
  std::u16string joined;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i) joined += u'\\';
    joined += path[i];
  }
  return rofs::FoldAsciiCase(joined);
}

// The image path of a file found below rofs2, folded for comparison, or
// nullopt when its bytes are no name in the host's encoding.
std::optional<std::u16string> FoldedImagePath(const std::string& relative_path) {
  if (relative_path.size() <= kFolderPrefixLength) return std::nullopt;
  const std::optional<std::u16string> name =
      rofs::ImageNameFromObeyBytes(std::string_view(relative_path).substr(kFolderPrefixLength));
  if (!name) return std::nullopt;
  return rofs::FoldAsciiCase(*name);
}

// Every folder a path lies in, as folded keys: "a\b\c" gives "a" and "a\b".
std::vector<std::u16string> FolderKeys(const std::u16string& key) {
  std::vector<std::u16string> folders;
  for (std::size_t at = key.find(u'\\'); at != std::u16string::npos; at = key.find(u'\\', at + 1)) {
    folders.push_back(key.substr(0, at));
  }
  return folders;
}

}  // namespace

std::string ObeyDataLine(const std::string& relative_path) {
  const std::string in_image =
      relative_path.size() > kFolderPrefixLength ? relative_path.substr(kFolderPrefixLength) : std::string();
  return "data=\"..\\" + relative_path + "\" \"" + in_image + "\"";
}

std::string ObeyDataLine(const std::string& relative_path, std::uint8_t attributes,
                         std::uint8_t extra_attributes) {
  std::string line = ObeyDataLine(relative_path);
  // Only the bits a word can set decide whether a word is written.
  if ((attributes & kObeyAttributeBits) != rofs::kDefaultFileAttributes) {
    // attrib= builds the byte from nothing, so W alone stands for 0x00.
    std::string letters;
    if (attributes & rofs::kAttReadOnly) letters += 'R';
    if (attributes & rofs::kAttHidden) letters += 'H';
    if (attributes & rofs::kAttSystem) letters += 'S';
    line += " attrib=" + (letters.empty() ? std::string("W") : letters);
  }
  if (!(extra_attributes & rofs::kExtraAttUnique)) line += " exattrib=U";
  return line;
}

bool ObeyAttributesExpressible(std::uint8_t attributes, std::uint8_t extra_attributes) {
  return (attributes & ~kObeyAttributeBits) == 0 &&
         (extra_attributes | rofs::kExtraAttUnique) == rofs::kDefaultExtraAttributes;
}

std::string ObeyHidePathReason(const rofs::KeptPath& path) {
  for (const std::u16string& name : path) {
    if (name.empty()) return "an empty name";
    if (!rofs::Utf16ToUtf8(name)) return "a name with an unpaired surrogate (no UTF-8 form)";
    for (char16_t unit : name) {
      if (unit == u'"') return "a name with a double quote";
      if (unit < 0x20 || unit == 0x7F) return "a name with a control character";
      if (unit == u'\\' || unit == u'/') return "a name with a folder separator";
    }
  }
  return path.empty() ? "an empty path" : "";
}

std::string ObeyHideLine(const rofs::KeptPath& path) {
  std::string text;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (i) text += '\\';
    text += rofs::Utf16ToUtf8Lossy(path[i]);
  }
  return "hide \"" + text + "\"";
}

ObeyFileLines BuildObeyFileLines(const std::vector<std::string>& relative_paths,
                                 const rofs::KeptEntries& kept) {
  ObeyFileLines result;
  std::unordered_map<std::u16string, const rofs::KeptAttributes*> attributes;
  for (const rofs::KeptAttributes& record : kept.attributes) {
    attributes.emplace(JoinedKey(record.path), &record);
  }
  // What rofs2 holds now, for the hidden entries: a hide line at a file's
  // path, at a folder's or below a file would make the build fail on a
  // duplicate name, and the real file is what the user wants there.
  std::unordered_set<std::u16string> files;
  std::unordered_set<std::u16string> folders;
  std::unordered_set<std::u16string> used_attributes;
  // Without a record to match (most trees), a path's key is not needed:
  // folding the names of 20,000 files would be most of the work.
  const bool match = !kept.attributes.empty() || !kept.hidden.empty();
  result.lines.reserve(relative_paths.size() + kept.hidden.size());
  for (const std::string& relative_path : relative_paths) {
    if (!match) {
      result.lines.push_back(ObeyDataLine(relative_path));
      continue;
    }
    const std::optional<std::u16string> key = FoldedImagePath(relative_path);
    const auto found = key ? attributes.find(*key) : attributes.end();
    if (found == attributes.end()) {
      result.lines.push_back(ObeyDataLine(relative_path));
    } else {
      const rofs::KeptAttributes& record = *found->second;
      result.lines.push_back(
          ObeyDataLine(relative_path, record.attributes, record.extra_attributes));
      if (ObeyAttributesExpressible(record.attributes, record.extra_attributes)) {
        ++result.attributes_kept;
      } else {
        result.attributes_partial.push_back(rofs::KeptPathText(record.path));
      }
      used_attributes.insert(*key);
    }
    // Only the hidden entries ask what rofs2 holds.
    if (key && !kept.hidden.empty()) {
      files.insert(*key);
      for (std::u16string& folder : FolderKeys(*key)) folders.insert(std::move(folder));
    }
  }
  for (const rofs::KeptAttributes& record : kept.attributes) {
    if (!used_attributes.count(JoinedKey(record.path))) {
      result.attributes_without_file.push_back(rofs::KeptPathText(record.path));
    }
  }
  for (const rofs::KeptPath& path : kept.hidden) {
    const std::string reason = ObeyHidePathReason(path);
    if (!reason.empty()) {
      result.hidden_unwritable.push_back(rofs::KeptPathText(path) + ": " + reason);
      continue;
    }
    const std::u16string key = JoinedKey(path);
    const std::vector<std::u16string> key_folders = FolderKeys(key);
    bool taken = files.count(key) || folders.count(key);
    for (const std::u16string& folder : key_folders) taken = taken || files.count(folder);
    if (taken) {
      result.hidden_replaced.push_back(rofs::KeptPathText(path));
      continue;
    }
    result.lines.push_back(ObeyHideLine(path));
    ++result.hidden_kept;
    files.insert(key);
    folders.insert(key_folders.begin(), key_folders.end());
  }
  return result;
}

std::string JoinObeyLines(const std::vector<std::string>& lines) {
  std::size_t size = 0;
  for (const std::string& line : lines) size += line.size() + 2;
  std::string text;
  text.reserve(size);
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
                         std::vector<std::string>* backslash_names, std::vector<std::string>* links) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(folder, entries)) throw FolderListError(folder);
  // Joined by hand: JoinPath would take a backslash for a separator.
  const auto full_path = [&](const port::DirEntry& entry) {
    return folder + (folder.ends_with(port::kPathSeparator) ? "" : "/") + entry.name;
  };
  const auto refused = [&](const port::DirEntry& entry) {
    // A link would put its target's bytes (any file of the host) into the
    // image, or leave a folder out without a word.
    if (entry.is_symlink && links) {
      links->push_back(full_path(entry));
      return true;
    }
    if (entry.name.find('\\') == std::string::npos) return false;
    if (backslash_names) backslash_names->push_back(full_path(entry));
    return true;
  };
  for (const port::DirEntry& entry : entries) {
    if (entry.is_directory || !MatchesPattern(entry.name, pattern) || refused(entry)) continue;
    found.push_back(relative_prefix + entry.name);
  }
  if (!recurse) return;
  for (const port::DirEntry& entry : entries) {
    if (!entry.is_directory || entry.is_hidden || entry.is_system || refused(entry) || entry.is_symlink) continue;
    ListFilesDepthFirst(port::JoinPath(folder, entry.name), pattern, true,
                        relative_prefix + entry.name + "\\", found, backslash_names, links);
  }
}

}  // namespace larkspur
