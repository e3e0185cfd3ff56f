// A second Extract without a new Open, and an Extract after a Repack.
#include <gtest/gtest.h>

#include "app/test_support.h"
#include "format/firmware_fixture.h"

namespace larkspur {
namespace {

TEST(ExtractAgainTest, ASecondExtractCarvesTheSameImageAgain) {
  testing::ProgramFolder home;
  const std::string image = std::string("\xE9\x00\x90", 3) + testing::PatternBytes(0x50000);
  const std::string input = testing::MakeFirmware({.uda = true, .prefix = "P"}, image);
  testing::Session s(home);
  s.Open(home.Write("a.uda.bin", input));
  s.Extract();
  home.Write("fat16/fat16.img", "edited by the user");
  s.Extract();  // the user wants the original image back
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_TRUE(home.Read("fat16/fat16.img") == image);
  EXPECT_EQ(s.window.log[s.window.log.size() - 5], "定位成功-偏移        0 标识   ");

  // A Repack loads the file again with its headers; the next Extract strips
  // them as the first one did.
  s.Repack();
  s.Extract();
  EXPECT_TRUE(home.Read("fat16/fat16.img") == image);
  EXPECT_EQ(s.window.log[s.window.log.size() - 5], "定位成功-偏移        2 标识   ");
}

}  // namespace
}  // namespace larkspur
