// A test fixture that drives the real window on the offscreen platform:
// a MainWindow with a TForm1 over it, created and shown as the program does,
// with the open dialog, the message box and the browser answered by the
// test. For window tests only (the QApplication comes from
// qt_test_environment.cc); user-interface thread only.
#ifndef LARKSPUR_APP_QT_WINDOW_FIXTURE_H_
#define LARKSPUR_APP_QT_WINDOW_FIXTURE_H_

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QStringList>
#include <gtest/gtest.h>

#include "app/qt/main_window.h"
#include "app/tform1.h"
#include "testing/scratch_folder.h"

namespace larkspur {

class WindowFixture : public ::testing::Test {
 protected:
  struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
  };

  // The program folder is a fresh temporary folder; tests that need the
  // tool folder or the working folders make them there (program_folder()).
  WindowFixture()
      : form_(window_, temp_.path()) {
    window_.SetMessageBox([this](const std::string& title, const std::string& text, MessageIcon icon) {
      messages_.push_back({title, text, icon});
    });
    window_.SetOpenDialog([this](const OpenDialogRequest& request) {
      open_requests_.push_back(request);
      return next_open_choice_;
    });
    window_.SetUrlOpener([this](const std::string& url) { opened_urls_.push_back(url); });
    window_.AttachForm(form_);
    form_.FormCreate();
    window_.show();
  }

  ~WindowFixture() override { form_.FormDestroy(); }

  // Chooses Open in the menu with the dialog answering `path` (nothing:
  // the user cancels).
  void OpenFile(std::optional<std::string> path) {
    next_open_choice_ = std::move(path);
    Action("Open1")->trigger();
  }

  QAction* Action(const char* name) {
    QAction* action = window_.findChild<QAction*>(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  // The log pane, a line per entry.
  QStringList LogLines() {
    return window_.findChild<QPlainTextEdit*>(QStringLiteral("Info"))->toPlainText().split(QLatin1Char('\n'));
  }

  QString StatusText(int panel) {
    return window_.findChild<QLabel*>(QStringLiteral("StatusPanel%1").arg(panel))->text();
  }

  // Serves the workers' window requests, as the event loop would, until
  // `done` holds; fails the test after `limit` without it.
  bool ServeUntil(const std::function<bool()>& done,
                  std::chrono::milliseconds limit = std::chrono::seconds(60)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "gave up waiting";
        return false;
      }
      window_.ServePendingRequests();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::string program_folder() const { return form_.program_folder(); }

  testing::ScratchFolder temp_;
  MainWindow window_;
  TForm1 form_;
  std::optional<std::string> next_open_choice_;
  std::vector<OpenDialogRequest> open_requests_;
  std::vector<Message> messages_;
  std::vector<std::string> opened_urls_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_WINDOW_FIXTURE_H_
