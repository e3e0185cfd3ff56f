// Repack end to end through TForm1 and the console window.
#include <gtest/gtest.h>

#include <filesystem>

#include "port/files.h"
#include "testing/expected_reasons.h"
#include "testing/firmware_fixture.h"
#include "testing/firmware_read_back.h"
#include "testing/program_folder.h"

namespace larkspur {
namespace {

using testing::ProgramFolder;
using testing::Session;

const std::string kRofsMagic = "ROFS0\xFF";
const std::string kFatMagic("\xE9\x00\x90", 3);

// The firmware files of these tests, read back by hand.
std::vector<testing::ReadBackBlock> RofsBlocks(const std::string& file, int model, std::size_t prefix) {
  return testing::ReadBackBlocks(file, prefix, HexToBytes(ProfileForModel(model).RofsSignatureHex), 19);
}

TEST(RepackFlowTest, UnchangedUdaRoundTripGivesTheInputBackForEveryProfile) {
  for (int model = 0; model < kModelCount; ++model) {
    ProgramFolder home;
    const std::string image = kFatMagic + testing::PatternBytes(0x61000 - 3, model);
    const std::string input = testing::MakeFirmware({.model = model, .uda = true, .prefix = "HEAD"}, image);
    Session s(home);
    s.SelectModel(model);
    s.Open(home.Write("RM-9.uda.fpsx", input));
    s.Extract();
    s.Repack();
    EXPECT_TRUE(home.Read("REB-RM-9.uda.fpsx") == input) << "model " << model << " " << home.Read("REB-RM-9.uda.fpsx").size() << " vs " << input.size();
    EXPECT_EQ(s.window.log.back(), "REB 文件: " + home.Path("REB-RM-9.uda.fpsx"));
    EXPECT_EQ(s.window.log[s.window.log.size() - 2], "=========================================================       ");
    EXPECT_EQ(s.window.log[s.window.log.size() - 3],
              "REB-RM-9.uda.fpsx 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ");
    EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  }
}

TEST(RepackFlowTest, RofsRepackWritesObeyBuildsAndReassembles) {
  for (const int model : {0, 1}) {
    ProgramFolder home;
    home.InstallStandInTool("readimage", testing::kStandInReadimage);
    home.InstallStandInTool("rofsbuild", testing::kStandInRofsbuild);
    const std::string prefix(0x200, '\x11');
    const std::string input = testing::MakeFirmware({.model = model, .prefix = prefix, .start_address = 0xFFFFF000},
                                                    std::string(3072, '\0') + kRofsMagic + testing::PatternBytes(0x9000));
    Session s(home);
    s.SelectModel(model);
    s.Open(home.Write("fw.rofs2.V1", input));
    s.Extract();
    home.Write("rofs2/sys/bin/app.exe", "app");
    s.Repack();
    EXPECT_EQ(home.Read("temp/rofs2.obey"),
              "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n"
              "data=\"..\\rofs2\\image.bin\" \"image.bin\"\r\n"
              "data=\"..\\rofs2\\sys\\bin\\app.exe\" \"sys\\bin\\app.exe\"\r\n");
    EXPECT_FALSE(home.Exists("exebat/rofs2r.img"));
    const std::string rebuilt = home.Read("temp/rofs2r.img");
    ASSERT_EQ(rebuilt.substr(0, 6), kRofsMagic);

    const std::string output = home.Read("REB-fw.rofs2.V1");
    ASSERT_EQ(output.substr(0, prefix.size()), prefix);
    const std::vector<testing::ReadBackBlock> blocks = RofsBlocks(output, model, prefix.size());
    std::string expected_stream = std::string(3072, '\0') + rebuilt;
    expected_stream.append((256 - expected_stream.size() % 256) % 256, '\xFF');
    EXPECT_EQ(testing::JoinedPayloads(blocks), expected_stream);
    std::uint32_t address = 0xFFFFF000;
    for (const testing::ReadBackBlock& block : blocks) {
      EXPECT_EQ(block.address, address);
      address += block.length;  // wraps past 0xFFFFFFFF
    }
    const std::vector<std::string> build_lines = {"正在创建 obey 文件.    ", "完成!    ", "正在重建 rofs 文件.       ",
                                                  "请稍等...       ",       "完成!   ",  "正在重建 rofs2.....",
                                                  "请稍等...       "};
    const auto first = std::find(s.window.log.begin(), s.window.log.end(), build_lines[0]);
    ASSERT_NE(first, s.window.log.end());
    EXPECT_EQ(std::vector<std::string>(first, first + build_lines.size()), build_lines);
    // The image rofsbuild wrote in the tool folder is named where it ended up.
    EXPECT_EQ(s.window.log[s.window.log.size() - 2], "rofs2r.img 文件: " + home.Path("temp/rofs2r.img"));
  }
}

TEST(RepackFlowTest, MissingRebuiltImageWritesNothingAndKeepsAnEarlierOutput) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", "exit 0");  // "succeeds" without an image
  home.Write("REB-fw.rofs2.V1", "earlier output");
  home.Write("temp/rofs2r.img", "stale image from an earlier run");
  Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  EXPECT_EQ(home.Read("REB-fw.rofs2.V1"), "earlier output");
  // The Repack wrote nothing, so the earlier image is as it was.
  EXPECT_EQ(home.Read("temp/rofs2r.img"), "stale image from an earlier run");
  EXPECT_NE(s.window.log.back().find(port::JoinPath(home.path(), "temp/rofs2r.img")), std::string::npos);
  EXPECT_NE(s.window.log.back().find("未生成任何文件"), std::string::npos);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
}

TEST(RepackFlowTest, AFailingBuildToolIsReportedAndItsLeftoverIsNotUsed) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", "write rofs2r.img ROFS0; exit 254");
  Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  EXPECT_FALSE(home.Exists("REB-fw.rofs2.V1"));
  EXPECT_NE(std::find(s.window.log.begin(), s.window.log.end(), "rofsbuild 退出状态 254: rofs 文件重建失败."),
            s.window.log.end());
  EXPECT_EQ(s.window.log.back(), "错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件.");
  // Nothing the failed build left stays.
  EXPECT_FALSE(home.Exists("exebat/rofs2r.img"));
}

