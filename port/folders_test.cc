#include "port/folders.h"

#include <gtest/gtest.h>

#include <string>

#include "port/files.h"
#include "testing/scratch_folder.h"

namespace larkspur::port {
namespace {

std::string Refusal(void (*operation)(const std::string&), const std::string& path) {
  try {
    operation(path);
  } catch (const FolderError& error) {
    return error.what();
  }
  return "(done)";
}

TEST(FoldersTest, ANewFolderIsMadeOnlyWhereNothingIs) {
  testing::ScratchFolder scratch;
  const std::string fresh = scratch.Path("fresh");
  CreateNewFolder(fresh);
  EXPECT_TRUE(IsDirectory(fresh));
  EXPECT_EQ(Refusal(CreateNewFolder, fresh), "Cannot create folder \"" + fresh + "\". It exists already");
  const std::string file = scratch.Write("file", "x");
  EXPECT_EQ(Refusal(CreateNewFolder, file).rfind("Cannot create folder \"" + file + "\". ", 0), 0u);
  EXPECT_EQ(scratch.Read("file"), "x");
  const std::string missing_parent = scratch.Path("none/fresh");
  EXPECT_EQ(Refusal(CreateNewFolder, missing_parent).rfind("Cannot create folder \"" + missing_parent + "\". ", 0), 0u);
  EXPECT_FALSE(scratch.Exists("none"));
}

TEST(FoldersTest, OnlyAnEmptyFolderIsRemovedAndNothingIsMovedOntoOne) {
  testing::ScratchFolder scratch;
  const std::string full = scratch.Path("full");
  scratch.Write("full/a", "a");
  const std::string empty = scratch.Path("empty");
  CreateNewFolder(empty);
  // Not even an empty folder is replaced (a plain POSIX rename would).
  EXPECT_THROW(MoveFolder(full, empty), FolderError);
  EXPECT_EQ(scratch.Read("full/a"), "a");
  EXPECT_FALSE(RemoveEmptyFolder(full));
  EXPECT_FALSE(RemoveEmptyFolder(scratch.Path("full/a")));
  EXPECT_EQ(scratch.Read("full/a"), "a");
  EXPECT_TRUE(RemoveEmptyFolder(empty));
  EXPECT_FALSE(scratch.Exists("empty"));
  EXPECT_FALSE(RemoveEmptyFolder(empty));
  MoveFolder(full, empty);
  EXPECT_EQ(scratch.Read("empty/a"), "a");
  EXPECT_FALSE(scratch.Exists("full"));
}

}  // namespace
}  // namespace larkspur::port
