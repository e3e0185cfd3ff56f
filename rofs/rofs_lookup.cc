#include "rofs/rofs_lookup.h"

#include <map>

#include "base/byte_reader.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_names.h"

namespace larkspur::rofs {
namespace {

class TableChecker {
 public:
  TableChecker(std::span<const std::uint8_t> bytes, const RofsImage& image)
      : reader_(bytes, "", ThrowFormatError),
        tree_end_(std::uint64_t{image.header.dir_tree_offset} + image.header.dir_tree_size) {}

  // The recursion follows the parsed tree, whose depth the reader bounds.
  void Check(const RofsDirectory& dir) {
    CheckTable(dir);
    for (const RofsDirectory& sub : dir.subdirectories) Check(sub);
  }

  std::vector<std::string> TakeProblems() { return std::move(problems_); }

 private:
  void CheckTable(const RofsDirectory& dir) {
    const std::string where = "ROFS directory at " + HexNumber(dir.block_offset) + ": lookup table ";
    const std::uint64_t table = std::uint64_t{dir.block_offset} + dir.struct_size;
    if (table + 4 > tree_end_) {
      problems_.push_back(where + "at " + HexNumber(table) + " lies outside the directory tree");
      return;
    }
    const std::uint16_t dir_count = reader_.U16(table, "lookup table");
    const std::uint16_t file_count = reader_.U16(table + 2, "lookup table");
    if (dir_count != dir.subdirectories.size() || file_count != dir.files.size()) {
      problems_.push_back(where + "counts " + std::to_string(dir_count) + " folders and " +
                          std::to_string(file_count) + " files, the block holds " +
                          std::to_string(dir.subdirectories.size()) + " and " +
                          std::to_string(dir.files.size()));
      return;
    }
    if (table + 4 + 2 * (std::uint64_t{dir_count} + file_count) > tree_end_) {
      problems_.push_back(where + "at " + HexNumber(table) + " runs past the directory tree");
      return;
    }
    std::map<std::uint64_t, const std::u16string*> subdirs_at;
    for (const RofsDirectory& sub : dir.subdirectories) subdirs_at[sub.entry_offset] = &sub.name;
    std::map<std::uint64_t, const std::u16string*> files_at;
    for (const RofsFile& file : dir.files) files_at[file.entry_offset] = &file.name;
    CheckList(where + "folder list", table + 4, dir_count, dir.block_offset, subdirs_at);
    CheckList(where + "file list", table + 4 + 2 * std::uint64_t{dir_count}, file_count,
              dir.file_block_address, files_at);
  }

  void CheckList(const std::string& where, std::uint64_t at, std::uint16_t count,
                 std::uint64_t base,
                 const std::map<std::uint64_t, const std::u16string*>& entries) {
    const std::u16string* previous = nullptr;
    for (std::uint16_t i = 0; i < count; ++i) {
      const std::uint64_t entry = base + 4 * std::uint64_t{reader_.U16(at + 2 * i, "lookup table")};
      const auto found = entries.find(entry);
      if (found == entries.end()) {
        problems_.push_back(where + " item " + std::to_string(i) + " points at " + HexNumber(entry) +
                            ", where no entry of the list starts");
        return;
      }
      if (previous && CompareForLookup(*previous, *found->second) >= 0) {
        problems_.push_back(where + " puts " + QuotedName(*previous) + " before " +
                            QuotedName(*found->second) + ", out of the phone's order");
        return;
      }
      previous = found->second;
    }
  }

  ByteReader reader_;
  std::uint64_t tree_end_;
  std::vector<std::string> problems_;
};

}  // namespace

std::vector<std::string> FindLookupTableProblems(std::span<const std::uint8_t> bytes,
                                                 const RofsImage& image) {
  TableChecker checker(bytes, image);
  checker.Check(image.root);
  return checker.TakeProblems();
}

}  // namespace larkspur::rofs
