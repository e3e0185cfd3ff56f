// The program's main window on Windows, built with the plain Win32 API: the
// native face of Window, for builds without Qt. It lays out the controls as
// the Qt window does, forwards the menu items, the model selector and the
// donation picture to TForm1's handlers, and carries out TForm1's screen
// requests. Beside Open, Extract and Repack the menu bar has an item that
// shows the program folder in the file manager.
//
// Everything runs on the thread that constructed the window (its
// user-interface thread), except RunOnUiThread, which any thread may call:
// the request is queued, a message posted to the window wakes the
// user-interface thread, and the asking thread waits on an event until the
// request has run. A firmware file dropped onto the window is opened as Open
// would open it. The window remembers the model chosen last and the folder
// the open dialog chose from last, between runs, in the registry under
// HKEY_CURRENT_USER\Software\Larkspur\Larkspur (REG_DWORD "Model", REG_SZ
// "LastFolder"), or under a key given to the constructor. The dialogs, the
// message box, the question box, the web browser and the file manager go
// through replaceable functions so tests can answer them without a modal
// loop.
#ifndef LARKSPUR_APP_WIN32_WIN32_WINDOW_H_
#define LARKSPUR_APP_WIN32_WIN32_WINDOW_H_

#include <windows.h>

#include <exception>
#include <functional>
#include <optional>
#include <string>

#include "app/win32/system_picture.h"
#include "app/window.h"
#include "jobs/request_queue.h"

namespace larkspur {

class TForm1;

class Win32Window : public Window {
 public:
  using OpenDialogFunction = std::function<std::optional<std::string>(const OpenDialogRequest&)>;
  using MessageBoxFunction =
      std::function<void(const std::string& title, const std::string& text, MessageIcon icon)>;
  using UrlOpenerFunction = std::function<void(const std::string& url)>;
  using QuestionFunction = std::function<bool(const std::string& title, const std::string& text)>;
  using FolderOpenerFunction = std::function<void(const std::string& path)>;

  // The registry key, under HKEY_CURRENT_USER, of what the window remembers.
  static constexpr wchar_t kSettingsKey[] = L"Software\\Larkspur\\Larkspur";

  // The client area below the menu bar, status bar included, and the status
  // bar's height.
  static constexpr int kClientWidth = 498;
  static constexpr int kClientHeight = 337;
  static constexpr int kStatusBarHeight = 19;

  // Command and control identifiers (GetDlgItem, WM_COMMAND).
  enum ControlId : int {
    kOpen1Id = 101,
    kExtract1Id = 102,
    kRepack1Id = 103,
    kProgramFolder1Id = 104,
    kInfoId = 201,
    kComboBox1Id = 202,
    kLabel1Id = 203,
    kImage1Id = 204,
    kStatusBar1Id = 205,
  };

  // Builds the window with its controls, fixed in size; not shown yet. What
  // it remembers is kept under `settings_key` (tests give a key of their
  // own). The thread needs COM (OleInitialize) and the common controls
  // (InitCommonControlsEx) first. Throws SystemPictureError if the built-in
  // donation picture cannot be decoded, Error if a window cannot be made.
  explicit Win32Window(HINSTANCE instance, std::wstring settings_key = kSettingsKey);
  // Destroys the window; requests still queued are carried out first, so
  // no worker is left waiting.
  ~Win32Window() override;

  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Sends the menu items, the selector's user choices, clicks on the
  // picture and dropped files to `form`'s handlers, each through
  // RunUiCommand; until this is called they do nothing. Then runs the
  // form's FormCreate and brings back the model chosen in the last run:
  // selected, with ComboBox1Change run, so its profile is in force. `form`
  // must outlive every later user action.
  void StartForm(TForm1& form);

  // Replace the real open dialog, message box, question box, browser launch
  // and file manager launch; an empty function brings the real one back.
  void SetOpenDialog(OpenDialogFunction open_dialog) { open_dialog_ = std::move(open_dialog); }
  void SetMessageBox(MessageBoxFunction message_box) { message_box_ = std::move(message_box); }
  void SetUrlOpener(UrlOpenerFunction url_opener) { url_opener_ = std::move(url_opener); }
  void SetQuestionBox(QuestionFunction question_box) { question_box_ = std::move(question_box); }
  void SetFolderOpener(FolderOpenerFunction folder_opener) { folder_opener_ = std::move(folder_opener); }

  // Places the window in the middle of the screen's work area and shows it.
  void CenterAndShow(int show_command);

  // Runs the message loop until the window is closed; returns the exit
  // status. Closing only hides the window, so TForm1's teardown can still
  // log into it.
  int RunMessageLoop();

  HWND handle() const { return window_; }

  // Window.
  void AppendLog(const std::string& line) override;
  void ClearLog() override;
  void SetMenuEnabled(MenuItem item, bool enabled) override;
  void SetStatusText(int panel, const std::string& text) override;
  int SelectorIndex() const override;
  void SetSelectorIndex(int index) override;
  void SetSelectorEnabled(bool enabled) override;
  void ShowProgress(const std::string& text) override;
  void ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) override;
  // The dialog starts in the folder it chose from last while that still
  // exists, else in the request's.
  std::optional<std::string> ShowOpenDialog(const OpenDialogRequest& request) override;
  bool AskYesNo(const std::string& title, const std::string& text) override;
  void OpenUrl(const std::string& url) override;
  void OpenFolder(const std::string& path) override;

  // UiThread.
  void RunOnUiThread(const std::function<void()>& request) override;
  void ServePendingRequests() override;

  // The message posted to the window when a request is queued.
  static constexpr UINT kServeRequestsMessage = WM_APP + 1;

 private:
  static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void BuildMenu();
  void BuildControls(HINSTANCE instance);
  HWND AddControl(const wchar_t* window_class, const wchar_t* text, DWORD style, DWORD extended_style,
                  RECT place, ControlId id, HINSTANCE instance);
  void OnCommand(int id, int notification);
  void OnDropFiles(HDROP drop);
  bool MenuItemEnabled(int id) const;
  void DrawSelectorItem(const DRAWITEMSTRUCT& item);
  void RunHandler(void (TForm1::*handler)());
  std::optional<std::string> RunRealOpenDialog(const OpenDialogRequest& request);

  // What the window remembers between runs; nothing when there is no
  // usable record (none, a value of another type or range, a folder gone
  // since).
  std::optional<int> RememberedModel() const;
  void RememberModel(int index);
  std::optional<std::string> RememberedFolder() const;
  void RememberFolderOf(const std::string& chosen_path);

  TForm1* form_ = nullptr;
  OpenDialogFunction open_dialog_;
  MessageBoxFunction message_box_;
  UrlOpenerFunction url_opener_;
  QuestionFunction question_box_;
  FolderOpenerFunction folder_opener_;
  const std::wstring settings_key_;

  HWND window_ = nullptr;
  HMENU menu_ = nullptr;
  HWND info_ = nullptr;
  HWND combo_box1_ = nullptr;
  std::wstring panel0_text_;  // the first panel's own text, under any progress report
  HWND label1_ = nullptr;
  HWND image1_ = nullptr;
  HWND status_bar1_ = nullptr;
  HFONT font_ = nullptr;        // Tahoma 8 pt, Chinese character set
  HFONT label_font_ = nullptr;  // Tahoma 9 pt bold
  Bitmap picture_;
  bool log_empty_ = true;  // the log pane holds no line yet

  // Workers' requests; a posted message wakes the loop to serve them. An
  // exception a request throws goes back to its worker, never through the
  // window procedure.
  UiRequestQueue requests_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_WIN32_WINDOW_H_
