// A second Extract without a new Open, and an Extract after a Repack.
#include <gtest/gtest.h>

#include <algorithm>

#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

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
  // The line of the last Extract.
  const auto located = [&](const std::string& line) {
    const auto last = std::find(s.window.log.rbegin(), s.window.log.rend(), "正在定位文件.   ");
    return last != s.window.log.rend() && last != s.window.log.rbegin() && *(last - 1) == line;
  };
  EXPECT_TRUE(located("定位成功-偏移        0 标识   "));

  // A Repack keeps the stripped bytes (the prefix stays at their front):
  // the next Extract carves the same image again.
  s.Repack();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  s.Extract();
  EXPECT_TRUE(home.Read("fat16/fat16.img") == image);
  EXPECT_TRUE(located("定位成功-偏移        0 标识   "));

  // A new Open reads the headers again, and the Extract strips them.
  s.Open(home.Path("a.uda.bin"));
  s.Extract();
  EXPECT_TRUE(home.Read("fat16/fat16.img") == image);
  EXPECT_TRUE(located("定位成功-偏移        2 标识   "));
}

// The file is read again by each Extract: one that changed since it was
// opened is refused, and the image of the earlier Extract stays.
TEST(ExtractAgainTest, AFileChangedSinceItWasOpenedIsRefused) {
  testing::ProgramFolder home;
  const std::string image = std::string("\xE9\x00\x90", 3) + testing::PatternBytes(0x50000);
  testing::Session s(home);
  const std::string path = home.Write("a.uda.bin", testing::MakeFirmware({.uda = true, .prefix = "P"}, image));
  s.Open(path);
  s.Extract();
  ASSERT_TRUE(home.Read("fat16/fat16.img") == image);
  home.Write("a.uda.bin", testing::MakeFirmware({.uda = true, .prefix = "Q"}, image + "longer"));
  s.Extract();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_EQ(s.window.log.back(), "错误: 输入文件 " + path +
                                     " 在打开后已被修改, 请重新打开并解包. "
                                     "未生成任何文件.");
  EXPECT_TRUE(home.Read("fat16/fat16.img") == image);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kExtract));
}

}  // namespace
}  // namespace larkspur
