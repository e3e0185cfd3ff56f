// The Qt window on the offscreen platform: what only the Qt window has (its
// controls' places and fonts, its event loop during a run, its settings
// file, its drops), and the window contract (app/window_contract_test.cc).
#include "app/qt/main_window.h"

#include <algorithm>
#include <filesystem>

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenuBar>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QUrl>

#include "app/qt/picture_button.h"
#include "app/qt/qt_window_driver.h"
#include "format/model_profile.h"
#include "port/files.h"
#include "testing/firmware_fixture.h"
#include "workspace/tree_source.h"

namespace larkspur {

INSTANTIATE_TEST_SUITE_P(Qt, WindowContractTest, ::testing::Values(&MakeQtWindowDriver),
                         [](const auto&) { return std::string("Qt"); });

namespace {

namespace fs = std::filesystem;

class MainWindowTest : public ::testing::Test {
 protected:
  QtWindowDriver driver_;
  MainWindow& window_ = driver_.main_window();
};

TEST_F(MainWindowTest, ControlsAtStart) {
  // The drawn client area lies below the menu bar, and nothing resizes it.
  const int menu_height = window_.menuBar()->height();
  EXPECT_EQ(window_.size(), QSize(498, 337 + menu_height));
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
  EXPECT_EQ(window_.centralWidget()->geometry(), QRect(0, menu_height, 498, 337 - 19));
  auto* status_bar = window_.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
  ASSERT_NE(status_bar, nullptr);
  EXPECT_EQ(status_bar->geometry(), QRect(0, menu_height + 337 - 19, 498, 19));
  // The four menu items fit in one row: none is folded away.
  for (QAction* item : window_.menuBar()->actions()) {
    EXPECT_FALSE(window_.menuBar()->actionGeometry(item).isEmpty()) << item->text().toStdString();
    EXPECT_LE(window_.menuBar()->actionGeometry(item).bottom(), menu_height) << item->text().toStdString();
  }

  struct Place {
    const char* name;
    QRect rect;
  };
  for (const Place& place : {Place{"Info", {5, 0, 484, 217}}, Place{"ComboBox1", {192, 224, 289, 21}},
                             Place{"Label1", {8, 256, 321, 57}}, Place{"Image1", {360, 272, 97, 25}}}) {
    auto* control = window_.centralWidget()->findChild<QWidget*>(QString::fromLatin1(place.name));
    ASSERT_NE(control, nullptr) << place.name;
    EXPECT_EQ(control->geometry(), place.rect) << place.name;
  }

  auto* info = window_.findChild<QPlainTextEdit*>(QStringLiteral("Info"));
  EXPECT_TRUE(info->isReadOnly());
  EXPECT_EQ(info->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);

  // The selector names the default model while no choice has been made.
  auto* selector = window_.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  EXPECT_EQ(selector->currentIndex(), -1);
  EXPECT_EQ(selector->placeholderText(), QString::fromUtf8(ModelItemText(0)));

  auto* label = window_.findChild<QLabel*>(QStringLiteral("Label1"));
  EXPECT_TRUE(label->wordWrap());
  EXPECT_TRUE(label->font().bold());
  EXPECT_EQ(label->font().pointSize(), 9);
  EXPECT_EQ(window_.font().pointSize(), 8);
  EXPECT_EQ(window_.findChild<PictureButton*>(QStringLiteral("Image1"))->pixmap().size(), QSize(97, 25));
}

// The build tool takes its time: the window's own event loop keeps running
// (a timer fires), the menu and the model selector stay off until the end,
// and the log keeps its order.
TEST_F(MainWindowTest, RepackKeepsTheWindowLiveWithTheMenuAndSelectorOff) {
  const testing::ProgramFolder& home = driver_.home;
  const std::string script = home.Write("exebat/rofsbuild", "#!/bin/sh\nsleep 1\nprintf 'ROFS0\\377abc' > rofs2r.img\n");
  fs::permissions(script, fs::perms::owner_all);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
  home.Write("rofs2/readme.txt", "edited");
  TreeSource source;
  const port::FileStamp stamp = port::StampOfFile(input);
  source.path = input, source.size = stamp.size, source.write_time = stamp.write_time, source.partition_size = 1 << 20;
  home.Write("temp/rofs2.source", FormatTreeSource(source));
  driver_.Open(input);
  QComboBox* selector = window_.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  int ticks_while_off = 0;
  QTimer timer;
  QObject::connect(&timer, &QTimer::timeout, [&] {
    if (driver_.form().WorkersBusy() && !selector->isEnabled() && !driver_.Action("Open1")->isEnabled() &&
        !driver_.Action("Repack1")->isEnabled()) {
      ++ticks_while_off;
    }
  });
  timer.start(20);
  driver_.Choose(Command::kRepack);
  QElapsedTimer waited;
  waited.start();
  while (driver_.form().WorkersBusy() && waited.elapsed() < 60000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  EXPECT_GT(ticks_while_off, 10) << "the event loop stood still during the build";
  EXPECT_TRUE(selector->isEnabled());
  EXPECT_TRUE(driver_.MenuEnabled());
  const std::vector<std::string> log = driver_.LogLines();
  const auto build = std::find(log.begin(), log.end(), "正在重建 rofs 文件.       ");
  ASSERT_NE(build, log.end());
  ASSERT_GE(build - log.begin(), 2);
  ASSERT_GE(log.end() - build, 4);
  EXPECT_EQ(build[-2], "正在创建 obey 文件.    ");
  EXPECT_EQ(build[2], "完成!   ");
  EXPECT_EQ(build[3], "正在重建 rofs2.....");
  EXPECT_EQ(log.back(), "REB 文件: " + driver_.program_folder() + "REB-a.rofs2.bin");
  EXPECT_TRUE(fs::exists(driver_.program_folder() + "REB-a.rofs2.bin"));
}

// Only a local file is taken: a web address dragged from a browser, or a
// text, is refused where the user lets go; of several files the first
// local one is opened.
TEST_F(MainWindowTest, TheWindowTakesTheFirstLocalFileOfADrop) {
  const auto accepted = [&](const QMimeData& data) {
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window_, &enter);
    return enter.isAccepted();
  };
  QMimeData web;
  web.setUrls({QUrl(QStringLiteral("https://larkspur.invalid/fw.uda.bin"))});
  EXPECT_FALSE(accepted(web));
  QMimeData text;
  text.setText(QStringLiteral("fw.uda.bin"));
  EXPECT_FALSE(accepted(text));

  const std::string first = driver_.home.Write("b.uda.fpsx", std::string(64, '\x5A'));
  QMimeData several;
  several.setUrls({QUrl(QStringLiteral("https://larkspur.invalid/a.uda.bin")),
                   QUrl::fromLocalFile(QString::fromStdString(first)),
                   QUrl::fromLocalFile(QString::fromStdString(driver_.home.Write("c.uda.fpsx", "x")))});
  EXPECT_TRUE(accepted(several));
  QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &several, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&window_, &drop);
  EXPECT_TRUE(drop.isAccepted());
  driver_.ServeOnce();
  EXPECT_EQ(driver_.form().SourcePath, first);
}

// The settings file holds the model's item number and the folder; a value
// another program or an older version left there is no choice.
TEST_F(MainWindowTest, WhatTheWindowRemembersIsKeptInItsSettingsFile) {
  driver_.ChooseModel(kN96ModelIndex);
  driver_.Open(driver_.home.Write("fw/a.uda.fpsx", std::string(64, '\x5A')));
  {
    const QSettings settings(driver_.settings_file(), QSettings::IniFormat);
    EXPECT_EQ(settings.value(QStringLiteral("Model")).toInt(), kN96ModelIndex);
    EXPECT_EQ(QDir::toNativeSeparators(settings.value(QStringLiteral("LastFolder")).toString()).toStdString(),
              driver_.home.Path("fw"));
  }
  for (const QVariant& stored : {QVariant(4), QVariant(-1), QVariant(QStringLiteral("N96"))}) {
    SCOPED_TRACE(stored.toString().toStdString());
    QSettings(driver_.settings_file(), QSettings::IniFormat).setValue(QStringLiteral("Model"), stored);
    driver_.Restart();
    EXPECT_EQ(driver_.window().SelectorIndex(), -1);
    EXPECT_EQ(driver_.form().ProfileIndex(), 0);
  }
}

}  // namespace
}  // namespace larkspur
