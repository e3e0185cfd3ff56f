// The walk below rofs2 on Windows: folders marked hidden or system (as
// Explorer and some phone tools leave them) are not entered, while hidden
// and system files are listed like any other.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include "repack/obey_file.h"
#include "testing/scratch_folder.h"

namespace larkspur {
namespace {

void SetAttributes(const std::string& path, DWORD attributes) {
  ASSERT_TRUE(SetFileAttributesA(path.c_str(), attributes)) << path;
}

TEST(ObeyFileWin32Test, HiddenAndSystemFoldersAreNotEnteredWhileSuchFilesAreListed) {
  testing::ScratchFolder rofs2;
  rofs2.Write("visible.txt", "");
  rofs2.Write("hidden.txt", "");
  rofs2.Write("system.dat", "");
  rofs2.Write("sys\\bin\\app.exe", "");
  rofs2.Write("sys\\hidden below\\secret.txt", "");
  rofs2.Write("hidden folder\\secret.txt", "");
  rofs2.Write("system folder\\secret.txt", "");
  SetAttributes(rofs2.Path("hidden.txt"), FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(rofs2.Path("system.dat"), FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(rofs2.Path("hidden folder"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);
  SetAttributes(rofs2.Path("system folder"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_SYSTEM);
  SetAttributes(rofs2.Path("sys\\hidden below"), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN);

  std::vector<std::string> found;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", found);
  ASSERT_EQ(found.size(), 4u);
  std::vector<std::string> top(found.begin(), found.begin() + 3);
  std::sort(top.begin(), top.end());
  EXPECT_EQ(top, (std::vector<std::string>{"rofs2\\hidden.txt", "rofs2\\system.dat", "rofs2\\visible.txt"}));
  EXPECT_EQ(found[3], "rofs2\\sys\\bin\\app.exe");
}

TEST(ObeyFileWin32Test, AFolderGivenWithATrailingBackslashIsWalkedAlike) {
  testing::ScratchFolder rofs2;
  rofs2.Write("a\\b.txt", "");
  std::vector<std::string> with, without;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", with);
  std::string bare = rofs2.path();
  bare.pop_back();
  ListFilesDepthFirst(bare, "*.*", true, "rofs2\\", without);
  EXPECT_EQ(with, std::vector<std::string>{"rofs2\\a\\b.txt"});
  EXPECT_EQ(without, with);
}

}  // namespace
}  // namespace larkspur
