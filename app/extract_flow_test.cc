// Extract end to end through TForm1 and the console window, with stand-in
// unpacking tools.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "port/files.h"
#include "testing/expected_reasons.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

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
  ASSERT_GE(s.window.log.size(), 3 + expected.size());
  EXPECT_EQ(std::vector<std::string>(s.window.log.begin() + 3, s.window.log.begin() + 3 + expected.size()), expected);
  // This image is no real ROFS image (a stand-in unpacked it): what it holds
  // beyond its files cannot be read, and the log says so.
  EXPECT_EQ(s.window.log[3 + expected.size()].rfind("警告: 无法读取隐藏项和文件属性 (", 0), 0u);
  EXPECT_EQ(s.window.log.back(), "rofs2 文件夹: " + home.Path("rofs2"));
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
    const auto created = std::find(s.window.log.begin(), s.window.log.end(), "fat16.img 文件创建成功");
    ASSERT_LE(4, s.window.log.end() - created);
    EXPECT_EQ(created[1], "=========================================================       ");
    EXPECT_EQ(created[2], "fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  ");
    EXPECT_EQ(created[3], "=========================================================       ");
    // No FAT volume stands behind this boot sector's jump: the image is
    // written, but there is nothing to put in the folder uda.
    EXPECT_EQ(s.window.log.back(), "fat16.img 文件: " + home.Path("fat16/fat16.img"));
  }
}

TEST(ExtractFlowTest, ABrokenChainIsDamageAndIsRefused) {
  ProgramFolder home;
  std::string file = testing::MakeFirmware({.uda = true}, kFatMagic + testing::PatternBytes(0x40010));
  file[13] ^= 1;  // block 0 announces one byte more: no header where it ends
  Session s(home);
  const std::string path = home.Write("x.uda.bin", file);
  s.Open(path);
  s.Extract();
  EXPECT_EQ(s.window.log.back(), "错误: 文件 " + path +
                                     " 已损坏 (块 0 结束于文件偏移 0x00040014, 那里没有块头 "
                                     "(实为 01 17 0E 00); 另外还有 2 处), 未生成任何文件.");
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_FALSE(home.Exists("fat16/fat16.img"));
}

TEST(ExtractFlowTest, WorkThatCannotBeDoneEndsInAnErrorAndLeavesEarlierFilesAlone) {
  const std::string rofs = testing::MakeFirmware({}, kRofsMagic + testing::PatternBytes(0x50000));
  const std::string uda = testing::MakeFirmware({.uda = true}, kFatMagic + testing::PatternBytes(0x50000));
  const struct {
    const char* label;
    std::string name, file;
    const char* readimage;  // steps of the stand-in unpacker, if one is needed
    std::string expected;   // the failure line; <file> and <home> stand for the paths
    bool writes_image;      // the partition image is written (and stays)
  } cases[] = {
      {"no header at all", "a.uda.bin", kFatMagic + "no header, only bytes", nullptr,
       "错误: 文件 <file> 中没有块头 (没有找到标识 5401170E000300), 请检查所选手机型号. "
       "未生成任何文件.",
       false},
      {"cut inside a header", "a.rofs2.bin", rofs.substr(0, 19 + 0x40000 + 11), nullptr,
       "错误: 文件 <file> 不完整 (文件偏移 0x00040013 处的块 1: 块头被截断). 未生成任何文件.",
       false},
      {"cut inside a payload", "a.uda.bin", uda.substr(0, uda.size() - 1), nullptr,
       "错误: 文件 <file> 不完整 (文件偏移 0x00040013 处的块 1: 载荷被截断). 未生成任何文件.",
       false},
      {"unpacker reports success and writes nothing", "a.rofs2.bin", rofs, "exit 0",
       "rofs2.img 文件解包失败: readimage 退出状态为 0, 但没有在 <home>rofs2 中写入任何文件.", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    if (c.readimage) home.InstallStandInTool("readimage", c.readimage);
    home.Write("temp/rofs2.img", "earlier");
    home.Write("fat16/fat16.img", "earlier");
    Session s(home);
    const std::string path = home.Write(c.name, c.file);
    s.Open(path);
    s.Extract();
    std::string expected = c.expected;
    expected.replace(expected.find('<'), 6, expected.find("<file>") != std::string::npos ? path : home.path());
    EXPECT_NE(std::find(s.window.log.begin(), s.window.log.end(), expected), s.window.log.end())
        << s.window.log.back();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen) && s.MenuEnabled(MenuItem::kExtract) && s.MenuEnabled(MenuItem::kRepack));
    EXPECT_EQ(home.Read("fat16/fat16.img"), "earlier");
    EXPECT_EQ(home.Read("temp/rofs2.img") == "earlier", !c.writes_image);
  }
}

