#include "app/win32/win32_window_driver.h"

#include <commctrl.h>
#include <shlobj.h>

#include <atomic>
#include <cstring>

#include "port/wide_paths_win32.h"

namespace larkspur {
namespace {

// The tests' settings live apart from the program's, a key per driver.
constexpr wchar_t kTestSettingsParent[] = L"Software\\Larkspur-tests";

std::wstring FreshSettingsKey() {
  static std::atomic<int> drivers = 0;
  return std::wstring(kTestSettingsParent) + L"\\" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++drivers);
}

int MenuItemId(Command command) {
  switch (command) {
    case Command::kOpen:
      return Win32Window::kOpen1Id;
    case Command::kExtract:
      return Win32Window::kExtract1Id;
    case Command::kRepack:
      return Win32Window::kRepack1Id;
    case Command::kOpenProgramFolder:
      return Win32Window::kProgramFolder1Id;
  }
  return 0;
}

}  // namespace

Win32WindowDriver::Win32WindowDriver() : settings_key_(FreshSettingsKey()) { Start(); }

Win32WindowDriver::~Win32WindowDriver() {
  if (form_) form_->FormDestroy();
  form_.reset();
  window_.reset();
  RegDeleteTreeW(HKEY_CURRENT_USER, settings_key_.c_str());
  // Goes only when no other driver's key is left in it.
  RegDeleteKeyW(HKEY_CURRENT_USER, kTestSettingsParent);
}

void Win32WindowDriver::Start() {
  window_ = std::make_unique<Win32Window>(GetModuleHandleW(nullptr), settings_key_);
  form_ = std::make_unique<TForm1>(*window_, home.path());
  AnswerFor(*window_);
  window_->StartForm(*form_);
  window_->CenterAndShow(SW_SHOWNOACTIVATE);
}

void Win32WindowDriver::SendCommand(int id, int notification) {
  SendMessageW(window_->handle(), WM_COMMAND, MAKEWPARAM(id, notification),
               notification == 0 ? 0 : reinterpret_cast<LPARAM>(Control(id)));
}

bool Win32WindowDriver::MenuItemEnabled(int id) const {
  const UINT state = GetMenuState(GetMenu(window_->handle()), static_cast<UINT>(id), MF_BYCOMMAND);
  EXPECT_NE(state, static_cast<UINT>(-1)) << id;
  return (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

std::string Win32WindowDriver::RawStatusText(int panel) const {
  HWND bar = Control(Win32Window::kStatusBar1Id);
  const LRESULT length = SendMessageW(bar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(panel), 0);
  std::wstring text(LOWORD(length) + 1u, L'\0');
  SendMessageW(bar, SB_GETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(text.data()));
  text.resize(LOWORD(length));
  return port::Utf8FromWide(text);
}

std::string Win32WindowDriver::WindowText(HWND control) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return port::Utf8FromWide(text);
}

std::string Win32WindowDriver::Caption() { return WindowText(window_->handle()); }

std::vector<std::string> Win32WindowDriver::LogLines() {
  const std::string text = WindowText(Control(Win32Window::kInfoId));
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

std::string Win32WindowDriver::StatusText(int panel) {
  const std::string text = RawStatusText(panel);
  return text.rfind('\t', 0) == 0 ? text.substr(1) : text;
}

std::vector<std::string> Win32WindowDriver::MenuCaptions() {
  HMENU menu = GetMenu(window_->handle());
  std::vector<std::string> captions;
  for (int i = 0; i < GetMenuItemCount(menu); ++i) {
    wchar_t caption[128] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), caption, 128, MF_BYPOSITION);
    captions.push_back(port::Utf8FromWide(caption) + (GetSubMenu(menu, i) != nullptr ? " (submenu)" : ""));
  }
  return captions;
}

bool Win32WindowDriver::CommandEnabled(Command command) { return MenuItemEnabled(MenuItemId(command)); }

std::vector<std::string> Win32WindowDriver::SelectorItems() {
  HWND combo = Control(Win32Window::kComboBox1Id);
  std::vector<std::string> items;
  const LRESULT count = SendMessageW(combo, CB_GETCOUNT, 0, 0);
  for (LRESULT i = 0; i < count; ++i) {
    std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, i, 0)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text.data()))));
    items.push_back(port::Utf8FromWide(text));
  }
  return items;
}

bool Win32WindowDriver::SelectorEnabled() { return IsWindowEnabled(Control(Win32Window::kComboBox1Id)) != FALSE; }

std::string Win32WindowDriver::DonationText() { return WindowText(Control(Win32Window::kLabel1Id)); }

void Win32WindowDriver::ChooseModel(int index) {
  // A user's choice: the index changes, then the selector reports it.
  SendMessageW(Control(Win32Window::kComboBox1Id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  SendCommand(Win32Window::kComboBox1Id, CBN_SELCHANGE);
}

void Win32WindowDriver::Choose(Command command) { SendCommand(MenuItemId(command)); }

void Win32WindowDriver::ClickPicture() { SendCommand(Win32Window::kImage1Id, STN_CLICKED); }

void Win32WindowDriver::DropFile(const std::string& path) { DropWideFile(port::WideFromUtf8(path)); }

void Win32WindowDriver::DropWideFile(const std::wstring& name) {
  // What the shell hands a window that takes files: a DROPFILES header, then
  // the names, each ended by a NUL, and a NUL after the last. The window
  // frees it (DragFinish).
  const std::size_t size = sizeof(DROPFILES) + (name.size() + 2) * sizeof(wchar_t);
  HGLOBAL memory = GlobalAlloc(GHND, size);
  ASSERT_NE(memory, nullptr);
  auto* header = static_cast<DROPFILES*>(GlobalLock(memory));
  header->pFiles = sizeof(DROPFILES);
  header->fWide = TRUE;
  // Let go over the middle of the log pane.
  header->pt = POINT{5 + 484 / 2, 217 / 2};
  std::memcpy(reinterpret_cast<char*>(header) + sizeof(DROPFILES), name.c_str(), name.size() * sizeof(wchar_t));
  GlobalUnlock(memory);
  SendMessageW(window_->handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(memory), 0);
}

void Win32WindowDriver::CloseWindow() {
  SendMessageW(window_->handle(), WM_CLOSE, 0, 0);
  form_->FormDestroy();  // what wWinMain does once the message loop ends
}

void Win32WindowDriver::Restart() {
  CloseWindow();
  form_.reset();
  window_.reset();
  Start();
}

// As the program's message loop would.
void Win32WindowDriver::ServeOnce() {
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

std::unique_ptr<WindowDriver> MakeWin32WindowDriver() { return std::make_unique<Win32WindowDriver>(); }

}  // namespace larkspur
