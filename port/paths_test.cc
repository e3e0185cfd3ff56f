#include <gtest/gtest.h>

#include "port/files.h"

namespace larkspur::port {
namespace {

TEST(PathsTest, JoinPathUsesThePlatformSeparator) {
  const std::string s(1, kPathSeparator);
  EXPECT_EQ(JoinPath("/p/", "./temp/rofs2.img"), "/p/temp" + s + "rofs2.img");
  EXPECT_EQ(JoinPath("/p", "exebat\\rofs2r.img"), "/p" + s + "exebat" + s + "rofs2r.img");
}

TEST(PathsTest, FileNamePartIsWhatFollowsTheLastSeparator) {
  EXPECT_EQ(FileNamePart("/home/u/fw/RM-356.rofs2.V21"), "RM-356.rofs2.V21");
  EXPECT_EQ(FileNamePart("plain"), "plain");
}

TEST(PathsTest, FolderPartIsWhatComesBeforeTheName) {
  EXPECT_EQ(FolderPart("/home/u/fw/RM-356.rofs2.V21"), "/home/u/fw/");
  EXPECT_EQ(FolderPart("/RM-356.rofs2.V21"), "/");
  EXPECT_EQ(FolderPart("plain"), std::string(".") + kPathSeparator);
  EXPECT_EQ(FolderPart("fw/"), "fw/");
}

TEST(PathsTest, ExecutableFolderEndsInASeparator) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathSeparator);
  EXPECT_TRUE(IsDirectory(folder));
}

}  // namespace
}  // namespace larkspur::port
