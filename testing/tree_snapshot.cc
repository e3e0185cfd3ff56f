#include "testing/tree_snapshot.h"

#include "testing/test_files.h"

namespace larkspur::testing {

namespace fs = std::filesystem;

std::map<std::string, std::string> TreeOf(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = GenericUtf8(entry.path().lexically_relative(folder));
    if (entry.is_directory()) {
      tree[relative + "/"] = "";
    } else {
      const auto bytes = ReadBytes(entry.path());
      tree[relative] = std::string(bytes.begin(), bytes.end());
    }
  }
  return tree;
}

std::string TreeDifference(const fs::path& actual, const fs::path& expected) {
  const auto have = TreeOf(actual);
  const auto want = TreeOf(expected);
  std::string difference;
  for (const auto& [path, content] : want) {
    const auto it = have.find(path);
    if (it == have.end()) {
      difference += "missing: " + path + "\n";
    } else if (it->second != content) {
      difference += "different content (" + std::to_string(it->second.size()) + " bytes, expected " +
                    std::to_string(content.size()) + "): " + path + "\n";
    }
  }
  for (const auto& [path, content] : have) {
    if (!want.contains(path)) difference += "extra: " + path + "\n";
  }
  return difference;
}

void PutFile(const fs::path& root, const std::string& relative, const std::string& content) {
  const fs::path path = root / Utf8Path(relative);
  fs::create_directories(path.parent_path());
  WriteBytes(path, std::vector<std::uint8_t>(content.begin(), content.end()));
}

std::set<std::string> FilesBelow(const fs::path& folder) {
  std::set<std::string> files;
  std::error_code error;
  if (!fs::exists(folder, error)) return files;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) files.insert(GenericUtf8(entry.path().lexically_relative(folder)));
  }
  return files;
}

}  // namespace larkspur::testing
