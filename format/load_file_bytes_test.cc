#include "format/load_file_bytes.h"

#include <gtest/gtest.h>

#include "testing/scratch_folder.h"

namespace larkspur {
namespace {

TEST(LoadFileBytesTest, LoadsTheWholeFileWithZeroBytes) {
  testing::ScratchFolder folder;
  const std::string content("a\0b\xFF", 4);
  ByteString dest = "old";
  EXPECT_TRUE(LoadFileBytes(folder.Write("f.bin", content), dest));
  EXPECT_EQ(dest, content);
}

TEST(LoadFileBytesTest, MissingEmptyOrFolderLeavesDestUntouched) {
  testing::ScratchFolder folder;
  const std::string paths[] = {folder.Path("missing.bin"), folder.Write("empty.bin", ""), folder.path()};
  for (const std::string& path : paths) {
    ByteString dest = "kept";
    EXPECT_FALSE(LoadFileBytes(path, dest)) << path;
    EXPECT_EQ(dest, "kept") << path;
  }
}

}  // namespace
}  // namespace larkspur
