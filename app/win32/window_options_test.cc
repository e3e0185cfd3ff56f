#include "app/win32/window_options.h"

#include <filesystem>

#include <gtest/gtest.h>

#include "port/files.h"
#include "port/wide_paths_win32.h"
#include "testing/scratch_folder.h"

namespace larkspur {
namespace {

TEST(WindowOptionsTest, TheProgramFolderIsTheExecutablesOrHome) {
  testing::ScratchFolder scratch;
  std::filesystem::create_directories(scratch.Path("home"));
  const std::wstring home = std::filesystem::path(scratch.Path("home")).wstring();
  const std::string expected = scratch.Path("home") + "\\";

  EXPECT_EQ(ParseWindowOptions({}).home, port::ExecutableFolder());
  EXPECT_FALSE(ParseWindowOptions({}).version);
  EXPECT_EQ(ParseWindowOptions({L"--home", home}).home, expected);
  EXPECT_EQ(ParseWindowOptions({L"--home=" + home}).home, expected);
  EXPECT_EQ(ParseWindowOptions({L"--home", home + L"\\"}).home, expected);
  // A folder named in any script, as UTF-8, whatever the ANSI code page.
  const std::wstring named = L"\u041F\u0440\u043E\u0433\u0440\u0430\u043C\u043C\u0430 \u7A0B\u5E8F";
  std::filesystem::create_directories(scratch.root() / named);
  EXPECT_EQ(ParseWindowOptions({L"--home", (scratch.root() / named).wstring()}).home,
            scratch.Path("Программа 程序") + "\\");
  EXPECT_TRUE(ParseWindowOptions({L"--version"}).version);
  // --help and --version answer whatever else stands beside them, as the
  // installed launcher's --home, or a folder that is not there.
  const std::vector<std::wstring> with_help_or_version[] = {
      {L"--help"}, {L"-h"}, {L"--home", home, L"--version"}, {L"--bogus", L"--help"}, {L"--home", home + L"\\missing", L"--help"},
  };
  for (const auto& arguments : with_help_or_version) {
    const WindowOptions options = ParseWindowOptions(arguments);
    EXPECT_TRUE(options.help || options.version) << port::Utf8FromWide(arguments.back());
    EXPECT_EQ(options.home, "");
  }

  // A relative folder is taken from the current directory.
  const std::string before = port::CurrentDirectory();
  ASSERT_TRUE(port::SetCurrentDirectory(scratch.path()));
  const std::string relative = ParseWindowOptions({L"--home", L"home"}).home;
  port::SetCurrentDirectory(before);
  EXPECT_EQ(relative, expected);
}

TEST(WindowOptionsTest, BadCommandLinesAreRefusedWithTheReason) {
  testing::ScratchFolder scratch;
  const std::wstring missing = std::filesystem::path(scratch.Path("missing")).wstring();
  struct Case {
    std::vector<std::wstring> arguments;
    std::string message;
    bool usage;
  };
  const Case cases[] = {
      {{L"--home"}, "--home needs a folder", true},
      {{L"--home="}, "--home needs a folder", true},
      {{L"--bogus"}, "unknown argument --bogus", true},
      {{L"fw.rofs2.V21"}, "unknown argument fw.rofs2.V21", true},
      {{L"--home", missing},
       "The program folder \"" + scratch.Path("missing") + "\" given with --home is not a folder", false},
  };
  for (const Case& c : cases) {
    try {
      ParseWindowOptions(c.arguments);
      ADD_FAILURE() << c.message << ": accepted";
    } catch (const WindowUsageError& error) {
      EXPECT_TRUE(c.usage) << c.message;
      EXPECT_EQ(std::string(error.what()), c.message);
    } catch (const Error& error) {
      EXPECT_FALSE(c.usage) << c.message;
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace larkspur
