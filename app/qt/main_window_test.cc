#include "app/qt/main_window.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QTest>
#include <QThread>

#include "app/qt/picture_button.h"
#include "app/qt/window_fixture.h"
#include "format/model_profile.h"

namespace larkspur {
namespace {

using MainWindowTest = WindowFixture;

QString Utf8(const char* text) { return QString::fromUtf8(text); }

TEST_F(MainWindowTest, ControlsAtStart) {
  EXPECT_TRUE(window_.windowTitle().startsWith(QStringLiteral("Larkspur Beta 0.7")));

  // The drawn client area lies below the menu bar, and nothing resizes it.
  const int menu_height = window_.menuBar()->height();
  EXPECT_EQ(window_.size(), QSize(498, 337 + menu_height));
  EXPECT_EQ(window_.minimumSize(), window_.maximumSize());
  EXPECT_EQ(window_.centralWidget()->geometry(), QRect(0, menu_height, 498, 337 - 19));
  auto* status_bar = window_.findChild<QStatusBar*>(QStringLiteral("StatusBar1"));
  ASSERT_NE(status_bar, nullptr);
  EXPECT_EQ(status_bar->geometry(), QRect(0, menu_height + 337 - 19, 498, 19));

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
  // The one line at start says where the program folder is.
  EXPECT_EQ(info->toPlainText().toStdString(), "本程序文件夹: " + program_folder() + " (REB- 文件和工作文件夹都在这里)");

  auto* selector = window_.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  ASSERT_EQ(selector->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(selector->itemText(i), Utf8(ModelItemText(i)));
  EXPECT_EQ(selector->currentIndex(), -1);
  EXPECT_EQ(window_.SelectorIndex(), -1);
  EXPECT_EQ(selector->placeholderText(), Utf8(ModelItemText(0)));

  auto* label = window_.findChild<QLabel*>(QStringLiteral("Label1"));
  EXPECT_EQ(label->text(), Utf8(kDonationText));
  EXPECT_TRUE(label->wordWrap());
  EXPECT_TRUE(label->font().bold());
  EXPECT_EQ(label->font().pointSize(), 9);
  EXPECT_EQ(window_.font().pointSize(), 8);
  EXPECT_EQ(window_.findChild<PictureButton*>(QStringLiteral("Image1"))->pixmap().size(), QSize(97, 25));

  // Three top-level commands, no submenus, in this order.
  const QList<QAction*> items = window_.menuBar()->actions();
  ASSERT_EQ(items.size(), 3);
  const char* const names[] = {"Open1", "Extract1", "Repack1"};
  const char* const captions[] = {kOpenCaption, kExtractCaption, kRepackCaption};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(items[i]->objectName(), QString::fromLatin1(names[i]));
    EXPECT_EQ(items[i]->text(), Utf8(captions[i]));
    EXPECT_EQ(items[i]->menu(), nullptr);
  }
  EXPECT_EQ(Utf8(kOpenCaption), QStringLiteral("打开(&O)"));
  EXPECT_EQ(Utf8(kExtractCaption), QStringLiteral("解包(&E)"));
  EXPECT_EQ(Utf8(kRepackCaption), QStringLiteral("打包(&R)"));
  EXPECT_TRUE(items[0]->isEnabled());
  EXPECT_FALSE(items[1]->isEnabled());
  EXPECT_FALSE(items[2]->isEnabled());

  EXPECT_EQ(StatusText(0), QStringLiteral("文件名:    "));
  EXPECT_EQ(StatusText(1), QStringLiteral("类型: "));
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, OpenFillsLogAndStatusAndEnablesCommands) {
  struct Case {
    const char* file_name;
    const char* kind;
  };
  for (const Case& c : {Case{"firmware.rofs2.bin", "ROFS"}, Case{"phone.uda.img", "UDA"}}) {
    const QString path = QString::fromStdString(temp_.Path(c.file_name));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(QByteArray(64, '\x5A'));
    file.close();
    // The kind comes from the whole path; a temporary folder name may hold
    // the letters too.
    const QString kind = path.contains(QStringLiteral("uda")) || path.contains(QStringLiteral("UDA"))
                             ? QStringLiteral("UDA")
                             : QString::fromLatin1(c.kind);

    OpenFile(QFile::encodeName(path).toStdString());

    ASSERT_FALSE(open_requests_.empty());
    EXPECT_EQ(open_requests_.back().filter, kOpenFilter);
    EXPECT_EQ(open_requests_.back().filter_index, 1);
    EXPECT_EQ(open_requests_.back().initial_folder, kOpenDialogFolder);
    EXPECT_EQ(LogLines(), (QStringList{QStringLiteral("正在打开文件...  "), QStringLiteral("文件: ") + path, QString()}));
    EXPECT_EQ(StatusText(0), QStringLiteral("文件名:    ") + QString::fromLatin1(c.file_name));
    EXPECT_EQ(StatusText(1), QStringLiteral("类型: ") + kind);
    EXPECT_TRUE(Action("Open1")->isEnabled());
    EXPECT_TRUE(Action("Extract1")->isEnabled());
    EXPECT_TRUE(Action("Repack1")->isEnabled());
  }

  // Cancelling clears the log and keeps the rest.
  OpenFile(std::nullopt);
  EXPECT_EQ(LogLines(), QStringList{QString()});
  EXPECT_TRUE(Action("Extract1")->isEnabled());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(MainWindowTest, ErrorOfACommandGoesToTheErrorBox) {
  window_.SetOpenDialog([](const OpenDialogRequest&) -> std::optional<std::string> {
    throw std::runtime_error("Dialog broke");
  });
  Action("Open1")->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, kApplicationTitle);
  EXPECT_EQ(messages_[0].text, "Dialog broke.");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kError);
}

TEST_F(MainWindowTest, SelectorChoiceAndPictureReachTheForm) {
  auto* selector = window_.findChild<QComboBox*>(QStringLiteral("ComboBox1"));
  // A user's choice: the index changes, then the selector reports it.
  selector->setCurrentIndex(kN96ModelIndex);
  emit selector->activated(kN96ModelIndex);
  EXPECT_TRUE(form_.Profile() == ProfileForModel(kN96ModelIndex));
  OpenFile(std::nullopt);
  ASSERT_EQ(open_requests_.size(), 1u);
  EXPECT_EQ(open_requests_[0].filter_index, ProfileForModel(kN96ModelIndex).OpenDialogFilterIndex);

  QTest::mouseClick(window_.findChild<PictureButton*>(QStringLiteral("Image1")), Qt::LeftButton);
  ASSERT_EQ(opened_urls_.size(), 1u);
  EXPECT_EQ(opened_urls_[0], form_.DonationUrl);
  EXPECT_FALSE(opened_urls_[0].empty());
}

TEST_F(MainWindowTest, RunOnUiThreadCarriesOutRequestsInOrderWhileTheWorkerWaits) {
  QThread* const ui_thread = QThread::currentThread();
  std::vector<int> done;  // touched only on the user-interface thread
  std::vector<std::string> worker_saw;
  std::atomic<bool> worker_finished = false;

  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      window_.RunOnUiThread([&, i] {
        if (QThread::currentThread() != ui_thread) throw std::logic_error("request ran off the UI thread");
        done.push_back(i);
      });
      // The call returned, so the request has run already.
      if (done.size() != static_cast<std::size_t>(i + 1)) worker_saw.push_back("returned early at " + std::to_string(i));
    }
    try {
      window_.RunOnUiThread([] { throw std::runtime_error("request failed"); });
      worker_saw.push_back("no exception");
    } catch (const std::runtime_error& error) {
      worker_saw.push_back(error.what());
    }
    worker_finished = true;
  });
  ServeUntil([&] { return worker_finished.load(); });
  worker.join();

  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[i] = i;
  EXPECT_EQ(done, expected);
  EXPECT_EQ(worker_saw, std::vector<std::string>{"request failed"});

  // On the user-interface thread itself the request runs at once.
  bool ran = false;
  window_.RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace larkspur
