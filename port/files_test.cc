#include "port/files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "port/errors.h"
#include "port/expected_reasons.h"
#include "port/scratch_folder.h"

namespace larkspur::port {
namespace {

TEST(FilesTest, WriteFileReplacingReplacesWholeAndLeavesNoTemporary) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("out.img", std::string(100, 'x'));
  WriteFileReplacing(path, {"ab", "", "cd"});
  EXPECT_EQ(folder.Read("out.img"), "abcd");
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  EXPECT_EQ(entries.size(), 1u);
}

TEST(FilesTest, WriteIntoAMissingFolderNamesTheFinalPath) {
  testing::ScratchFolder folder;
  const std::string path = JoinPath(folder.path(), "temp/rofs2.img");
  try {
    WriteFileReplacing(path, {"x"});
    FAIL() << "no error";
  } catch (const FileCreateError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create file \"" + path + "\". " + testing::MissingFolderReason());
  }
}

TEST(FilesTest, MoveNeverOverwrites) {
  testing::ScratchFolder folder;
  const std::string from = folder.Write("a", "new");
  const std::string to = folder.Write("b", "old");
  EXPECT_FALSE(MoveFileNoReplace(from, to));
  EXPECT_EQ(folder.Read("b"), "old");
  EXPECT_TRUE(DeleteFile(to));
  EXPECT_TRUE(MoveFileNoReplace(from, to));
  EXPECT_EQ(folder.Read("b"), "new");
  EXPECT_FALSE(folder.Exists("a"));
}

// Windows marks hidden entries by attribute, and making a link needs a
// privilege there: files_win32_test.cc covers the listing on Windows.
#ifndef _WIN32
TEST(FilesTest, ListingMarksHiddenNamesFoldersAndLinks) {
  testing::ScratchFolder folder;
  folder.Write(".hidden", "");
  folder.Write("sub/file", "");
  std::filesystem::create_directory_symlink(folder.Path("sub"), folder.Path("link"));
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_TRUE(entries[0].is_hidden);
  EXPECT_FALSE(entries[0].is_directory);
  EXPECT_TRUE(entries[1].is_symlink && entries[1].is_directory);
  EXPECT_TRUE(entries[2].is_directory && !entries[2].is_symlink);
  EXPECT_FALSE(ListDirectory(folder.Path("missing"), entries));
}
#endif

TEST(FilesTest, ReadWholeFileKeepsRoomAroundTheContent) {
  testing::ScratchFolder folder;
  std::string dest;
  ASSERT_TRUE(ReadWholeFile(folder.Write("f", "abc"), dest, 100, 2, 10));
  EXPECT_EQ(dest, std::string("\0\0abc", 5));
  EXPECT_GE(dest.capacity(), 15u);
  EXPECT_THROW(ReadWholeFile(folder.Path("f"), dest, 2), FileIoError);
  EXPECT_EQ(dest, std::string("\0\0abc", 5));
}

TEST(FilesTest, ReloadWholeFileReadsIntoTheStorageItHolds) {
  testing::ScratchFolder folder;
  std::string dest(100, 'x');
  const char* storage = dest.data();
  ASSERT_TRUE(ReloadWholeFile(folder.Write("small", "abc"), dest, 100));
  EXPECT_EQ(dest, "abc");
  EXPECT_EQ(dest.data(), storage);

  const std::string large(1000, 'b');
  const std::string large_path = folder.Write("large", large);
  ASSERT_TRUE(ReloadWholeFile(large_path, dest, 2000));
  EXPECT_EQ(dest, large);

  EXPECT_FALSE(ReloadWholeFile(folder.Path("missing"), dest, 2000));
  EXPECT_FALSE(ReloadWholeFile(folder.Write("empty", ""), dest, 2000));
  EXPECT_THROW(ReloadWholeFile(large_path, dest, 999), FileIoError);
  EXPECT_EQ(dest, large);
}

}  // namespace
}  // namespace larkspur::port
