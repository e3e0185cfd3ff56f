#include "repack/obey_file.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "port/scratch_folder.h"

namespace larkspur {
namespace {

TEST(ObeyFileTest, DataLinesAreWrittenAsTheyAre) {
  EXPECT_EQ(ObeyDataLine("rofs2\\readme.txt"), R"(data="..\rofs2\readme.txt" "readme.txt")");
  EXPECT_EQ(ObeyDataLine("rofs2\\sys\\bin\\app.exe"), R"(data="..\rofs2\sys\bin\app.exe" "sys\bin\app.exe")");
  EXPECT_EQ(ObeyDataLine("rofs2\\my docs\\Grüße \"x\".txt"),
            "data=\"..\\rofs2\\my docs\\Grüße \"x\".txt\" \"my docs\\Grüße \"x\".txt\"");
  EXPECT_EQ(JoinObeyLines({kObeyNameLine, kObeySizeLine}), "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n");
  EXPECT_EQ(JoinObeyLines({kObeyNameLine, kObeySizeLine}).size(), 42u);
}

TEST(ObeyFileTest, PatternsMatchAsTheWindowsListingDoes) {
  EXPECT_TRUE(MatchesPattern("noext", "*.*"));
  EXPECT_TRUE(MatchesPattern("a.txt", "*.txt"));
  EXPECT_FALSE(MatchesPattern("a.bin", "*.txt"));
  EXPECT_TRUE(MatchesPattern("f01.txt", "f??.*"));
}

// Windows hides by attribute and needs a privilege for links: see
// obey_file_win32_test.cc.
#ifndef _WIN32
TEST(ObeyFileTest, WalksFilesFirstThenEachSubtreeAndSkipsHiddenFolders) {
  testing::ScratchFolder rofs2;
  rofs2.Write("zfile.txt", "");
  rofs2.Write(".hidden_file", "");
  rofs2.Write("a_sub/inner.txt", "");
  rofs2.Write("a_sub/deeper/deep.txt", "");
  rofs2.Write(".hidden_dir/secret.txt", "");
  std::filesystem::create_directory_symlink(rofs2.Path("a_sub"), rofs2.Path("a_sub/loop"));
  std::vector<std::string> found;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", found);

  // Files of a folder come before anything of its subfolders, whatever the
  // names; the order inside a folder is the listing's own.
  ASSERT_EQ(found.size(), 4u);
  const std::vector<std::string> top(found.begin(), found.begin() + 2);
  EXPECT_NE(std::find(top.begin(), top.end(), "rofs2\\zfile.txt"), top.end());
  EXPECT_NE(std::find(top.begin(), top.end(), "rofs2\\.hidden_file"), top.end());
  EXPECT_EQ(found[2], "rofs2\\a_sub\\inner.txt");
  EXPECT_EQ(found[3], "rofs2\\a_sub\\deeper\\deep.txt");
}
#endif

TEST(ObeyFileTest, AFolderThatCannotBeListedIsAnErrorNamingIt) {
  std::vector<std::string> found;
  try {
    ListFilesDepthFirst("/no/such/folder", "*.*", true, "rofs2\\", found);
    FAIL() << "no error";
  } catch (const FolderListError& error) {
    EXPECT_EQ(error.folder(), "/no/such/folder");
    EXPECT_STREQ(error.what(), "Cannot list folder \"/no/such/folder\"");
  }
  EXPECT_TRUE(found.empty());
}

#ifndef _WIN32
TEST(ObeyFileTest, NamesHoldingABackslashAreSetApartNotListed) {
  testing::ScratchFolder rofs2;
  rofs2.Write("ok.txt", "");
  rofs2.Write("a\\b.txt", "");
  rofs2.Write("sub\\dir/inner.txt", "");
  std::vector<std::string> found, refused;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", found, &refused);
  EXPECT_EQ(found, std::vector<std::string>{"rofs2\\ok.txt"});
  std::sort(refused.begin(), refused.end());
  EXPECT_EQ(refused, (std::vector<std::string>{rofs2.Path("a\\b.txt"), rofs2.Path("sub\\dir")}));
}
#endif

}  // namespace
}  // namespace larkspur
