#include "app/console_window.h"


namespace larkspur {

ConsoleWindow::ConsoleWindow(std::ostream* log_stream, std::ostream* message_stream)
    : log_stream_(log_stream), message_stream_(message_stream) {}

void ConsoleWindow::RunOnUiThread(const std::function<void()>& request) { requests_.RunOnUiThread(request); }

void ConsoleWindow::ServePendingRequests() { requests_.ServePendingRequests(); }

void ConsoleWindow::ServeUntil(const std::function<bool()>& done) { requests_.ServeUntil(done); }

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

bool ConsoleWindow::AskYesNo(const std::string& title, const std::string& text) {
  questions.push_back({title, text, MessageIcon::kNone});
  if (message_stream_) *message_stream_ << "[" << title << "] " << text << '\n' << std::flush;
  if (answers_.empty()) return false;
  const bool yes = answers_.front();
  answers_.pop_front();
  return yes;
}

std::optional<std::string> ConsoleWindow::ShowOpenDialog(const OpenDialogRequest& request) {
  dialog_requests.push_back(request);
  if (dialog_answers_.empty()) return std::nullopt;
  auto answer = dialog_answers_.front();
  dialog_answers_.pop_front();
  return answer;
}

}  // namespace larkspur
