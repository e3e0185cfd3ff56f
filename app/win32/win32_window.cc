#include "app/win32/win32_window.h"

#include <commctrl.h>
#include <commdlg.h>
#include <shellapi.h>

#include <stdexcept>
#include <vector>

#include "app/win32/donate_picture.h"
#include "app/texts.h"
#include "app/tform1.h"
#include "app/win32/wide_text.h"
#include "format/model_profile.h"
#include "port/errors.h"
#include "port/wide_paths_win32.h"

namespace larkspur {
namespace {

constexpr wchar_t kWindowClass[] = L"LarkspurForm1";
// The fourth menu item: the folder of the REB- files and the working
// folders.
constexpr char kProgramFolderCaption[] = "打开本程序文件夹(&F)";
// What the window remembers: the selector's item chosen last, and the
// folder the open dialog chose a file from last.
constexpr wchar_t kModelValue[] = L"Model";
constexpr wchar_t kLastFolderValue[] = L"LastFolder";
constexpr DWORD kWindowStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
// The selection field and the list rows of the model selector; the field
// with its border is then the selector's 21 pixels.
constexpr int kSelectorItemHeight = 15;
constexpr int kSelectorListHeight = 4 * kSelectorItemHeight + 8;
// The right edges of the status bar's three panels, 300, 100 and 60 wide.
constexpr int kStatusPanelEdges[3] = {300, 400, 460};

[[noreturn]] void ThrowWindowsError(const std::string& what) {
  throw Error(what + ". " + port::WindowsErrorText(GetLastError()));
}

void RegisterWindowClass(HINSTANCE instance, WNDPROC procedure) {
  WNDCLASSEXW window_class = {};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = procedure;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.hIcon = LoadIconW(instance, L"MAINICON");
  window_class.lpszClassName = kWindowClass;
  // Every window of the program shares the class; a second registration
  // (a second window in the tests) finds it there.
  if (RegisterClassExW(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
    ThrowWindowsError("The main window's class could not be registered");
  }
}

HFONT MakeFont(int points, int weight) {
  HDC screen = GetDC(nullptr);
  const int dots_per_inch = screen ? GetDeviceCaps(screen, LOGPIXELSY) : 96;
  if (screen) ReleaseDC(nullptr, screen);
  // Tahoma has no Chinese letters; asking for the Chinese character set lets
  // the font mapper (or font linking) draw them with a font that has.
  return CreateFontW(-MulDiv(points, dots_per_inch, 72), 0, 0, 0, weight, FALSE, FALSE, FALSE, GB2312_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// A setting that cannot be read or written is a convenience lost, not an
// error of the command that chose it: registry failures are not reported.
std::optional<DWORD> ReadDwordSetting(const std::wstring& key, const wchar_t* name) {
  DWORD value = 0;
  DWORD size = sizeof value;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_DWORD, nullptr, &value, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::wstring> ReadTextSetting(const std::wstring& key, const wchar_t* name) {
  DWORD size = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, nullptr, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
  size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_REG_SZ, nullptr, text.data(), &size) !=
      ERROR_SUCCESS) {
    return std::nullopt;
  }
  // The size counts the terminating NUL, which RegGetValueW always writes.
  text.resize(size >= sizeof(wchar_t) ? size / sizeof(wchar_t) - 1 : 0);
  return text;
}

void WriteSetting(const std::wstring& key, const wchar_t* name, DWORD type, const void* data, DWORD size) {
  HKEY opened = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr,
                      &opened, nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExW(opened, name, 0, type, static_cast<const BYTE*>(data), size);
  RegCloseKey(opened);
}

std::wstring ComboItemText(HWND combo, int index) {
  const LRESULT length = SendMessageW(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
  if (length == CB_ERR || length <= 0) return {};
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  const LRESULT copied =
      SendMessageW(combo, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text.data()));
  text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
  return text;
}

}  // namespace

// If the post fails (the message queue is full), the request still waits in
// the queue: the next post or the teardown wait carries it out.
Win32Window::Win32Window(HINSTANCE instance, std::wstring settings_key)
    : settings_key_(std::move(settings_key)),
      requests_([this] { PostMessageW(window_, kServeRequestsMessage, 0, 0); }) {
  picture_ = DecodeJpegWithSystem(DonatePicture(), "donate.jpg");
  RegisterWindowClass(instance, &Win32Window::WindowProcedure);
  BuildMenu();
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&frame, kWindowStyle, TRUE, 0);
  window_ = CreateWindowExW(0, kWindowClass, WideFromText(kWindowCaption).c_str(), kWindowStyle, CW_USEDEFAULT,
                            CW_USEDEFAULT, frame.right - frame.left, frame.bottom - frame.top, nullptr, menu_,
                            instance, this);
  if (window_ == nullptr) {
    DestroyMenu(menu_);
    ThrowWindowsError("The main window could not be made");
  }
  try {
    // A menu bar that wraps takes more height than AdjustWindowRectEx
    // allowed for: the client area is measured and the frame grown to fit.
    RECT client = {};
    GetClientRect(window_, &client);
    const int grow_width = kClientWidth - (client.right - client.left);
    const int grow_height = kClientHeight - (client.bottom - client.top);
    if (grow_width != 0 || grow_height != 0) {
      RECT outer = {};
      GetWindowRect(window_, &outer);
      SetWindowPos(window_, nullptr, 0, 0, outer.right - outer.left + grow_width,
                   outer.bottom - outer.top + grow_height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    font_ = MakeFont(8, FW_NORMAL);
    label_font_ = MakeFont(9, FW_BOLD);
    BuildControls(instance);
    DragAcceptFiles(window_, TRUE);
  } catch (...) {
    DestroyWindow(window_);
    if (font_) DeleteObject(font_);
    if (label_font_) DeleteObject(label_font_);
    throw;
  }
}

Win32Window::~Win32Window() {
  requests_.ServePendingRequests();
  DestroyWindow(window_);  // the menu and the controls go with it
  DeleteObject(font_);
  DeleteObject(label_font_);
}

void Win32Window::BuildMenu() {
  menu_ = CreateMenu();
  if (menu_ == nullptr) ThrowWindowsError("The main menu could not be made");
  const struct {
    ControlId id;
    const char* caption;
  } items[] = {{kOpen1Id, kOpenCaption},
               {kExtract1Id, kExtractCaption},
               {kRepack1Id, kRepackCaption},
               {kProgramFolder1Id, kProgramFolderCaption}};
  for (const auto& item : items) {
    if (!AppendMenuW(menu_, MF_STRING, item.id, WideFromText(Say(item.caption)).c_str())) {
      DestroyMenu(menu_);
      ThrowWindowsError("The main menu could not be made");
    }
  }
}

HWND Win32Window::AddControl(const wchar_t* window_class, const wchar_t* text, DWORD style, DWORD extended_style,
                             RECT place, ControlId id, HINSTANCE instance) {
  HWND control = CreateWindowExW(extended_style, window_class, text, WS_CHILD | WS_VISIBLE | style, place.left,
                                 place.top, place.right, place.bottom, window_,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  if (control == nullptr) ThrowWindowsError("A control of the main window could not be made");
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  return control;
}

// Places are left, top, width, height in the client area, as in the Qt
// window.
void Win32Window::BuildControls(HINSTANCE instance) {
  info_ = AddControl(L"EDIT", L"", WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_AUTOVSCROLL, WS_EX_CLIENTEDGE,
                     {5, 0, 484, 217}, kInfoId, instance);
  // A long session's log must not stop at the default 32 KB.
  SendMessageW(info_, EM_SETLIMITTEXT, 0, 0);

  // Owner-drawn so that, with no item selected, the field can show item 0,
  // the model whose profile is in force: a plain drop-down list would show
  // nothing there.
  combo_box1_ = AddControl(L"COMBOBOX", L"",
                           WS_VSCROLL | WS_TABSTOP | CBS_DROPDOWNLIST | CBS_OWNERDRAWFIXED | CBS_HASSTRINGS, 0,
                           {192, 224, 289, 21 + kSelectorListHeight}, kComboBox1Id, instance);
  for (int i = 0; i < kModelCount; ++i) {
    SendMessageW(combo_box1_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(WideFromText(Say(ModelItemText(i))).c_str()));
  }
  SendMessageW(combo_box1_, CB_SETCURSEL, static_cast<WPARAM>(-1), 0);

  label1_ = AddControl(L"STATIC", WideFromText(Say(kDonationText)).c_str(), SS_LEFT | SS_NOPREFIX, 0, {8, 256, 321, 57},
                       kLabel1Id, instance);
  SendMessageW(label1_, WM_SETFONT, reinterpret_cast<WPARAM>(label_font_), FALSE);

  image1_ = AddControl(L"STATIC", nullptr, SS_BITMAP | SS_NOTIFY | SS_REALSIZECONTROL, 0, {360, 272, 97, 25},
                       kImage1Id, instance);
  SendMessageW(image1_, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture_.get()));
  // The bitmap style sizes the control to the picture; the place is fixed.
  SetWindowPos(image1_, nullptr, 360, 272, 97, 25, SWP_NOZORDER | SWP_NOACTIVATE);

  // Placed by hand: a status bar that aligns itself takes the height of its
  // font, not the window's 19 pixels.
  status_bar1_ = AddControl(STATUSCLASSNAMEW, nullptr, CCS_NOPARENTALIGN | CCS_NORESIZE | CCS_NODIVIDER, 0,
                            {0, kClientHeight - kStatusBarHeight, kClientWidth, kStatusBarHeight}, kStatusBar1Id,
                            instance);
  SendMessageW(status_bar1_, SB_SETPARTS, 3, reinterpret_cast<LPARAM>(kStatusPanelEdges));
}

void Win32Window::StartForm(TForm1& form) {
  form_ = &form;
  form.FormCreate();
  // FormCreate put the default profile in force; the model of the last run
  // comes back as if chosen by hand.
  if (const std::optional<int> model = RememberedModel()) {
    SendMessageW(combo_box1_, CB_SETCURSEL, static_cast<WPARAM>(*model), 0);
    RunHandler(&TForm1::ComboBox1Change);
  }
}

void Win32Window::CenterAndShow(int show_command) {
  RECT work = {};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  RECT frame = {};
  GetWindowRect(window_, &frame);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
  ShowWindow(window_, show_command);
  UpdateWindow(window_);
}

int Win32Window::RunMessageLoop() {
  MSG message;
  for (;;) {
    const BOOL got = GetMessageW(&message, nullptr, 0, 0);
    if (got == 0) return static_cast<int>(message.wParam);
    if (got == -1) return 1;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

LRESULT CALLBACK Win32Window::WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<Win32Window*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return self->Handle(message, wparam, lparam);
}

LRESULT Win32Window::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case kServeRequestsMessage:
      requests_.ServePendingRequests();
      return 0;
    case WM_COMMAND:
      OnCommand(LOWORD(wparam), HIWORD(wparam));
      return 0;
    case WM_DROPFILES:
      OnDropFiles(reinterpret_cast<HDROP>(wparam));
      return 0;
    case WM_MEASUREITEM: {
      auto* item = reinterpret_cast<MEASUREITEMSTRUCT*>(lparam);
      if (item->CtlID != kComboBox1Id) break;
      item->itemHeight = kSelectorItemHeight;
      return TRUE;
    }
    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lparam);
      if (item->CtlID != kComboBox1Id) break;
      DrawSelectorItem(*item);
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
      // The log pane is read-only, not disabled: it keeps the white of a
      // text box.
      if (reinterpret_cast<HWND>(lparam) == info_) {
        HDC context = reinterpret_cast<HDC>(wparam);
        SetTextColor(context, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(context, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
      }
      break;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wparam) == image1_) {
        SetCursor(LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_HAND)));
        return TRUE;
      }
      break;
    case WM_CLOSE:
      // The window stays until the program's teardown, which may still log
      // into it; the message loop ends.
      ShowWindow(window_, SW_HIDE);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcW(window_, message, wparam, lparam);
}

void Win32Window::OnCommand(int id, int notification) {
  switch (id) {
    case kOpen1Id:
    case kExtract1Id:
    case kRepack1Id:
    case kProgramFolder1Id:
      // A greyed item sends no command, but a posted one could still come:
      // the menu state decides, so two commands never run at once.
      if (!MenuItemEnabled(id)) return;
      RunHandler(id == kOpen1Id      ? &TForm1::Open1Click
                 : id == kExtract1Id ? &TForm1::Extract1Click
                 : id == kRepack1Id  ? &TForm1::Repack1Click
                                     : &TForm1::OpenProgramFolder);
      return;
    case kComboBox1Id:
      // Sent for the user's choices only, not for an index set by code.
      if (notification == CBN_SELCHANGE) {
        RunHandler(&TForm1::ComboBox1Change);
        RememberModel(SelectorIndex());
      }
      return;
    case kImage1Id:
      if (notification == STN_CLICKED) RunHandler(&TForm1::Image1Click);
      return;
    default:
      return;
  }
}

bool Win32Window::MenuItemEnabled(int id) const {
  const UINT state = GetMenuState(menu_, static_cast<UINT>(id), MF_BYCOMMAND);
  return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

void Win32Window::OnDropFiles(HDROP drop) {
  // Of several files dropped at once, the first is opened.
  std::wstring name;
  const UINT length = DragQueryFileW(drop, 0, nullptr, 0);
  if (length > 0) {
    name.resize(length + 1);
    name.resize(DragQueryFileW(drop, 0, name.data(), length + 1));
  }
  DragFinish(drop);
  // While a run holds the menu, Open waits, and so does a drop.
  if (name.empty() || form_ == nullptr || !MenuItemEnabled(kOpen1Id)) return;
  TForm1& form = *form_;
  // The program's paths are UTF-8: a name in any script opens.
  form.RunUiCommand([&form, &name] { form.OpenFile(port::Utf8FromWide(name)); });
}

void Win32Window::DrawSelectorItem(const DRAWITEMSTRUCT& item) {
  std::wstring text;
  if (item.itemID == static_cast<UINT>(-1)) {
    // Nothing selected: the field names the default model, as a chosen
    // item would read; the open list has no row -1 to draw.
    if ((item.itemState & ODS_COMBOBOXEDIT) == 0) return;
    text = WideFromText(Say(ModelItemText(0)));
  } else {
    text = ComboItemText(combo_box1_, static_cast<int>(item.itemID));
  }
  const bool selected = (item.itemState & ODS_SELECTED) != 0;
  RECT place = item.rcItem;
  FillRect(item.hDC, &place, GetSysColorBrush(selected ? COLOR_HIGHLIGHT : COLOR_WINDOW));
  SetTextColor(item.hDC, GetSysColor(selected ? COLOR_HIGHLIGHTTEXT : COLOR_WINDOWTEXT));
  SetBkMode(item.hDC, TRANSPARENT);
  HGDIOBJ previous_font = SelectObject(item.hDC, font_);
  place.left += 2;
  DrawTextW(item.hDC, text.c_str(), static_cast<int>(text.size()), &place,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
  SelectObject(item.hDC, previous_font);
  if ((item.itemState & ODS_FOCUS) != 0) DrawFocusRect(item.hDC, &item.rcItem);
}

void Win32Window::RunHandler(void (TForm1::*handler)()) {
  if (form_ == nullptr) return;
  TForm1& form = *form_;
  form.RunUiCommand([&form, handler] { (form.*handler)(); });
}

void Win32Window::AppendLog(const std::string& line) {
  // Each call is one line, an empty text an empty line.
  std::wstring text = WideFromText(line);
  if (!log_empty_) text.insert(0, L"\r\n");
  const int end = GetWindowTextLengthW(info_);
  SendMessageW(info_, EM_SETSEL, static_cast<WPARAM>(end), static_cast<LPARAM>(end));
  SendMessageW(info_, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(text.c_str()));
  // The newest line is the one to see.
  SendMessageW(info_, EM_SCROLLCARET, 0, 0);
  log_empty_ = false;
}

void Win32Window::ClearLog() {
  SetWindowTextW(info_, L"");
  log_empty_ = true;
}

void Win32Window::SetMenuEnabled(MenuItem item, bool enabled) {
  const UINT id = item == MenuItem::kOpen ? kOpen1Id : item == MenuItem::kExtract ? kExtract1Id : kRepack1Id;
  EnableMenuItem(menu_, id, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
  DrawMenuBar(window_);
}

void Win32Window::SetStatusText(int panel, const std::string& text) {
  if (panel < 0 || panel >= 3) throw std::out_of_range("Status bar panel " + std::to_string(panel) + " does not exist");
  // A leading tab centres a panel's text; panel 0 is left-aligned.
  const std::wstring shown = (panel == 0 ? L"" : L"\t") + WideFromText(text);
  if (panel == 0) panel0_text_ = shown;
  SendMessageW(status_bar1_, SB_SETTEXTW, static_cast<WPARAM>(panel), reinterpret_cast<LPARAM>(shown.c_str()));
}

void Win32Window::SetSelectorEnabled(bool enabled) { EnableWindow(combo_box1_, enabled ? TRUE : FALSE); }

void Win32Window::ShowProgress(const std::string& text) {
  // The wide first panel shows how far the step is, and the file name again
  // after.
  const std::wstring shown = text.empty() ? panel0_text_ : WideFromText(text);
  SendMessageW(status_bar1_, SB_SETTEXTW, 0, reinterpret_cast<LPARAM>(shown.c_str()));
}

int Win32Window::SelectorIndex() const {
  const LRESULT index = SendMessageW(combo_box1_, CB_GETCURSEL, 0, 0);
  return index == CB_ERR ? -1 : static_cast<int>(index);
}

// CB_SETCURSEL sends no CBN_SELCHANGE: only the user's choices reach the
// change handler, not this. The form sets the index for a model the user
// accepted: it is remembered as a choice by hand is.
void Win32Window::SetSelectorIndex(int index) {
  SendMessageW(combo_box1_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  RememberModel(index);
}

void Win32Window::ShowMessage(const std::string& title, const std::string& text, MessageIcon icon) {
  if (message_box_) {
    message_box_(title, text, icon);
    return;
  }
  const UINT icon_flag = icon == MessageIcon::kNone ? 0 : icon == MessageIcon::kError ? MB_ICONERROR : MB_ICONSTOP;
  MessageBoxW(window_, WideFromText(text).c_str(), WideFromText(title).c_str(), MB_OK | icon_flag);
}

std::optional<std::string> Win32Window::ShowOpenDialog(const OpenDialogRequest& request) {
  OpenDialogRequest shown = request;
  if (std::optional<std::string> folder = RememberedFolder()) shown.initial_folder = std::move(*folder);
  std::optional<std::string> chosen = open_dialog_ ? open_dialog_(shown) : RunRealOpenDialog(shown);
  if (chosen) RememberFolderOf(*chosen);
  return chosen;
}

std::optional<std::string> Win32Window::RunRealOpenDialog(const OpenDialogRequest& request) {
  // "Name|patterns|Name|patterns" becomes the dialog's NUL-separated pairs,
  // ended by an empty string.
  std::wstring filter = WideFromText(request.filter);
  for (wchar_t& c : filter) {
    if (c == L'|') c = L'\0';
  }
  filter.append(2, L'\0');
  std::wstring folder = port::WideFromUtf8(request.initial_folder);
  for (wchar_t& c : folder) {
    if (c == L'/') c = L'\\';
  }
  std::vector<wchar_t> chosen(32768, L'\0');
  OPENFILENAMEW dialog = {};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filter.c_str();
  dialog.nFilterIndex = static_cast<DWORD>(request.filter_index);
  dialog.lpstrFile = chosen.data();
  dialog.nMaxFile = static_cast<DWORD>(chosen.size());
  dialog.lpstrInitialDir = folder.c_str();
  // No "file must exist": a typed name of a missing file is returned like
  // any other. The current directory is the tools' affair, not the
  // dialog's.
  dialog.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_NOCHANGEDIR;
  if (!GetOpenFileNameW(&dialog)) {
    const DWORD failure = CommDlgExtendedError();
    if (failure == 0) return std::nullopt;  // cancelled
    throw Error("The open dialog failed (common dialog error " + std::to_string(failure) + ")");
  }
  // Wide from the dialog, UTF-8 for the program: a name in any script
  // arrives whole, whatever the ANSI code page.
  return port::Utf8FromWide(chosen.data());
}

bool Win32Window::AskYesNo(const std::string& title, const std::string& text) {
  if (question_box_) return question_box_(title, text);
  return MessageBoxW(window_, WideFromText(text).c_str(), WideFromText(title).c_str(), MB_YESNO | MB_ICONQUESTION) ==
         IDYES;
}

void Win32Window::OpenFolder(const std::string& path) {
  if (folder_opener_) {
    folder_opener_(path);
    return;
  }
  // Whether a file manager came up is not reported.
  ShellExecuteW(window_, L"open", port::WideFromUtf8(path).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

void Win32Window::OpenUrl(const std::string& url) {
  if (url_opener_) {
    url_opener_(url);
    return;
  }
  // Whether a browser came up is not reported.
  ShellExecuteW(window_, L"open", WideFromText(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

std::optional<int> Win32Window::RememberedModel() const {
  const std::optional<DWORD> model = ReadDwordSetting(settings_key_, kModelValue);
  if (!model || *model >= static_cast<DWORD>(kModelCount)) return std::nullopt;
  return static_cast<int>(*model);
}

void Win32Window::RememberModel(int index) {
  if (index < 0 || index >= kModelCount) return;
  const DWORD model = static_cast<DWORD>(index);
  WriteSetting(settings_key_, kModelValue, REG_DWORD, &model, sizeof model);
}

std::optional<std::string> Win32Window::RememberedFolder() const {
  const std::optional<std::wstring> folder = ReadTextSetting(settings_key_, kLastFolderValue);
  if (!folder || folder->empty()) return std::nullopt;
  const DWORD attributes = GetFileAttributesW(folder->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return std::nullopt;
  return port::Utf8FromWide(*folder);
}

void Win32Window::RememberFolderOf(const std::string& chosen_path) {
  std::wstring folder = port::WideFromUtf8(chosen_path);
  const std::size_t separator = folder.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return;
  // A drive's root keeps its separator ("C:\"); any other folder drops it.
  folder.resize(separator == 2 && folder[1] == L':' ? separator + 1 : separator);
  WriteSetting(settings_key_, kLastFolderValue, REG_SZ, folder.c_str(),
               static_cast<DWORD>((folder.size() + 1) * sizeof(wchar_t)));
}

void Win32Window::RunOnUiThread(const std::function<void()>& request) { requests_.RunOnUiThread(request); }

void Win32Window::ServePendingRequests() {
  requests_.ServePendingRequests();
  // Repaints and posted messages too, so the window stays drawn while it
  // waits; the user's clicks wait, since the commands must not start during
  // teardown. A quit message taken here is put back for the message loop.
  MSG message;
  bool quit = false;
  int quit_status = 0;
  for (int handled = 0; handled < 100; ++handled) {
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE | PM_QS_PAINT | PM_QS_POSTMESSAGE | PM_QS_SENDMESSAGE)) {
      break;
    }
    if (message.message == WM_QUIT) {
      quit = true;
      quit_status = static_cast<int>(message.wParam);
      continue;
    }
    DispatchMessageW(&message);
  }
  if (quit) PostQuitMessage(quit_status);
}

}  // namespace larkspur