TEST(ExtractFlowTest, MissingToolShowsUnableToRunThenReportsTheFailure) {
  ProgramFolder home;
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
  s.Extract();
  ASSERT_EQ(s.window.messages.size(), 1u);
  EXPECT_EQ(s.window.messages[0].text, "Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img");
  EXPECT_EQ(s.window.messages[0].title, "Marrowby");
  EXPECT_EQ(s.window.log[s.window.log.size() - 3],
            "rofs2.img 文件解包失败: readimage 无法启动 (" + testing::MissingFileReason() + ").");
  EXPECT_EQ(s.window.log[s.window.log.size() - 2],
            "rofs2 文件夹保持不变 (" + home.Path("rofs2") + " 仍是这次解包之前的样子).");
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
}

TEST(ExtractFlowTest, FailingToolIsReportedWithItsStatus) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", "exit 2");
  Session s(home);
  s.Open(home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc")));
  s.Extract();
  EXPECT_EQ(s.window.log[s.window.log.size() - 3], "rofs2.img 文件解包失败: readimage 退出状态 2.");
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
  EXPECT_NE(s.window.messages[0].text.find("Cannot create file \"" + port::JoinPath(home.path(), "temp/rofs2.img") + "\". " +
                                           testing::MissingFolderReason() + ".\r\n"),
            std::string::npos);
  // After the box the log keeps the reason and says the folder is as it was.
  ASSERT_GE(s.window.log.size(), 2u);
  EXPECT_EQ(s.window.log[s.window.log.size() - 2], "定位成功-偏移        1 标识   ");
  EXPECT_EQ(s.window.log.back(), "错误: Cannot create file \"" + port::JoinPath(home.path(), "temp/rofs2.img") + "\". " +
                                     testing::MissingFolderReason() + ". 程序文件夹已恢复到本次运行之前的样子, 未生成任何文件.");
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

// The worker hands the end of a run to the window after the menu is on
// again: an Extract chosen in between runs, rather than being dropped with
// the menu left off.
TEST(ExtractFlowTest, AnExtractChosenAsThePreviousRunEndsIsNotDropped) {
  // A window whose worker, once its run has turned the menu on again, hands
  // over the end of the run only when the test lets it, so that the user's
  // next choice comes in between.
  class HeldEndWindow : public ConsoleWindow {
   public:
    HeldEndWindow() : ConsoleWindow(nullptr, nullptr) {}
    void SetMenuEnabled(MenuItem item, bool enabled) override {
      ConsoleWindow::SetMenuEnabled(item, enabled);
      if (item == MenuItem::kExtract) menu_back = enabled;
    }
    void RunOnUiThread(const std::function<void()>& request) override {
      if (std::this_thread::get_id() != ui_thread_) {
        while (menu_back && !let_go) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ConsoleWindow::RunOnUiThread(request);
    }
    std::atomic<bool> menu_back{false}, let_go{false};

   private:
    const std::thread::id ui_thread_ = std::this_thread::get_id();
  };
  ProgramFolder home;
  HeldEndWindow window;
  TForm1 form(window, home.path());
  form.FormCreate();
  window.QueueOpenDialogAnswer(
      home.Write("a.uda.bin", testing::MakeFirmware({.uda = true}, std::string("\xE9\x00\x90", 3) + "abc")));
  form.RunUiCommand([&] { form.Open1Click(); });
  form.RunUiCommand([&] { form.Extract1Click(); });
  window.ServeUntil([&] { return window.menu_back.load(); });
  window.let_go = true;
  ASSERT_TRUE(form.WorkersBusy());  // only this thread handles the end of the run
  form.RunUiCommand([&] { form.Extract1Click(); });
  window.ServeUntil([&] { return !form.WorkersBusy(); });
  EXPECT_EQ(form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_TRUE(window.menu_enabled[MenuItem::kExtract]);
  EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "正在定位文件.   "), 2);
  form.FormDestroy();
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
