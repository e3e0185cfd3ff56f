#include "app/console_window.h"

#include <chrono>

namespace larkspur {

ConsoleWindow::ConsoleWindow(std::ostream* log_stream, std::ostream* message_stream)
    : log_stream_(log_stream), message_stream_(message_stream), ui_thread_(std::this_thread::get_id()) {}

void ConsoleWindow::RunOnUiThread(const std::function<void()>& request) {
  if (std::this_thread::get_id() == ui_thread_) {
    request();
    return;
  }
  Request item{request, false, nullptr};
  std::unique_lock lock(mutex_);
  pending_.push_back(&item);
  changed_.notify_all();
  changed_.wait(lock, [&] { return item.done; });
  if (item.error) std::rethrow_exception(item.error);
}

void ConsoleWindow::ServePendingRequests() {
  for (;;) {
    Request* item = nullptr;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) return;
      item = pending_.front();
      pending_.pop_front();
    }
    try {
      item->work();
    } catch (...) {
      item->error = std::current_exception();
    }
    std::lock_guard lock(mutex_);
    item->done = true;
    changed_.notify_all();
  }
}

void ConsoleWindow::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    ServePendingRequests();
    if (done()) return;
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, std::chrono::milliseconds(1), [&] { return !pending_.empty(); });
  }
}

void ConsoleWindow::AppendLog(const std::string& line) {
  log.push_back(line);
  all_log.push_back(line);
  if (log_stream_) *log_stream_ << line << '\n' << std::flush;
}

void ConsoleWindow::ClearLog() { log.clear(); }

void ConsoleWindow::ShowProgress(const std::string& text) {
  progress.push_back(text);
  if (!progress_stream) return;
  // Over the report before, blanking what is left of a longer one.
  static constexpr std::size_t kWidth = 60;
  *progress_stream << '\r' << text << std::string(text.size() < kWidth ? kWidth - text.size() : 0, ' ') << '\r'
                   << std::flush;
}

void ConsoleWindow::SetMenuEnabled(MenuItem item, bool enabled) { menu_enabled[item] = enabled; }

void ConsoleWindow::SetStatusText(int panel, const std::string& text) { status[panel] = text; }

void ConsoleWindow::ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) {
  Message message{title, text, icon};
  messages.push_back(message);
  if (message_stream_) *message_stream_ << "[" << title << "] " << text << '\n' << std::flush;
  if (on_message) on_message(message);
}

std::optional<std::string> ConsoleWindow::ShowOpenDialog(const OpenDialogRequest& request) {
  dialog_requests.push_back(request);
  if (dialog_answers_.empty()) return std::nullopt;
  auto answer = dialog_answers_.front();
  dialog_answers_.pop_front();
  return answer;
}

}  // namespace larkspur
