#include "app/win32/wide_text.h"

#include <windows.h>

#include <gtest/gtest.h>

#include "port/errors.h"

namespace larkspur {
namespace {

TEST(WideTextTest, TextIsUtf8AndLineBreaksBecomeCrLf) {
  EXPECT_EQ(WideFromText("打开(&O)"), L"\u6253\u5F00(&O)");
  EXPECT_EQ(WideFromText(""), L"");
  EXPECT_EQ(WideFromText("a\nb\r\nc\n"), L"a\r\nb\r\nc\r\n");
  EXPECT_EQ(Utf8FromWide(L"\u6587\u4EF6\u540D:    "), "文件名:    ");
  // Not UTF-8 (a path in the ANSI code page): read in the ANSI code page,
  // never dropped or turned into replacement characters.
  const std::wstring ansi = WideFromText("caf\xE9");
  EXPECT_EQ(ansi, WideFromAnsiPath("caf\xE9"));
  EXPECT_EQ(ansi.find(L'\uFFFD'), std::wstring::npos);
}

TEST(WideTextTest, APathOutsideTheAnsiCodePageIsRefusedNotMangled) {
  EXPECT_EQ(AnsiPathFromWide(L"C:\\fw\\RM-596.rofs2.V21"), "C:\\fw\\RM-596.rofs2.V21");
  EXPECT_EQ(AnsiPathFromWide(L""), "");
  if (GetACP() == CP_UTF8) GTEST_SKIP() << "the ANSI code page is UTF-8: every name has a spelling";
  // No ANSI code page has the Tibetan letters.
  try {
    AnsiPathFromWide(L"C:\\fw\\\u0F40\u0F41.rofs2.V21");
    ADD_FAILURE() << "a name outside the code page was passed on";
  } catch (const FileOpenError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"C:\\fw\\\xE0\xBD\x80\xE0\xBD\x81.rofs2.V21\". Its name has letters outside this "
              "system's ANSI code page " +
                  std::to_string(GetACP()) +
                  "; rename the file and its folders with letters of that code page, or set the system locale for "
                  "non-Unicode programs to a language that has them");
  }
}

}  // namespace
}  // namespace larkspur
