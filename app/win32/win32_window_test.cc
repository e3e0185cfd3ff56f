// The Win32 window's controls, texts and requests, under wine on a virtual
// display (scripts/windows-test) or on Windows.
#include "app/win32/win32_window.h"

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/win32/win32_window_fixture.h"
#include "format/model_profile.h"

namespace larkspur {
namespace {

using Win32WindowTest = Win32WindowFixture;

// A control's place in the client area: left, top, width, height.
RECT PlaceOf(HWND window, HWND control) {
  RECT rect = {};
  GetWindowRect(control, &rect);
  MapWindowPoints(nullptr, window, reinterpret_cast<POINT*>(&rect), 2);
  return RECT{rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top};
}

std::string ComboText(HWND combo, int index) {
  std::wstring text(static_cast<std::size_t>(SendMessageW(combo, CB_GETLBTEXTLEN, index, 0)) + 1, L'\0');
  text.resize(static_cast<std::size_t>(
      SendMessageW(combo, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()))));
  return Utf8FromWide(text);
}

LOGFONTW FontOf(HWND control) {
  LOGFONTW font = {};
  GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof font, &font);
  return font;
}

TEST_F(Win32WindowTest, ControlsAtStart) {
  HWND window = window_.handle();
  EXPECT_EQ(WindowText(window).rfind("Larkspur Beta 0.7", 0), 0u) << WindowText(window);
  EXPECT_TRUE(IsWindowVisible(window));

  // The client area lies below the menu bar; nothing resizes the window.
  RECT client = {};
  GetClientRect(window, &client);
  EXPECT_EQ(client.right, 498);
  EXPECT_EQ(client.bottom, 337);
  const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
  EXPECT_EQ(style & WS_THICKFRAME, 0);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0);

  struct Place {
    int id;
    RECT rect;
  };
  for (const Place& place : {Place{Win32Window::kInfoId, {5, 0, 484, 217}},
                             Place{Win32Window::kComboBox1Id, {192, 224, 289, 21}},
                             Place{Win32Window::kLabel1Id, {8, 256, 321, 57}},
                             Place{Win32Window::kImage1Id, {360, 272, 97, 25}},
                             Place{Win32Window::kStatusBar1Id, {0, 318, 498, 19}}}) {
    HWND control = Control(place.id);
    ASSERT_NE(control, nullptr) << place.id;
    EXPECT_TRUE(IsWindowVisible(control)) << place.id;
    const RECT rect = PlaceOf(window, control);
    EXPECT_EQ(rect.left, place.rect.left) << place.id;
    EXPECT_EQ(rect.top, place.rect.top) << place.id;
    EXPECT_EQ(rect.right, place.rect.right) << place.id;
    EXPECT_EQ(rect.bottom, place.rect.bottom) << place.id;
  }

  HWND info = Control(Win32Window::kInfoId);
  const LONG_PTR info_style = GetWindowLongPtrW(info, GWL_STYLE);
  EXPECT_NE(info_style & ES_MULTILINE, 0);
  EXPECT_NE(info_style & ES_READONLY, 0);
  EXPECT_NE(info_style & WS_VSCROLL, 0);
  // The one line at start says where the program folder is.
  EXPECT_EQ(WindowText(info), "本程序文件夹: " + program_folder() + " (REB- 文件和工作文件夹都在这里)");

  HWND selector = Control(Win32Window::kComboBox1Id);
  ASSERT_EQ(SendMessageW(selector, CB_GETCOUNT, 0, 0), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(ComboText(selector, i), ModelItemText(i));
  EXPECT_EQ(SendMessageW(selector, CB_GETCURSEL, 0, 0), CB_ERR);
  EXPECT_EQ(window_.SelectorIndex(), -1);
  EXPECT_EQ(GetWindowLongPtrW(selector, GWL_STYLE) & 3, CBS_DROPDOWNLIST);

  HWND label = Control(Win32Window::kLabel1Id);
  EXPECT_EQ(WindowText(label), kDonationText);
  EXPECT_EQ(FontOf(label).lfWeight, FW_BOLD);
  EXPECT_EQ(Utf8FromWide(FontOf(label).lfFaceName), "Tahoma");
  EXPECT_EQ(FontOf(label).lfHeight, -12);  // 9 pt at 96 dots per inch
  EXPECT_EQ(FontOf(info).lfHeight, -11);   // 8 pt
  EXPECT_EQ(FontOf(info).lfCharSet, GB2312_CHARSET);

  const auto picture = reinterpret_cast<HBITMAP>(SendMessageW(Control(Win32Window::kImage1Id), STM_GETIMAGE, IMAGE_BITMAP, 0));
  BITMAP bitmap = {};
  ASSERT_EQ(GetObjectW(picture, sizeof bitmap, &bitmap), static_cast<int>(sizeof bitmap));
  EXPECT_EQ(bitmap.bmWidth, 97);
  EXPECT_EQ(bitmap.bmHeight < 0 ? -bitmap.bmHeight : bitmap.bmHeight, 25);

  // Three top-level commands, no submenus, in this order; Open alone enabled.
  HMENU menu = GetMenu(window);
  ASSERT_EQ(GetMenuItemCount(menu), 3);
  const int ids[] = {Win32Window::kOpen1Id, Win32Window::kExtract1Id, Win32Window::kRepack1Id};
  const char* const captions[] = {"打开(&O)", "解包(&E)", "打包(&R)"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(static_cast<int>(GetMenuItemID(menu, i)), ids[i]);
    EXPECT_EQ(GetSubMenu(menu, i), nullptr);
    wchar_t caption[64] = {};
    GetMenuStringW(menu, static_cast<UINT>(i), caption, 64, MF_BYPOSITION);
    EXPECT_EQ(Utf8FromWide(caption), captions[i]);
  }
  EXPECT_TRUE(MenuItemEnabled(Win32Window::kOpen1Id));
  EXPECT_FALSE(MenuItemEnabled(Win32Window::kExtract1Id));
  EXPECT_FALSE(MenuItemEnabled(Win32Window::kRepack1Id));

  HWND bar = Control(Win32Window::kStatusBar1Id);
  int edges[4] = {};
  ASSERT_EQ(SendMessageW(bar, SB_GETPARTS, 4, reinterpret_cast<LPARAM>(edges)), 3);
  EXPECT_EQ(edges[0], 300);
  EXPECT_EQ(edges[1], 400);
  EXPECT_EQ(edges[2], 460);
  EXPECT_EQ(StatusText(0), "文件名:    ");
  EXPECT_EQ(StatusText(1), "\t类型: ");
  EXPECT_EQ(StatusText(2), std::string("\t") + kStatusThirdPanel);
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Win32WindowTest, OpenFillsLogAndStatusAndEnablesCommands) {
  struct Case {
    const char* file_name;
    const char* kind;
  };
  for (const Case& c : {Case{"firmware.rofs2.bin", "ROFS"}, Case{"phone.uda.img", "UDA"}}) {
    const std::string path = home_.Write(c.file_name, std::string(64, '\x5A'));
    // The kind comes from the whole path; a temporary folder name may hold
    // the letters too.
    const std::string kind =
        path.find("uda") != std::string::npos || path.find("UDA") != std::string::npos ? "UDA" : c.kind;

    OpenFile(path);

    ASSERT_FALSE(open_requests_.empty());
    EXPECT_EQ(open_requests_.back().filter, kOpenFilter);
    EXPECT_EQ(open_requests_.back().filter_index, 1);
    EXPECT_EQ(open_requests_.back().initial_folder, kOpenDialogFolder);
    EXPECT_EQ(LogLines(), (std::vector<std::string>{"正在打开文件...  ", "文件: " + path, ""}));
    EXPECT_EQ(StatusText(0), std::string("文件名:    ") + c.file_name);
    EXPECT_EQ(StatusText(1), "\t类型: " + kind);
    EXPECT_TRUE(MenuEnabled());
  }

  // Cancelling clears the log and keeps the rest.
  OpenFile(std::nullopt);
  EXPECT_EQ(LogLines(), std::vector<std::string>{""});
  EXPECT_TRUE(MenuItemEnabled(Win32Window::kExtract1Id));
  EXPECT_EQ(StatusText(0), "文件名:    phone.uda.img");
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Win32WindowTest, AGreyedMenuItemRunsNoCommand) {
  // At start Extract and Repack are greyed; a command that still arrives
  // (posted, or by a key) must not start a worker on nothing.
  PostMessageW(window_.handle(), WM_COMMAND, MAKEWPARAM(Win32Window::kExtract1Id, 0), 0);
  Command(Win32Window::kRepack1Id);
  ServeUntil([] { return true; });
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
  EXPECT_FALSE(form_.WorkersBusy());
  EXPECT_EQ(LogLines(), std::vector<std::string>{""});
  EXPECT_TRUE(messages_.empty());
}

