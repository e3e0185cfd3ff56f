// The ROFS build step's handling of the image it moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "port/files.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

namespace larkspur {
namespace {

TEST(BuildStepTest, AnImageThatCannotBeMovedStaysInTheToolFolderAndIsNamed) {
  testing::ProgramFolder home;
  home.InstallBuiltTools();
  home.Write("rofs2/readme.txt", "hello");
  // Something that cannot be deleted stands where the image must go.
  home.Write("temp/rofs2r.img/keep", "x");
  testing::Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  EXPECT_TRUE(home.Exists("exebat/rofs2r.img"));
  const std::string expected = "新的 rofs 文件仍在 " + port::JoinPath(home.path(), "exebat/rofs2r.img") + " (未能移动到 " +
                               port::JoinPath(home.path(), "temp/rofs2r.img") + ": 旧文件无法删除).";
  EXPECT_NE(std::find(s.window.log.begin(), s.window.log.end(), expected), s.window.log.end());
  EXPECT_FALSE(home.Exists("REB-fw.rofs2.V1"));
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
}

}  // namespace
}  // namespace larkspur
