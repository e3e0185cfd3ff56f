// The contract every window keeps with TForm1 and with its user, tested once
// for all toolkits (window_contract_test.cc). A toolkit's test program
// implements WindowDriver over its real window and instantiates the tests:
//
//   INSTANTIATE_TEST_SUITE_P(Qt, WindowContractTest,
//                            ::testing::Values(&MakeQtWindowDriver));
//
// The driver makes the window with a TForm1 over it as the program does, in
// a scratch program folder, with what the window remembers kept in a scratch
// place, never the user's own settings. It works the window the way a user
// does (menu items, the model selector, the picture, a dropped file, closing)
// and reads back what the screen shows; the dialogs, message boxes,
// questions and the browser are answered by the test through the window's
// replaceable functions, and recorded here. User-interface thread only.
#ifndef LARKSPUR_APP_WINDOW_CONTRACT_TEST_H_
#define LARKSPUR_APP_WINDOW_CONTRACT_TEST_H_

#include <chrono>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "app/tform1.h"
#include "app/window.h"
#include "testing/program_folder.h"

namespace larkspur {

// What the user can choose in the menu bar.
enum class Command { kOpen, kExtract, kRepack, kOpenProgramFolder };

class WindowDriver {
 public:
  struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
  };

  virtual ~WindowDriver() = default;

  // The window and the form over it.
  virtual Window& window() = 0;
  virtual TForm1& form() = 0;

  // What the screen shows.
  virtual std::string Caption() = 0;
  // The log pane, a line per entry.
  virtual std::vector<std::string> LogLines() = 0;
  // A status bar panel's text as the user reads it.
  virtual std::string StatusText(int panel) = 0;
  // The top-level menu items' captions, in order, with "(submenu)" after
  // an item that opens a submenu.
  virtual std::vector<std::string> MenuCaptions() = 0;
  virtual bool CommandEnabled(Command command) = 0;
  virtual std::vector<std::string> SelectorItems() = 0;
  virtual bool SelectorEnabled() = 0;
  virtual std::string DonationText() = 0;

  // What the user does.
  virtual void ChooseModel(int index) = 0;
  // Chooses a menu item, as a click or its access key would; a greyed item
  // is chosen all the same, as a stray message or key could.
  virtual void Choose(Command command) = 0;
  virtual void ClickPicture() = 0;
  // Drops a file from the file manager onto the middle of the log pane.
  virtual void DropFile(const std::string& path) = 0;
  // Closes the window, then runs the teardown the program runs after its
  // message loop (FormDestroy).
  virtual void CloseWindow() = 0;
  // Closes the window as CloseWindow does and starts the program again: a
  // new window and form over the same program folder, with what the window
  // remembers from the run before.
  virtual void Restart() = 0;

  // One round of the window's event loop: workers' requests, repaints,
  // posted messages.
  virtual void ServeOnce() = 0;

  // Serves the window as its event loop would until `done` holds; fails the
  // test after `limit` without it.
  bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(120));

  // Chooses Open with the dialog answering `path` (nothing: the user
  // cancels).
  void Open(std::optional<std::string> path);
  // Chooses Extract or Repack and serves the window until the run ended.
  void Run(Command command);
  bool MenuEnabled() {
    return CommandEnabled(Command::kOpen) && CommandEnabled(Command::kExtract) && CommandEnabled(Command::kRepack);
  }
  std::string program_folder() { return form().program_folder(); }

  // The scratch program folder, with exebat, temp, rofs2 and fat16.
  testing::ProgramFolder home;

  // The answers the user gives, and what the window asked and showed.
  std::optional<std::string> next_open_choice;
  std::string open_dialog_failure;  // not empty: the open dialog throws it
  std::deque<bool> answers;         // the next questions' answers; No when none is left
  std::vector<OpenDialogRequest> open_requests;
  std::vector<Message> messages;
  std::vector<Message> questions;
  std::vector<std::string> opened_urls;
  std::vector<std::string> opened_folders;

 protected:
  // Hands the replaceable functions of a toolkit's window (the open dialog,
  // the message box, the question box, the browser, the file manager) the
  // answers and records above.
  template <typename ToolkitWindow>
  void AnswerFor(ToolkitWindow& window) {
    window.SetOpenDialog([this](const OpenDialogRequest& request) { return AnswerOpenDialog(request); });
    window.SetMessageBox([this](const std::string& title, const std::string& text, MessageIcon icon) {
      messages.push_back({title, text, icon});
    });
    window.SetQuestionBox([this](const std::string& title, const std::string& text) {
      return AnswerQuestion(title, text);
    });
    window.SetUrlOpener([this](const std::string& url) { opened_urls.push_back(url); });
    window.SetFolderOpener([this](const std::string& path) { opened_folders.push_back(path); });
  }

 private:
  std::optional<std::string> AnswerOpenDialog(const OpenDialogRequest& request);
  bool AnswerQuestion(const std::string& title, const std::string& text);
};

using WindowDriverFactory = std::unique_ptr<WindowDriver> (*)();

class WindowContractTest : public ::testing::TestWithParam<WindowDriverFactory> {
 protected:
  WindowContractTest() : driver_(GetParam()()), d_(*driver_) {}

  std::unique_ptr<WindowDriver> driver_;
  WindowDriver& d_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_WINDOW_CONTRACT_TEST_H_