TEST_F(Win32WindowTest, ErrorOfACommandGoesToTheErrorBox) {
  window_.SetOpenDialog([](const OpenDialogRequest&) -> std::optional<std::string> {
    throw std::runtime_error("Dialog broke");
  });
  Command(Win32Window::kOpen1Id);
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, kApplicationTitle);
  EXPECT_EQ(messages_[0].text, "Dialog broke.");
  EXPECT_EQ(messages_[0].icon, MessageIcon::kError);
}

TEST_F(Win32WindowTest, SelectorChoiceAndPictureReachTheForm) {
  // A user's choice: the index changes, then the selector reports it.
  SendMessageW(Control(Win32Window::kComboBox1Id), CB_SETCURSEL, kN96ModelIndex, 0);
  Command(Win32Window::kComboBox1Id, CBN_SELCHANGE);
  EXPECT_EQ(window_.SelectorIndex(), kN96ModelIndex);
  EXPECT_TRUE(form_.Profile() == ProfileForModel(kN96ModelIndex));
  OpenFile(std::nullopt);
  ASSERT_EQ(open_requests_.size(), 1u);
  EXPECT_EQ(open_requests_[0].filter_index, ProfileForModel(kN96ModelIndex).OpenDialogFilterIndex);

  // Other notifications of the selector (it got the focus, it dropped down)
  // are no choice.
  SendMessageW(Control(Win32Window::kComboBox1Id), CB_SETCURSEL, 2, 0);
  Command(Win32Window::kComboBox1Id, CBN_DROPDOWN);
  EXPECT_TRUE(form_.Profile() == ProfileForModel(kN96ModelIndex));

  Command(Win32Window::kImage1Id, STN_CLICKED);
  ASSERT_EQ(opened_urls_.size(), 1u);
  EXPECT_EQ(opened_urls_[0], form_.DonationUrl);
  EXPECT_FALSE(opened_urls_[0].empty());
}

