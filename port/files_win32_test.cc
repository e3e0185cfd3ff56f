// What the Windows build of the platform layer must do that POSIX has no
// counterpart for: files held open elsewhere, hidden and system attributes,
// backslash paths and long names.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#undef DeleteFile
#undef SetCurrentDirectory

#include <gtest/gtest.h>

#include <algorithm>

#include "port/errors.h"
#include "port/file_view.h"
#include "port/files.h"
#include "testing/scratch_folder.h"

namespace larkspur::port {
namespace {

// Holds a file open for reading, as another program may.
class HeldOpen {
 public:
  HeldOpen(const std::string& path, DWORD share)
      : handle_(CreateFileA(path.c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~HeldOpen() {
    if (handle_ != INVALID_HANDLE_VALUE) CloseHandle(handle_);
  }
  HeldOpen(const HeldOpen&) = delete;
  HeldOpen& operator=(const HeldOpen&) = delete;
  bool ok() const { return handle_ != INVALID_HANDLE_VALUE; }

 private:
  HANDLE handle_;
};

TEST(FilesWin32Test, AFileHeldOpenCannotBeLoadedAndTheMessageGivesTheSystemsReason) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("RM-356.rofs2.V21", "firmware");
  std::string dest = "kept";
  // Also a holder that lets everyone else read and write: the load itself
  // asks for no sharing, so it must not read a file that may be changing.
  for (const DWORD share : {DWORD{0}, DWORD{FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE}}) {
    SCOPED_TRACE(share);
    HeldOpen held(path, share);
    ASSERT_TRUE(held.ok());
    try {
      ReadWholeFile(path, dest, 100);
      ADD_FAILURE() << "no error";
    } catch (const FileOpenError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot open file \"" + path + "\". " + WindowsErrorText(ERROR_SHARING_VIOLATION));
    }
    EXPECT_EQ(dest, "kept");
  }
  ASSERT_TRUE(ReadWholeFile(path, dest, 100));
  EXPECT_EQ(dest, "firmware");
}

// While a view maps the file, no other program can open it to write: the
// bytes under the view cannot change.
TEST(FilesWin32Test, AFileUnderAViewCannotBeOpenedForWriting) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("RM-356.rofs2.V21", "firmware");
  FileView view;
  ASSERT_TRUE(view.Open(path, 100));
  EXPECT_TRUE(view.mapped());
  const HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_EQ(writer, INVALID_HANDLE_VALUE);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
  EXPECT_EQ(view.bytes(), "firmware");
  view.Close();
  const HANDLE after = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(after, INVALID_HANDLE_VALUE);
  if (after != INVALID_HANDLE_VALUE) CloseHandle(after);
}

TEST(FilesWin32Test, ListingGivesHiddenAndSystemAttributesAndLongNames) {
  testing::ScratchFolder folder;
  const std::string long_name = "a rather long file name.with several dots.txt";
  folder.Write(long_name, "");
  folder.Write("hidden.txt", "");
  folder.Write("system.dat", "");
  folder.Write("hidden folder\\inner.txt", "");
  ASSERT_TRUE(SetFileAttributesA(folder.Path("hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN));
  ASSERT_TRUE(SetFileAttributesA(folder.Path("system.dat").c_str(), FILE_ATTRIBUTE_SYSTEM));
  ASSERT_TRUE(SetFileAttributesA(folder.Path("hidden folder").c_str(), FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_HIDDEN));

  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder.path(), entries));
  std::sort(entries.begin(), entries.end(), [](auto& a, auto& b) { return a.name < b.name; });
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].name, long_name);
  EXPECT_FALSE(entries[0].is_hidden || entries[0].is_system || entries[0].is_directory);
  EXPECT_EQ(entries[1].name, "hidden folder");
  EXPECT_TRUE(entries[1].is_directory && entries[1].is_hidden);
  EXPECT_EQ(entries[2].name, "hidden.txt");
  EXPECT_TRUE(entries[2].is_hidden && !entries[2].is_directory);
  EXPECT_EQ(entries[3].name, "system.dat");
  EXPECT_TRUE(entries[3].is_system && !entries[3].is_hidden);
  EXPECT_FALSE(ListDirectory(folder.Path("missing"), entries));
}

TEST(FilesWin32Test, BackslashAndMixedPathsNameTheSameFiles) {
  testing::ScratchFolder folder;
  folder.Write("temp\\rofs2.img", "image");
  const std::string joined = JoinPath(folder.path(), "./temp/rofs2.img");
  EXPECT_EQ(joined, folder.path() + "temp\\rofs2.img");
  EXPECT_TRUE(IsRegularFile(joined));
  EXPECT_TRUE(IsDirectory(folder.path() + "temp\\"));
  EXPECT_EQ(FileSize(folder.path() + "temp/rofs2.img"), 5);
  std::string dest;
  ASSERT_TRUE(ReadWholeFile(folder.path() + "temp/../temp\\rofs2.img", dest, 100));
  EXPECT_EQ(dest, "image");
  EXPECT_EQ(FileNamePart("C:\\fw\\RM-356.rofs2.V21"), "RM-356.rofs2.V21");
  EXPECT_EQ(FileNamePart("C:RM-356.uda.fpsx"), "RM-356.uda.fpsx");
}

TEST(FilesWin32Test, TheCurrentDirectoryIsGivenWithATrailingBackslash) {
  testing::ScratchFolder folder;
  const std::string saved = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectory(folder.path() + "."));
  EXPECT_EQ(CurrentDirectory(), folder.path());
  EXPECT_FALSE(SetCurrentDirectory(folder.Path("missing")));
  EXPECT_EQ(CurrentDirectory(), folder.path());
  ASSERT_TRUE(SetCurrentDirectory(saved));
  char module[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, module, MAX_PATH);
  EXPECT_EQ(ExecutableFolder() + FileNamePart(std::string(module, length)), std::string(module, length));
}

}  // namespace
}  // namespace larkspur::port
