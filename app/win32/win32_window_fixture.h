// A test fixture that drives the real Win32 window: a Win32Window with a
// TForm1 over it, created and shown as larkspur.exe does, with the open
// dialog, the message box and the browser answered by the test. Menu
// choices, selector choices and picture clicks arrive as the WM_COMMAND
// messages the controls send. The program folder is a fresh folder with
// exebat, temp, rofs2 and fat16 inside. User-interface thread only.
#ifndef LARKSPUR_APP_WIN32_WIN32_WINDOW_FIXTURE_H_
#define LARKSPUR_APP_WIN32_WIN32_WINDOW_FIXTURE_H_

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "app/tform1.h"
#include "app/win32/wide_text.h"
#include "app/win32/win32_window.h"
#include "testing/program_folder.h"

namespace larkspur {

class Win32WindowFixture : public ::testing::Test {
 protected:
  struct Message {
    std::string title;
    std::string text;
    MessageIcon icon;
  };

  Win32WindowFixture() : window_(GetModuleHandleW(nullptr)), form_(window_, home_.path()) {
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
    window_.CenterAndShow(SW_SHOWNOACTIVATE);
  }

  ~Win32WindowFixture() override { form_.FormDestroy(); }

  HWND Control(int id) const { return GetDlgItem(window_.handle(), id); }

  // What a control sends its parent when the user works it.
  void Command(int id, int notification = 0) {
    SendMessageW(window_.handle(), WM_COMMAND, MAKEWPARAM(id, notification),
                 notification == 0 ? 0 : reinterpret_cast<LPARAM>(Control(id)));
  }

  // Chooses Open in the menu with the dialog answering `path` (nothing:
  // the user cancels).
  void OpenFile(std::optional<std::string> path) {
    next_open_choice_ = std::move(path);
    Command(Win32Window::kOpen1Id);
  }

  bool MenuItemEnabled(int id) const {
    const UINT state = GetMenuState(GetMenu(window_.handle()), static_cast<UINT>(id), MF_BYCOMMAND);
    EXPECT_NE(state, static_cast<UINT>(-1)) << id;
    return (state & (MF_GRAYED | MF_DISABLED)) == 0;
  }

  bool MenuEnabled() const {
    return MenuItemEnabled(Win32Window::kOpen1Id) && MenuItemEnabled(Win32Window::kExtract1Id) &&
           MenuItemEnabled(Win32Window::kRepack1Id);
  }

  static std::string WindowText(HWND control) {
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return Utf8FromWide(text);
  }

  // The log pane, a line per entry.
  std::vector<std::string> LogLines() const {
    const std::string text = WindowText(Control(Win32Window::kInfoId));
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
      lines.push_back(text.substr(start, end - start));
    }
    lines.push_back(text.substr(start));
    return lines;
  }

  // A status bar panel's text as the control holds it (a leading tab
  // centres it).
  std::string StatusText(int panel) const {
    HWND bar = Control(Win32Window::kStatusBar1Id);
    const LRESULT length = SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(panel), 0);
    std::wstring text(LOWORD(length) + 1u, L'\0');
    SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
    text.resize(LOWORD(length));
    return Utf8FromWide(text);
  }

  // Runs the message loop, as the program's would, until `done` holds;
  // fails the test after `limit` without it.
  bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds limit = std::chrono::seconds(120)) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "gave up waiting";
        return false;
      }
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  std::string program_folder() const { return form_.program_folder(); }

  testing::ProgramFolder home_;
  Win32Window window_;
  TForm1 form_;
  std::optional<std::string> next_open_choice_;
  std::vector<OpenDialogRequest> open_requests_;
  std::vector<Message> messages_;
  std::vector<std::string> opened_urls_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WIN32_WINDOW_FIXTURE_H_
