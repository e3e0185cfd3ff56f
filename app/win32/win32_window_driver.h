// The Win32 window under the window contract tests
// (app/window_contract_test.h) and the Win32 window's own tests: a
// Win32Window with a TForm1 over it, made and shown as larkspur.exe does,
// what it remembers kept under a registry key of its own that goes with the
// driver. Menu choices, selector choices and picture clicks arrive as the
// WM_COMMAND messages the controls send, a dropped file as the shell's
// WM_DROPFILES. User-interface thread only.
#ifndef LARKSPUR_APP_WIN32_WIN32_WINDOW_DRIVER_H_
#define LARKSPUR_APP_WIN32_WIN32_WINDOW_DRIVER_H_

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "app/tform1.h"
#include "app/win32/win32_window.h"
#include "app/window_contract_test.h"

namespace larkspur {

class Win32WindowDriver : public WindowDriver {
 public:
  Win32WindowDriver();
  ~Win32WindowDriver() override;

  Win32Window& win32_window() { return *window_; }
  HWND Control(int id) const { return GetDlgItem(window_->handle(), id); }
  // What a control sends its parent when the user works it (a menu item:
  // no notification).
  void SendCommand(int id, int notification = 0);
  bool MenuItemEnabled(int id) const;
  // A status bar panel's text as the control holds it (a leading tab
  // centres it).
  std::string RawStatusText(int panel) const;
  // The registry key, under HKEY_CURRENT_USER, that holds what the window
  // remembers.
  const std::wstring& settings_key() const { return settings_key_; }
  static std::string WindowText(HWND control);

  // WindowDriver.
  Window& window() override { return *window_; }
  TForm1& form() override { return *form_; }
  std::string Caption() override;
  std::vector<std::string> LogLines() override;
  std::string StatusText(int panel) override;
  std::vector<std::string> MenuCaptions() override;
  bool CommandEnabled(Command command) override;
  std::vector<std::string> SelectorItems() override;
  bool SelectorEnabled() override;
  std::string DonationText() override;
  void ChooseModel(int index) override;
  void Choose(Command command) override;
  void ClickPicture() override;
  void DropFile(const std::string& path) override;
  void CloseWindow() override;
  void Restart() override;
  void ServeOnce() override;

  // Drops a file whose name is `name` as the shell gives it, in UTF-16.
  void DropWideFile(const std::wstring& name);

 private:
  void Start();

  const std::wstring settings_key_;
  std::unique_ptr<Win32Window> window_;
  std::unique_ptr<TForm1> form_;
};

std::unique_ptr<WindowDriver> MakeWin32WindowDriver();

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WIN32_WINDOW_DRIVER_H_
