// Test helpers: what a folder tree holds, to compare a tree a program wrote
// with the one expected, and to lay out a source tree. Test code only.
#ifndef LARKSPUR_TESTING_TREE_SNAPSHOT_H_
#define LARKSPUR_TESTING_TREE_SNAPSHOT_H_

#include <filesystem>
#include <map>
#include <set>
#include <string>

namespace larkspur::testing {

// What a folder holds: relative '/'-separated UTF-8 paths, folders with a
// trailing '/', files with their contents.
std::map<std::string, std::string> TreeOf(const std::filesystem::path& folder);

// The files below `folder` (not the folders), as relative '/'-separated
// UTF-8 paths; empty when `folder` does not exist.
std::set<std::string> FilesBelow(const std::filesystem::path& folder);

// "" when the two folders hold the same paths with the same contents;
// otherwise one line per path that is missing, extra or different (without
// the contents, which can be large).
std::string TreeDifference(const std::filesystem::path& actual, const std::filesystem::path& expected);

// Writes `content` to `root`/`relative` (UTF-8), making the folders.
void PutFile(const std::filesystem::path& root, const std::string& relative, const std::string& content);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_TREE_SNAPSHOT_H_