TEST(RepackFlowTest, RepacksThatCannotBeDoneNameTheCauseAndKeepTheEarlierOutput) {
  const struct {
    const char* label;
    std::string name, file;
    const char* missing_folder;
    std::string expected;  // a log line; <home>, <file> stand for the paths
  } cases[] = {
      // Open took four bytes of data for the start address.
      {"no header", "fw.uda.bin", kFatMagic + testing::PatternBytes(300), nullptr,
       "错误: 文件 <file> 中没有块头 (没有找到标识 5401170E000300), 请检查所选手机型号. "
       "未生成任何文件."},
      {"no tool folder", "fw.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"), "exebat",
       "rofsbuild 无法启动 (the tool folder <home>exebat is missing): rofs 文件重建失败."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    if (c.missing_folder) std::filesystem::remove_all(home.Path(c.missing_folder));
    home.Write("fat16/fat16.img", kFatMagic + "image");
    home.Write("REB-" + c.name, "earlier output");
    Session s(home);
    const std::string path = home.Write(c.name, c.file);
    home.MarkExtracted(path, c.name.find("uda") != std::string::npos);
    s.Open(path);
    s.Repack();
    std::string expected = c.expected;
    expected.replace(expected.find('<'), 6, expected.find("<file>") != std::string::npos ? path : home.path());
    EXPECT_NE(std::find(s.window.log.begin(), s.window.log.end(), expected), s.window.log.end()) << s.window.log.back();
    EXPECT_EQ(home.Read("REB-" + c.name), "earlier output");
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
  }
}

TEST(RepackFlowTest, InputMissingAtTheReloadWritesNothing) {
  ProgramFolder home;
  Session s(home);
  const std::string input = home.Write("fw.uda.bin", testing::MakeFirmware({.uda = true, .prefix = "P"}, kFatMagic + "abc"));
  s.Open(input);
  s.Extract();
  std::filesystem::remove(input);
  s.Repack();
  EXPECT_FALSE(home.Exists("REB-fw.uda.bin"));
  EXPECT_NE(s.window.log.back().find(input), std::string::npos);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kRepack));
}

TEST(RepackFlowTest, AnObeyFileThatCannotBeWrittenStopsWithTheErrorBoxAndTheMenuComesBack) {
  ProgramFolder home;
  Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  // A folder stands where the obey file's temporary file goes.
  home.Write("temp/rofs2.obey.partial/keep", "x");
  s.Open(input);
  s.Repack();
  ASSERT_EQ(s.window.messages.size(), 1u);
  EXPECT_EQ(s.window.messages[0].text.rfind("Cannot create file \"" + port::JoinPath(home.path(), "temp/rofs2.obey") + "\". ", 0), 0u)
      << s.window.messages[0].text;
  ASSERT_GE(s.window.log.size(), 2u);
  EXPECT_EQ(s.window.log[s.window.log.size() - 2], "正在创建 obey 文件.    ");
  EXPECT_EQ(s.window.log.back().rfind("错误: Cannot create file \"" + port::JoinPath(home.path(), "temp/rofs2.obey") + "\". ", 0), 0u);
  EXPECT_NE(s.window.log.back().find("程序文件夹已恢复到本次运行之前的样子"), std::string::npos);
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
}

TEST(RepackFlowTest, MissingTempFolderMeansNothingWasExtractedAndTheMenuComesBack) {
  ProgramFolder home;
  std::filesystem::remove(home.Path("temp"));
  Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, kRofsMagic + "abc"));
  s.Open(input);
  s.Repack();
  EXPECT_TRUE(s.window.messages.empty());
  EXPECT_EQ(s.window.log.back(), "错误: 不知道 " + home.Path("rofs2") + " 是从哪个文件解包的 (没有解包的记录), 请先解包 " +
                                     input + ". 未生成任何文件.");
  EXPECT_FALSE(home.Exists("REB-fw.rofs2.V1"));
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
}

TEST(RepackFlowTest, N96RofsWritesTheShortFirstBlock) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", "fill rofs2r.img 40000 r");
  Session s(home);
  s.SelectModel(1);
  const std::string input = home.Write("n96.rofs2.bin", testing::MakeFirmware({.model = 1, .start_address = 0x100}, "x"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  const std::vector<testing::ReadBackBlock> blocks = RofsBlocks(home.Read("REB-n96.rofs2.bin"), 1, 0);
  ASSERT_GE(blocks.size(), 3u);
  EXPECT_EQ(blocks[0].length, 0x400u);
  EXPECT_EQ(blocks[1].length, 0x8000u);
  EXPECT_EQ(blocks[1].address, 0x500u);
  EXPECT_EQ(blocks[2].address, 0x8500u);
  EXPECT_TRUE(s.form.FirstBlockDone);
}

}  // namespace
}  // namespace larkspur
