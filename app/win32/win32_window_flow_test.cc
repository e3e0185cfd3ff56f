// Extract and Repack through the real Win32 window with the real tools in
// exebat (readimage.exe, rofsbuild.exe), started through CreateProcessA.
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "app/win32/win32_window_fixture.h"
#include "format/firmware_check.h"
#include "testing/firmware_fixture.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;

class Win32WindowFlowTest : public Win32WindowFixture {
 protected:
  void SelectModel(int index) {
    SendMessageW(Control(Win32Window::kComboBox1Id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Command(Win32Window::kComboBox1Id, CBN_SELCHANGE);
  }

  void Extract() {
    Command(Win32Window::kExtract1Id);
    EXPECT_FALSE(MenuItemEnabled(Win32Window::kOpen1Id));  // the worker runs; the window answers
    EXPECT_FALSE(IsWindowEnabled(Control(Win32Window::kComboBox1Id)));  // and the model stays as it is
    ServeUntil([&] { return !form_.WorkersBusy(); });
    EXPECT_TRUE(IsWindowEnabled(Control(Win32Window::kComboBox1Id)));
  }

  void Repack() {
    Command(Win32Window::kRepack1Id);
    EXPECT_FALSE(MenuItemEnabled(Win32Window::kOpen1Id));  // Repack too runs on a worker
    ServeUntil([&] { return !form_.WorkersBusy(); });
  }

  // Every file under `folder`, by its path relative to it, with its bytes.
  static std::map<std::string, std::string> Tree(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_regular_file()) continue;
      std::ifstream in(entry.path(), std::ios::binary);
      files[fs::relative(entry.path(), folder).generic_string()] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    return files;
  }
};

TEST_F(Win32WindowFlowTest, RofsRepackThenExtractGoThroughTheRealTools) {
  home_.InstallBuiltTools();
  const std::map<std::string, std::string> tree = {
      {"readme.txt", "read me\r\n"},
      {"sys/bin/app.exe", testing::PatternBytes(70000, 3)},
      {"my documents/a rather long note name.txt", "a note with a long name\r\n"},
      {"resource/apps/empty.rsc", ""},
  };
  for (const int model : {0, kN96ModelIndex}) {
    SCOPED_TRACE("model " + std::to_string(model));
    fs::remove_all(home_.Path("rofs2"));
    for (const auto& [name, bytes] : tree) home_.Write("rofs2/" + name, bytes);
    // A firmware file to repack over: it gives the prefix and the start
    // address; the partition comes from rofsbuild.exe over rofs2.
    const testing::FirmwareSpec spec{.model = model, .prefix = "HEAD", .start_address = 0x01234500};
    const std::string seed = home_.Write("fw/RM-" + std::to_string(model) + ".rofs2.V21",
                                         testing::MakeFirmware(spec, std::string(3072, '\0') + "ROFS0\xFF"));
    home_.MarkExtracted(seed);
    SelectModel(model);
    OpenFile(seed);
    Repack();
    EXPECT_TRUE(MenuEnabled());
    EXPECT_EQ(LogLines().back(), "REB 文件: " + home_.Path("REB-RM-" + std::to_string(model) + ".rofs2.V21"));
    const std::string output_name = "REB-RM-" + std::to_string(model) + ".rofs2.V21";
    const std::string rebuilt = home_.Read("temp/rofs2r.img");
    ASSERT_GT(rebuilt.size(), 0u);
    const std::string output = home_.Read(output_name);
    const FirmwareCheck check = CheckFirmware(output, PartitionKind::kRofs, BlockFormatOf(model, PartitionKind::kRofs));
    EXPECT_TRUE(check.AllRight());

    // Unpacked again by the window: the carved image starts with the image
    // rofsbuild.exe built, and readimage.exe gives the same tree back.
    fs::remove_all(home_.Path("rofs2"));
    fs::create_directories(home_.Path("rofs2"));
    OpenFile(home_.Path(output_name));
    Extract();
    EXPECT_TRUE(messages_.empty());
    EXPECT_TRUE(MenuEnabled());
    EXPECT_EQ(home_.Read("temp/rofs2.img").substr(0, rebuilt.size()), rebuilt);
    EXPECT_EQ(Tree(home_.Path("rofs2")), tree);
    EXPECT_EQ(LogLines().back(), "rofs2 文件夹: " + home_.Path("rofs2"));
  }
}

TEST_F(Win32WindowFlowTest, UdaExtractThenRepackGivesTheInputBackForEveryModel) {
  // A FAT16 image of whole 512-byte sectors, as a real one.
  const std::string image = std::string("\xE9\x00\x90", 3) + testing::PatternBytes(800 * 512 - 3, 7);
  for (int model = 0; model < kModelCount; ++model) {
    SCOPED_TRACE("model " + std::to_string(model));
    const std::string input =
        testing::MakeFirmware({.model = model, .uda = true, .prefix = std::string(0x200, 'H')}, image);
    const std::string name = "RM-" + std::to_string(model) + ".uda.fpsx";
    SelectModel(model);
    OpenFile(home_.Write(name, input));
    Extract();
    EXPECT_TRUE(home_.Read("fat16/fat16.img") == image);
    Repack();
    EXPECT_TRUE(home_.Read("REB-" + name) == input);
    EXPECT_EQ(LogLines().back(), "REB 文件: " + home_.Path("REB-" + name));
    EXPECT_TRUE(MenuEnabled());
    EXPECT_TRUE(messages_.empty());
  }
}

// The worker's "Application Error" box, shown by the real MessageBoxW and
// read and dismissed the way a user would: from the screen.
TEST_F(Win32WindowFlowTest, AWorkerErrorShowsTheApplicationErrorBox) {
  window_.SetMessageBox(nullptr);
  fs::remove(home_.Path("fat16"));
  OpenFile(home_.Write("fw.uda.bin", testing::MakeFirmware({.uda = true}, "abc")));

  std::atomic<bool> stop = false;
  std::string box_title, box_text;
  std::thread user([&] {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!stop && std::chrono::steady_clock::now() < deadline) {
      HWND box = FindWindowW(L"#32770", L"Application Error");
      if (box != nullptr) {
        box_title = WindowText(box);
        // The text is the box's static control with the longest text.
        for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
          const std::string text = WindowText(child);
          if (text.size() > box_text.size() && text != "OK") box_text = text;
        }
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return;
      }
      Sleep(20);
    }
  });
  Command(Win32Window::kExtract1Id);
  ServeUntil([&] { return !form_.WorkersBusy(); });
  stop = true;
  user.join();
  EXPECT_EQ(box_title, "Application Error");
  EXPECT_EQ(box_text.rfind("Exception EFCreateError in module ", 0), 0u) << box_text;
  EXPECT_NE(box_text.find("Cannot create file \"" + home_.Path("fat16\\fat16.img") + "\"."), std::string::npos)
      << box_text;
}

}  // namespace
}  // namespace larkspur