TEST_F(Win32WindowTest, LogLinesKeepTheirTextAndOrder) {
  // UTF-8 texts, an empty line, and a path in the ANSI code page (not valid
  // UTF-8), which is read in that code page rather than dropped.
  const std::string ansi_path = "C:\\fw\\caf\xE9.rofs2.V21";
  window_.AppendLog("正在打开文件...  ");
  window_.AppendLog("");
  window_.AppendLog(ansi_path);
  const std::vector<std::string> lines = LogLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "正在打开文件...  ");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], Utf8FromWide(WideFromAnsiPath(ansi_path)));
  EXPECT_EQ(lines[2].find("\xEF\xBF\xBD"), std::string::npos);  // no replacement character
  window_.ClearLog();
  window_.AppendLog("again");
  EXPECT_EQ(LogLines(), std::vector<std::string>{"again"});

  // A log longer than an edit control's default limit of 32 KB is kept whole.
  window_.ClearLog();
  for (int i = 0; i < 50; ++i) window_.AppendLog(std::string(1000, 'x') + std::to_string(i));
  const std::vector<std::string> many = LogLines();
  ASSERT_EQ(many.size(), 50u);
  EXPECT_EQ(many.back(), std::string(1000, 'x') + "49");
}

TEST_F(Win32WindowTest, RunOnUiThreadCarriesOutRequestsInOrderWhileTheWorkerWaits) {
  const DWORD ui_thread = GetCurrentThreadId();
  std::vector<int> done;  // touched only on the user-interface thread
  std::vector<std::string> worker_saw;
  std::atomic<bool> worker_finished = false;

  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) {
      window_.RunOnUiThread([&, i] {
        if (GetCurrentThreadId() != ui_thread) throw std::logic_error("request ran off the UI thread");
        done.push_back(i);
      });
      // The call returned, so the request has run already.
      if (done.size() != static_cast<std::size_t>(i + 1)) worker_saw.push_back("returned early at " + std::to_string(i));
    }
    try {
      window_.RunOnUiThread([] { throw std::runtime_error("request failed"); });
      worker_saw.push_back("no exception");
    } catch (const std::runtime_error& error) {
      worker_saw.push_back(error.what());
    }
    worker_finished = true;
  });
  // Served by the posted messages, as the message loop does.
  ServeUntil([&] { return worker_finished.load(); });
  worker.join();

  std::vector<int> expected(50);
  for (int i = 0; i < 50; ++i) expected[i] = i;
  EXPECT_EQ(done, expected);
  EXPECT_EQ(worker_saw, std::vector<std::string>{"request failed"});

  // On the user-interface thread itself the request runs at once.
  bool ran = false;
  window_.RunOnUiThread([&] { ran = true; });
  EXPECT_TRUE(ran);
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

}  // namespace
}  // namespace larkspur
