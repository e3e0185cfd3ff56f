// What the Windows build of the platform layer must do that POSIX has no
// counterpart for: files held open elsewhere, hidden and system attributes,
// backslash paths and long names, and UTF-8 paths in any script whatever the
// ANSI code page.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#undef DeleteFile
#undef SetCurrentDirectory

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <system_error>

#include "port/errors.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/folders.h"
#include "port/run_lock.h"
#include "port/wide_paths_win32.h"
#include "testing/scratch_folder.h"

namespace larkspur::port {
namespace {

// Holds a file open for reading, as another program may.
class HeldOpen {
 public:
  HeldOpen(const std::string& path, DWORD share)
      : handle_(CreateFileW(WideFromUtf8(path).c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr)) {}
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

TEST(WidePathsTest, Utf8AndUtf16CrossWholeAndAListedNameComesBackTheSame) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"C:\\fw\\RM-596.rofs2.V21", L"C:\\fw\\RM-596.rofs2.V21"},
      {"", L""},
      {"Gr\xC3\xBC\xC3\x9F" "e \xC3\x9C" "ber.txt", L"Gr\u00FC\u00DFe \u00DCber.txt"},
      {"\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82", L"\u041F\u0440\u0438\u0432\u0435\u0442"},
      {"\xE6\x97\xA5\xE6\x9C\xAC \xE0\xBD\x80", L"\u65E5\u672C \u0F40"},
      {"\xF0\x9F\x98\x80.txt", L"\xD83D\xDE00.txt"},  // a pair
      // Windows names need not be valid UTF-16: a lone surrogate gets the
      // three bytes of its value, and comes back from them.
      {"a\xED\xA0\x80" "b", L"a\xD800" L"b"},
      {"\xED\xBF\xBF", L"\xDFFF"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.utf8);
    EXPECT_EQ(Utf8FromWide(c.wide), c.utf8);
    EXPECT_EQ(WideFromUtf8(c.utf8), c.wide);
  }
  // Bytes that begin no sequence (Latin-1, a cut sequence, an overlong
  // form, a value past U+10FFFF) each become U+FFFD.
  EXPECT_EQ(WideFromUtf8("caf\xE9"), L"caf\uFFFD");
  EXPECT_EQ(WideFromUtf8("a\xE6\x97"), L"a\uFFFD\uFFFD");
  EXPECT_EQ(WideFromUtf8("\xC0\xAF"), L"\uFFFD\uFFFD");
  EXPECT_EQ(WideFromUtf8("\xF4\x90\x80\x80"), L"\uFFFD\uFFFD\uFFFD\uFFFD");
}

// The C++ runtime words its reasons in the ANSI code page (GBK under 936);
// a message also holds UTF-8 paths, so the reason is made UTF-8 too.
TEST(FilesWin32Test, TheRuntimesReasonsBecomeUtf8) {
  const std::string runtime = std::error_code(ERROR_FILE_NOT_FOUND, std::system_category()).message();
  EXPECT_EQ(TrimReason(ReasonAsUtf8(runtime)), WindowsErrorText(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(ReasonAsUtf8("Привет 日本"), "Привет 日本");
  const FileOpenError error("C:\\Папка\\fw.bin", runtime);
  EXPECT_EQ(std::string(error.what()),
            "Cannot open file \"C:\\Папка\\fw.bin\". " + WindowsErrorText(ERROR_FILE_NOT_FOUND));
}

// Every file call takes the program's UTF-8 paths in any script, whatever
// the ANSI code page: 1252 has neither the Cyrillic nor the Chinese letters,
// 936 not the sharp s, and none the Tibetan.
TEST(FilesWin32Test, PathsInAnyScriptWorkWhateverTheCodePage) {
  testing::ScratchFolder scratch;
  const std::string folder = scratch.Path("Папка 文件夹 Grüße") + "\\";
  CreateFolder(folder);
  ASSERT_TRUE(IsDirectory(folder));
  EXPECT_TRUE(FolderHasEntries(scratch.path()));
  const std::string file = folder + "Привет 日本 \xE0\xBD\x80.rofs2.V21";
  WriteFileReplacing(file, {"firm", "ware"});
  EXPECT_TRUE(IsRegularFile(file));
  EXPECT_EQ(FileSize(file), 8);
  EXPECT_TRUE(StampOfFile(file).regular);
  std::string dest;
  ASSERT_TRUE(ReadWholeFile(file, dest, 100));
  EXPECT_EQ(dest, "firmware");
  FileView view;
  ASSERT_TRUE(view.Open(file, 100));
  EXPECT_EQ(view.bytes(), "firmware");
  view.Close();
  WriteNewFile(folder + "ёж.txt", {"new"});
  std::vector<DirEntry> entries;
  ASSERT_TRUE(ListDirectory(folder, entries));
  std::vector<std::string> names;
  for (const DirEntry& entry : entries) names.push_back(entry.name);
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, (std::vector<std::string>{"Привет 日本 \xE0\xBD\x80.rofs2.V21", "ёж.txt"}));
  // The same file through the system's own wide call.
  EXPECT_NE(GetFileAttributesW(WideFromUtf8(file).c_str()), INVALID_FILE_ATTRIBUTES);

  EXPECT_TRUE(MoveFileNoReplace(file, folder + "Ω.bin"));
  EXPECT_TRUE(DeleteFile(folder + "Ω.bin"));
  const std::string saved = CurrentDirectory();
  ASSERT_TRUE(SetCurrentDirectory(folder));
  EXPECT_EQ(CurrentDirectory(), folder);
  ASSERT_TRUE(SetCurrentDirectory(saved));
  {
    const std::unique_ptr<RunLock> lock = RunLock::TryTake(folder);
    EXPECT_NE(lock, nullptr);
  }
  MoveFolder(scratch.Path("Папка 文件夹 Grüße"), scratch.Path("Ordner 目录"));
  EXPECT_TRUE(PathExists(scratch.Path("Ordner 目录") + "\\ёж.txt"));
  RemoveTree(scratch.Path("Ordner 目录"));
  EXPECT_FALSE(PathExists(scratch.Path("Ordner 目录")));
}

}  // namespace
}  // namespace larkspur::port
