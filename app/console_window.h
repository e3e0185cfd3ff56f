// A window without a screen: the command line and the tests drive TForm1
// through it. Log lines go to an output stream exactly as the log pane
// would show them, message boxes to an error stream with their title; the
// open dialog answers from a queue of paths. Everything shown is also kept,
// so tests can look at it.
//
// The thread that constructs it is its user-interface thread. Worker threads
// hand requests over through RunOnUiThread and wait; the user-interface
// thread carries them out in ServePendingRequests (or in WaitUntilIdle).
#ifndef LARKSPUR_APP_CONSOLE_WINDOW_H_
#define LARKSPUR_APP_CONSOLE_WINDOW_H_

#include <functional>
#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "app/window.h"
#include "jobs/request_queue.h"

namespace larkspur {

class ConsoleWindow : public Window {
 public:
  struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
  };

  // `log_stream` and `message_stream` may be null (tests).
  ConsoleWindow(std::ostream* log_stream, std::ostream* message_stream);

  // Window
  void RunOnUiThread(const std::function<void()>& request) override;
  void ServePendingRequests() override;
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void SetMenuEnabled(MenuItem item, bool enabled) override;
  void SetStatusText(int panel, const std::string& text) override;
  int SelectorIndex() const override { return selector_index_; }
  void SetSelectorIndex(int index) override { selector_index_ = index; }
  void SetSelectorEnabled(bool enabled) override { selector_enabled = enabled; }
  void ShowProgress(const std::string& text) override;
  void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
  bool AskYesNo(const std::string& title, const std::string& text) override;
  std::optional<std::string> ShowOpenDialog(const OpenDialogRequest& request) override;
  void OpenUrl(const std::string& url) override { opened_urls.push_back(url); }
  void OpenFolder(const std::string& path) override { opened_folders.push_back(path); }

  // Answers, as a user would give them: the next question's (No when none
  // is queued), and the next open dialog's.
  void QueueAnswer(bool yes) { answers_.push_back(yes); }
  void QueueOpenDialogAnswer(std::optional<std::string> path) { dialog_answers_.push_back(std::move(path)); }

  // User-interface thread: serves requests until `done` is true, checking
  // every millisecond.
  void ServeUntil(const std::function<bool()>& done);

  // What was shown. User-interface thread only.
  std::vector<std::string> log;  // the log pane since the last clear
  std::vector<std::string> all_log;  // every line ever appended
  std::map<MenuItem, bool> menu_enabled;
  std::map<int, std::string> status;
  std::vector<Message> messages;
  std::vector<OpenDialogRequest> dialog_requests;
  std::vector<std::string> opened_urls;
  std::vector<std::string> opened_folders;
  std::vector<Message> questions;  // every question asked (icon kNone)
  bool selector_enabled = true;
  std::vector<std::string> progress;  // every progress report, in order
  // Where progress reports go as they come (a terminal's standard error),
  // each over the one before; null: only kept in `progress`.
  std::ostream* progress_stream = nullptr;
  // Called when a message box is shown, as if the user were looking at it
  // (tests use it to act while a worker waits for the box).
  std::function<void(const Message&)> on_message;

 private:
  std::ostream* log_stream_;
  std::ostream* message_stream_;
  int selector_index_ = -1;
  std::deque<std::optional<std::string>> dialog_answers_;
  std::deque<bool> answers_;

  UiRequestQueue requests_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_CONSOLE_WINDOW_H_
