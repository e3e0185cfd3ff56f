// Extract end to end through TForm1 and the console window, with stand-in
// unpacking tools.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/test_support.h"
#include "format/firmware_fixture.h"

namespace larkspur {
namespace {

using testing::ProgramFolder;
using testing::Session;

const std::string kRofsMagic = "ROFS0\xFF";
const std::string kFatMagic("\xE9\x00\x90", 3);

TEST(ExtractFlowTest, RofsFileIsStrippedCarvedAndUnpacked) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", testing::kStandInReadimage);
  const std::string image = kRofsMagic + testing::PatternBytes(0x50000);
  const std::string file = testing::MakeFirmware({.prefix = std::string(0x200, 'P')}, image);
  Session s(home);
  s.Open(home.Write("RM-1.rofs2.V1", file));
  s.Extract();
  EXPECT_EQ(home.Read("temp/rofs2.img"), image);
  EXPECT_EQ(home.Read("rofs2/image.bin"), image);
  const std::vector<std::string> expected = {
      "正在定位文件.   ",
      "定位成功-偏移        2 标识   ",
      "rofs2.img 文件创建成功",
      "正在解包 rofs2.img 文件. ",
      "请稍等...       ",
      "=========================================================       ",
      "rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ",
      "=========================================================       ",
  };
  EXPECT_EQ(std::vector<std::string>(s.window.log.begin() + 3, s.window.log.end()), expected);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen) && s.MenuEnabled(MenuItem::kExtract) && s.MenuEnabled(MenuItem::kRepack));
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
}

TEST(ExtractFlowTest, UdaFileOfEveryProfileGivesTheFat16Image) {
  for (int model = 0; model < kModelCount; ++model) {
    ProgramFolder home;
    const std::string image = kFatMagic + testing::PatternBytes(0x48000, model);
    // The payload holds the UDA signature by chance; the block chain keeps it.
    const std::string with_chance = image + HexToBytes(ProfileForModel(model).UdaSignatureHex) + "tail";
    Session s(home);
    s.SelectModel(model);
    s.Open(home.Write("x.uda.fpsx", testing::MakeFirmware({.model = model, .uda = true, .prefix = "PRE"}, with_chance)));
    s.Extract();
    EXPECT_TRUE(home.Read("fat16/fat16.img") == with_chance) << model << ": " << home.Read("fat16/fat16.img").size() << " vs " << with_chance.size() << " " << s.window.log[4];
    EXPECT_EQ(s.window.log.back(), "=========================================================       ");
    EXPECT_EQ(s.window.log[s.window.log.size() - 2], "fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  ");
  }
}

TEST(ExtractFlowTest, ABrokenChainWarnsAndFallsBackToTheScan) {
  ProgramFolder home;
  std::string file = testing::MakeFirmware({.uda = true}, kFatMagic + testing::PatternBytes(0x40010));
  file.resize(file.size() - 5);  // the last block is cut short
  Session s(home);
  s.Open(home.Write("x.uda.bin", file));
  s.Extract();
  EXPECT_NE(s.window.log[4].find("block chain broken"), std::string::npos);
  EXPECT_EQ(s.window.log[5], "定位成功-偏移        2 标识   ");
}

TEST(ExtractFlowTest, MissingToolShowsUnableToRunThenReportsTheFailure) {
  ProgramFolder home;
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
  s.Extract();
  ASSERT_EQ(s.window.messages.size(), 1u);
  EXPECT_EQ(s.window.messages[0].text, "Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img");
  EXPECT_EQ(s.window.messages[0].title, "Marrowby");
  EXPECT_EQ(s.window.log[s.window.log.size() - 2],
            "rofs2.img 文件解包失败: readimage could not be started (No such file or directory).");
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
}

TEST(ExtractFlowTest, FailingToolIsReportedWithItsStatus) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", "exit 2");
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
  s.Extract();
  EXPECT_EQ(s.window.log[s.window.log.size() - 2], "rofs2.img 文件解包失败: readimage exit status 2.");
}

TEST(ExtractFlowTest, MissingTempFolderIsAnApplicationErrorAndTheMenuComesBack) {
  ProgramFolder home;
  std::filesystem::remove(home.Path("temp"));
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
  s.Extract();
  ASSERT_EQ(s.window.messages.size(), 1u);
  EXPECT_EQ(s.window.messages[0].title, "Application Error");
  EXPECT_EQ(s.window.messages[0].icon, MessageIcon::kStop);
  EXPECT_NE(s.window.messages[0].text.find("Exception EFCreateError in module larkspur at "), std::string::npos);
  EXPECT_NE(s.window.messages[0].text.find("Cannot create file \"" + home.path() + "temp/rofs2.img\". No such file or directory.\r\n"),
            std::string::npos);
  EXPECT_EQ(s.window.log.back(), "定位成功-偏移        1 标识   ");
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen) && s.MenuEnabled(MenuItem::kRepack));
}

TEST(ExtractFlowTest, ClosingDuringAnUnpackWaitsForTheTool) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", "sleep 1; touch ../rofs2/done");
  {
    Session s(home);
    s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
    s.form.Extract1Click();
    // The session ends at once: FormDestroy waits, serving the log requests.
  }
  EXPECT_TRUE(home.Exists("rofs2/done"));
}

TEST(ExtractFlowTest, ModelChangeDuringExtractDoesNotTearTheRun) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", testing::kStandInReadimage);
  const std::string image = kRofsMagic + testing::PatternBytes(0x30000);
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, image)));
  s.form.Extract1Click();
  s.SelectModel(1);  // another signature; the running Extract keeps its own
  s.window.ServeUntil([&] { return !s.form.WorkersBusy(); });
  EXPECT_EQ(home.Read("temp/rofs2.img"), image);
}

}  // namespace
}  // namespace larkspur
