// The Win32 window under wine on a virtual display (scripts/windows-test) or
// on Windows: what only the Win32 window has (its controls' places, styles
// and fonts, wide text, its message loop and teardown, the real message
// box, the shell's drops, the registry), and the window contract
// (app/window_contract_test.cc).
#include "app/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/win32/wide_text.h"
#include "app/win32/win32_window_driver.h"
#include "format/model_profile.h"
#include "port/errors.h"
#include "port/wide_paths_win32.h"
#include "testing/firmware_fixture.h"

namespace larkspur {

INSTANTIATE_TEST_SUITE_P(Win32, WindowContractTest, ::testing::Values(&MakeWin32WindowDriver),
                         [](const auto&) { return std::string("Win32"); });

namespace {

namespace fs = std::filesystem;

class Win32WindowTest : public ::testing::Test {
 protected:
  Win32WindowDriver driver_;
  Win32Window& window_ = driver_.win32_window();
};

// A control's place in the client area: left, top, width, height.
RECT PlaceOf(HWND window, HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return RECT{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

TEST_F(Win32WindowTest, ControlsAtStart) {
  HWND window = window_.handle();
  EXPECT_TRUE(IsWindowVisible(window));

  // The client area lies below the menu bar, which holds its four items in
  // one row; nothing resizes the window.
  RECT client = {};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 498);
  EXPECT_EQ(client.bottom, 337);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);
  RECT one_menu_row = {0, 0, 498, 337};
  AdjustWindowRectEx(&one_menu_row, static_cast<DWORD>(style), TRUE, static_cast<DWORD>(GetWindowLongPtrW(window, GWL_EXSTYLE)));
  RECT frame = {};
  GetWindowRect(window, &frame);
  EXPECT_EQ(frame.bottom - frame.top, one_menu_row.bottom - one_menu_row.top);
  // The shell drops files only on a window that says it takes them.
  EXPECT_NE(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_ACCEPTFILES, 0);

  struct Place {
    int id;
    RECT rect;
  };
  for (const Place& place : {Place{Win32Window::kInfoId, {5, 0, 484, 217}},
                             Place{Win32Window::kComboBox1Id, {192, 224, 289, 21}},
                             Place{Win32Window::kLabel1Id, {8, 256, 321, 57}},
                             Place{Win32Window::kImage1Id, {360, 272, 97, 25}},
                             Place{Win32Window::kStatusBar1Id, {0, 318, 498, 19}}}) {
    HWND control = driver_.Control(place.id);
    ASSERT_NE(control, nullptr) << place.id;
    EXPECT_TRUE(IsWindowVisible(control)) << place.id;
    const RECT rect = PlaceOf(window, control);
    EXPECT_EQ(rect.left, place.rect.left) << place.id;
    EXPECT_EQ(rect.top, place.rect.top) << place.id;
    EXPECT_EQ(rect.right, place.rect.right) << place.id;
    EXPECT_EQ(rect.bottom, place.rect.bottom) << place.id;
  }

  HWND info = driver_.Control(Win32Window::kInfoId);
  const LONG_PTR info_style = GetWindowLongPtrW(info, GWL_STYLE);
  EXPECT_NE(info_style & ES_MULTILINE, 0);
  EXPECT_NE(info_style & ES_READONLY, 0);
  EXPECT_NE(info_style & WS_VSCROLL, 0);

  HWND selector = driver_.Control(Win32Window::kComboBox1Id);
  EXPECT_EQ(SendMessageW(selector, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(GetWindowLongPtrW(selector, GWL_STYLE) & 3, CBS_DROPDOWNLIST);

  HWND label = driver_.Control(Win32Window::kLabel1Id);
  EXPECT_EQ(FontOf(label).lfWeight, FW_BOLD);
  EXPECT_EQ(port::Utf8FromWide(FontOf(label).lfFaceName), "Tahoma");
  EXPECT_EQ(FontOf(label).lfHeight, -12);  // 9 pt at 96 dots per inch
  EXPECT_EQ(FontOf(info).lfHeight, -11);   // 8 pt
  EXPECT_EQ(FontOf(info).lfCharSet, GB2312_CHARSET);

  const auto picture =
      reinterpret_cast<HBITMAP>(SendMessageW(driver_.Control(Win32Window::kImage1Id), STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP bitmap = {};
  ASSERT_EQ(GetObjectW(picture, sizeof bitmap, &bitmap), static_cast<int>(sizeof bitmap));
  EXPECT_EQ(bitmap.bmWidth, 97);
  EXPECT_EQ(bitmap.bmHeight < 0 ? -bitmap.bmHeight : bitmap.bmHeight, 25);

  // The menu items' commands, in order.
  HMENU menu = GetMenu(window);
  const int ids[] = {Win32Window::kOpen1Id, Win32Window::kExtract1Id, Win32Window::kRepack1Id,
                     Win32Window::kProgramFolder1Id};
  ASSERT_EQ(GetMenuItemCount(menu), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(static_cast<int>(GetMenuItemID(menu, i)), ids[i]);

  // Three panels; the second and third centre their text with a leading
  // tab.
  HWND bar = driver_.Control(Win32Window::kStatusBar1Id);
  int edges[4] = {};
  ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_EQ(edges[0], 300);
  EXPECT_EQ(edges[1], 400);
  EXPECT_EQ(edges[2], 460);
  EXPECT_EQ(driver_.RawStatusText(0), "文件名:    ");
  EXPECT_EQ(driver_.RawStatusText(1), "\t类型: ");
  EXPECT_EQ(driver_.RawStatusText(2), std::string("\t") + kStatusThirdPanel);
}

TEST_F(Win32WindowTest, APostedCommandOfAGreyedItemRunsNothing) {
  // A greyed item sends no command, but one posted earlier, or a key's,
  // could still arrive through the message loop.
  driver_.Open(driver_.home.Write("fw.uda.fpsx", testing::MakeFirmware({.uda = true}, "abc")));
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  PostMessageW(window_.handle(), WM_COMMAND, MAKEWPARAM(Win32Window::kExtract1Id, 0), 0);
  PostMessageW(window_.handle(), WM_COMMAND, MAKEWPARAM(Win32Window::kRepack1Id, 0), 0);
  driver_.ServeOnce();
  EXPECT_FALSE(driver_.form().WorkersBusy());
  EXPECT_EQ(driver_.form().LastOutcome(), TForm1::Outcome::kNone);
  EXPECT_EQ(driver_.LogLines().size(), 3u);  // Open's lines only
  EXPECT_TRUE(driver_.messages.empty());
}

TEST_F(Win32WindowTest, OnlyASelectionChangeOfTheSelectorIsAChoice) {
  driver_.ChooseModel(kN96ModelIndex);
  // Other notifications of the selector (it got the focus, it dropped down)
  // are no choice.
  SendMessageW(driver_.Control(Win32Window::kComboBox1Id), CB_SETCURSEL, 2, 0);
  driver_.SendCommand(Win32Window::kComboBox1Id, CBN_DROPDOWN);
  driver_.SendCommand(Win32Window::kComboBox1Id, CBN_SETFOCUS);
  EXPECT_TRUE(driver_.form().Profile() == ProfileForModel(kN96ModelIndex));
}

TEST_F(Win32WindowTest, LogLinesKeepTheirTextAndOrder) {
  // UTF-8 texts, an empty line, and a text in the ANSI code page (not valid
  // UTF-8: a reason from the C++ runtime), which is read in that code page
  // rather than dropped.
  const std::string ansi_path = "C:\\fw\\caf\xE9.rofs2.V21";
  window_.ClearLog();
  window_.AppendLog("正在打开文件...  ");
  window_.AppendLog("");
  window_.AppendLog(ansi_path);
  const std::vector<std::string> lines = driver_.LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "正在打开文件...  ");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], port::Utf8FromWide(WideFromText(ansi_path)));
  EXPECT_EQ(lines[2].find("\xEF\xBF\xBD"), std::string::npos);  // no replacement character
  window_.ClearLog();
  window_.AppendLog("again");
  EXPECT_EQ(driver_.LogLines(), std::vector<std::string>{"again"});

  // A log longer than an edit control's default limit of 32 KB is kept whole.
  window_.ClearLog();
  for (int i = 0; i < 50; ++i) window_.AppendLog(std::string(1000, 'x') + std::to_string(i));
  const std::vector<std::string> many = driver_.LogLines();
  ASSERT_EQ(many.size(), 50u);
  EXPECT_EQ(many.back(), std::string(1000, 'x') + "49");
}

TEST_F(Win32WindowTest, TheTeardownWaitServesRequestsWithoutTheMessageLoop) {
  // After the message loop has ended, FormDestroy's wait is all that serves
  // a worker's requests: the queue, not the posted message, carries them.
  std::atomic<int> served = 0;
  std::atomic<bool> worker_finished = false;
  std::thread worker([&] {
    for (int i = 0; i < 5; ++i) window_.RunOnUiThread([&] { ++served; });
    try {
      window_.RunOnUiThread([] { throw std::runtime_error("late failure"); });
    } catch (const std::runtime_error&) {
      worker_finished = true;
    }
  });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (!worker_finished && std::chrono::steady_clock::now() < deadline) {
    window_.ServePendingRequests();
    Sleep(1);
  }
  worker.join();
  EXPECT_EQ(served.load(), 5);
  EXPECT_TRUE(worker_finished.load());
}

// The worker's "Application Error" box, shown by the real MessageBoxW and
// read and dismissed the way a user would: from the screen.
TEST_F(Win32WindowTest, AWorkerErrorShowsTheRealApplicationErrorBox) {
  window_.SetMessageBox(nullptr);
  fs::remove(driver_.home.Path("fat16"));
  driver_.Open(driver_.home.Write("fw.uda.bin", testing::MakeFirmware({.uda = true}, "abc")));

  std::atomic<bool> stop = false;
  std::string box_title, box_text;
  std::thread user([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
      HWND box = FindWindowW(L"#32770", L"Application Error");
      if (box != nullptr) {
        box_title = Win32WindowDriver::WindowText(box);
        // The text is the box's static control with the longest text.
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
          const std::string text = Win32WindowDriver::WindowText(child);
          if (text.size() > box_text.size() && text != "OK") box_text = text;
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(20);
    }
  });
  driver_.Run(Command::kExtract);
  stop = true;
  user.join();
  EXPECT_EQ(box_title, "Application Error");
  EXPECT_EQ(box_text.rfind("Exception EFCreateError in module ", 0), 0u) << box_text;
  EXPECT_NE(box_text.find("Cannot create file \"" + driver_.home.Path("fat16\\fat16.img") + "\"."), std::string::npos)
      << box_text;
}

// The shell gives dropped names in UTF-16, and the program takes them
// whole as UTF-8, whatever the ANSI code page: a firmware file in a folder
// named in any script opens (no code page has the Tibetan letters, and
// 1252 has neither the Cyrillic nor the Chinese ones).
TEST_F(Win32WindowTest, ADroppedNameInAnyScriptOpensWhole) {
  const std::string folder = driver_.home.Path("\u041F\u0440\u043E\u0448\u0438\u0432\u043A\u0430 \u56FA\u4EF6");
  const std::string name = driver_.home.Write(
      "\u041F\u0440\u043E\u0448\u0438\u0432\u043A\u0430 \u56FA\u4EF6\\\u0F40\u0F41 Gr\u00FC\u00DFe.uda.fpsx",
      testing::MakeFirmware({.uda = true}, "abc"));
  driver_.DropWideFile(port::WideFromUtf8(name));
  EXPECT_TRUE(driver_.messages.empty()) << driver_.messages[0].text;
  EXPECT_EQ(driver_.form().SourcePath, name);
  const std::vector<std::string> log = driver_.LogLines();
  EXPECT_TRUE(std::any_of(log.begin(), log.end(), [&](const std::string& line) { return line.find(name) != std::string::npos; }));
  // Chosen in the dialog, the folder is remembered (in the registry, as
  // UTF-16) and the dialog starts there next time.
  driver_.Open(name);
  driver_.Open(std::nullopt);
  EXPECT_EQ(driver_.open_requests.back().initial_folder, folder);
}

std::optional<DWORD> RegistryDword(const std::wstring& key, const wchar_t* name) {
  DWORD value = 0, size = sizeof value, type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, &type, &value, &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    return std::nullopt;
  }
  return value;
}

std::optional<std::wstring> RegistryText(const std::wstring& key, const wchar_t* name) {
  wchar_t text[1024] = {};
  DWORD size = sizeof text, type = 0;
  if (RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, &type, text, &size) != ERROR_SUCCESS ||
      type != REG_SZ) {
    return std::nullopt;
  }
  return std::wstring(text);
}

// What the window remembers is where users and installers look for it:
// REG_DWORD Model and REG_SZ LastFolder (UTF-16) under the window's key. A
// value of another type or range is no choice.
TEST_F(Win32WindowTest, WhatTheWindowRemembersIsKeptInTheRegistry) {
  EXPECT_EQ(std::wstring(Win32Window::kSettingsKey), L"Software\\Larkspur\\Larkspur");
  const std::wstring& key = driver_.settings_key();
  driver_.ChooseModel(kN96ModelIndex);
  driver_.Open(driver_.home.Write("fw/a.uda.fpsx", std::string(64, '\x5A')));
  EXPECT_EQ(RegistryDword(key, L"Model"), DWORD{kN96ModelIndex});
  EXPECT_EQ(RegistryText(key, L"LastFolder"), port::WideFromUtf8(driver_.home.Path("fw")));

  // A drive's root keeps its separator, and the dialog starts there.
  driver_.Open("C:\\no such firmware.uda.fpsx");
  EXPECT_EQ(RegistryText(key, L"LastFolder"), L"C:\\");
  driver_.messages.clear();
  driver_.Open(std::nullopt);
  EXPECT_EQ(driver_.open_requests.back().initial_folder, "C:\\");

  const DWORD out_of_range = kModelCount;
  const wchar_t text_model[] = L"1";
  struct Stored {
    DWORD type;
    const void* data;
    DWORD size;
  };
  for (const Stored& stored : {Stored{REG_DWORD, &out_of_range, sizeof out_of_range},
                               Stored{REG_SZ, text_model, sizeof text_model}}) {
    SCOPED_TRACE(stored.type);
    ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"Model", stored.type, stored.data, stored.size),
              ERROR_SUCCESS);
    driver_.Restart();
    EXPECT_EQ(driver_.window().SelectorIndex(), -1);
    EXPECT_EQ(driver_.form().ProfileIndex(), 0);
  }
}

}  // namespace
}  // namespace larkspur
