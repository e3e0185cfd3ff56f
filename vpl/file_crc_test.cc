#include "vpl/file_crc.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <optional>
#include <string>

#include "port/file_view.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"

namespace larkspur::vpl {
namespace {

using testing::PatternBytes;

// Python's zlib.crc32 of the same bytes (PatternBytes by a Python copy of
// it), printed once with "%08x". The large one spans four read buffers and
// ends inside a fifth.
TEST(FileCrcTest, ReadsTheWholeFileThroughItsBuffer) {
  testing::ScratchFolder folder;
  const struct {
    std::size_t size;
    unsigned seed;
    std::uint32_t crc;
  } kFiles[] = {
      {0, 1, 0x00000000},
      {1000, 11, 0x2a1a2703},
      {(1u << 20) + 3, 7, 0x7e6c3cc0},
      {(3u << 20) | 5, 12, 0x59f779dd},
  };
  for (const auto& file : kFiles) {
    const std::string path = folder.Write("f" + std::to_string(file.size), PatternBytes(file.size, file.seed));
    EXPECT_EQ(Crc32OfFile(path), file.crc) << file.size << " bytes";
    port::FileView view;
    if (view.Open(path, std::numeric_limits<std::uint64_t>::max())) {
      EXPECT_EQ(Crc32OfView(view), file.crc) << file.size << " bytes";
    }
  }
  EXPECT_EQ(Crc32OfView(port::FileView()), 0u);
  EXPECT_EQ(Crc32OfFile(folder.Path("missing")), std::nullopt);
  EXPECT_EQ(Crc32OfFile(folder.path()), std::nullopt);  // a folder
}

}  // namespace
}  // namespace larkspur::vpl
