// Extract and Repack through the real window, on the offscreen platform.
#include <filesystem>
#include <fstream>

#include <QComboBox>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include "app/qt/window_fixture.h"
#include "workspace/tree_source.h"
#include "port/files.h"
#include "testing/firmware_fixture.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;

class WindowFlowTest : public WindowFixture {
 protected:
  void SetUp() override {
    for (const char* folder : {"exebat", "temp", "rofs2", "fat16"}) fs::create_directories(program_folder() + folder);
  }

  bool MenuEnabled() {
    return Action("Open1")->isEnabled() && Action("Extract1")->isEnabled() && Action("Repack1")->isEnabled();
  }
};

TEST_F(WindowFlowTest, ExtractOfARofsFileRunsTheUnpackerAndGivesTheMenuBack) {
  const std::string script = temp_.Write("exebat/readimage", "#!/bin/sh\nmkdir -p \"$2\" && cp \"$3\" \"$2/image.bin\"\n");
  fs::permissions(script, fs::perms::owner_all);
  const std::string image = "ROFS0\xFF" + testing::PatternBytes(0x50000);
  OpenFile(temp_.Write("a.rofs2.bin", testing::MakeFirmware({.prefix = "PFX"}, image)));
  Action("Extract1")->trigger();
  EXPECT_FALSE(Action("Open1")->isEnabled());  // the worker runs; the window answers
  ServeUntil([&] { return !form_.WorkersBusy(); });
  EXPECT_TRUE(temp_.Read("temp/rofs2.img") == image);
  EXPECT_TRUE(temp_.Read("rofs2/image.bin") == image);
  const QStringList log = LogLines();
  ASSERT_GE(log.size(), 11);
  EXPECT_EQ(log[3].toStdString(), "正在定位文件.   ");
  EXPECT_EQ(log[4].toStdString(), "定位成功-偏移        2 标识   ");
  EXPECT_EQ(log[9].toStdString(), "rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ");
  EXPECT_TRUE(MenuEnabled());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(WindowFlowTest, UdaExtractThenRepackGivesTheInputBack) {
  const std::string image = std::string("\xE9\x00\x90", 3) + testing::PatternBytes(0x40100 - 3);
  const std::string input = testing::MakeFirmware({.uda = true, .prefix = std::string(0x200, 'H')}, image);
  const std::string path = temp_.Write("fw.uda.fpsx", input);
  OpenFile(path);
  Action("Extract1")->trigger();
  ServeUntil([&] { return !form_.WorkersBusy(); });
  EXPECT_TRUE(temp_.Read("fat16/fat16.img") == image);
  Action("Repack1")->trigger();
  ServeUntil([&] { return !form_.WorkersBusy(); });
  EXPECT_TRUE(temp_.Read("REB-fw.uda.fpsx") == input);
  EXPECT_EQ(LogLines().last().toStdString(), "REB 文件: " + program_folder() + "REB-fw.uda.fpsx");
  EXPECT_TRUE(MenuEnabled());
}

// The build tool takes its time: the window's own event loop keeps running
// (a timer fires), the menu and the model selector stay off until the end,
// and the log keeps its order.
TEST_F(WindowFlowTest, RepackKeepsTheWindowLiveWithTheMenuAndSelectorOff) {
  const std::string script = temp_.Write("exebat/rofsbuild", "#!/bin/sh\nsleep 1\nprintf 'ROFS0\\377abc' > rofs2r.img\n");
  fs::permissions(script, fs::perms::owner_all);
  const std::string input = temp_.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
  temp_.Write("rofs2/readme.txt", "edited");
  TreeSource source;
  const port::FileStamp stamp = port::StampOfFile(input);
  source.path = input, source.size = stamp.size, source.write_time = stamp.write_time, source.partition_size = 1 << 20;
  temp_.Write("temp/rofs2.source", FormatTreeSource(source));
  OpenFile(input);
  QComboBox* selector = window_.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  int ticks = 0, ticks_while_off = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    ++ticks;
    if (form_.WorkersBusy() && !selector->isEnabled() && !Action("Open1")->isEnabled() && !Action("Repack1")->isEnabled()) {
      ++ticks_while_off;
    }
  });
  timer.start(20);
  Action("Repack1")->trigger();
  QElapsedTimer waited;
  waited.start();
  while (form_.WorkersBusy() && waited.elapsed() < 60000) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  EXPECT_GT(ticks_while_off, 10) << "the event loop stood still during the build";
  EXPECT_TRUE(selector->isEnabled());
  EXPECT_TRUE(MenuEnabled());
  const QStringList log = LogLines();
  const int build = static_cast<int>(log.indexOf(QString::fromUtf8("正在重建 rofs 文件.       ")));
  ASSERT_GT(build, 0);
  EXPECT_EQ(log[build - 2].toStdString(), "正在创建 obey 文件.    ");
  EXPECT_EQ(log[build + 2].toStdString(), "完成!   ");
  EXPECT_EQ(log[build + 3].toStdString(), "Rebuilding rofs2.....");
  EXPECT_EQ(log.last().toStdString(), "REB 文件: " + program_folder() + "REB-a.rofs2.bin");
  EXPECT_TRUE(fs::exists(program_folder() + "REB-a.rofs2.bin"));
}

TEST_F(WindowFlowTest, AWorkerErrorShowsTheApplicationErrorBoxAndTheMenuComesBack) {
  fs::remove(program_folder() + "fat16");
  OpenFile(temp_.Write("fw.uda.bin", testing::MakeFirmware({.uda = true}, "abc")));
  Action("Extract1")->trigger();
  ServeUntil([&] { return !form_.WorkersBusy(); });
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "Application Error");
  EXPECT_NE(messages_[0].text.find("Cannot create file"), std::string::npos);
  EXPECT_TRUE(MenuEnabled());
}

TEST_F(WindowFlowTest, ClosingDuringAnUnpackWaitsForTheToolAndItsClosingLines) {
  const std::string script = temp_.Write("exebat/readimage", "#!/bin/sh\nsleep 1; touch ../rofs2/done\n");
  fs::permissions(script, fs::perms::owner_all);
  OpenFile(temp_.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc")));
  Action("Extract1")->trigger();
  window_.close();
  form_.FormDestroy();  // what main does once the window is closed
  EXPECT_TRUE(fs::exists(program_folder() + "rofs2/done"));
  EXPECT_EQ(LogLines().last().toStdString(), "rofs2 文件夹: " + program_folder() + "rofs2");
  EXPECT_FALSE(form_.WorkersBusy());
}

}  // namespace
}  // namespace larkspur
