// Which firmware file an extracted tree (rofs2) or FAT image (fat16.img)
// came from. Extract writes the record into the temp folder once the tree
// stands; Repack reads it and refuses to pack a tree into another file.
// A small text of "key=value" lines. Pure functions.
#ifndef LARKSPUR_WORKSPACE_TREE_SOURCE_H_
#define LARKSPUR_WORKSPACE_TREE_SOURCE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur {

struct TreeSource {
  std::string path;                   // full path of the firmware file
  std::int64_t size = 0;              // its size and last write time
  std::int64_t write_time = 0;        // when it was extracted
  std::uint64_t partition_size = 0;  // bytes of the partition image carved from it
  // Zero bytes in front of the partition in the file's payload (a FAT image
  // some files put behind a few empty sectors), written back by Repack.
  std::uint64_t lead = 0;
  int model = 0;                      // the selector's item it was extracted under
  // What the ROFS image's header says that Repack keeps (an image's other
  // header fields are made anew): its version (as the obey file gives it,
  // "1.0(100)"), its maximum size and its time stamp. Empty, 0, nothing
  // for a FAT image or a header that could not be read.
  std::string rofs_version;
  std::uint32_t rofs_max_size = 0;
  std::optional<std::int64_t> rofs_time;  // Symbian time

  bool SameFile(const TreeSource& other) const {
    return path == other.path && size == other.size && write_time == other.write_time;
  }
};

std::string FormatTreeSource(const TreeSource& source);

// Nothing when `text` is not a whole record (a damaged record is as good as
// none: the tree is then extracted again).
std::optional<TreeSource> ParseTreeSource(std::string_view text);

}  // namespace larkspur

#endif  // LARKSPUR_WORKSPACE_TREE_SOURCE_H_
