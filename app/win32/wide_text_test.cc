#include "app/win32/wide_text.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace larkspur {
namespace {

// The ANSI code page's reading of `bytes`, as the system gives it.
std::wstring FromAnsi(std::string_view bytes) {
  std::wstring wide(bytes.size(), L'\0');
  wide.resize(static_cast<std::size_t>(MultiByteToWideChar(CP_ACP, 0, bytes.data(), static_cast<int>(bytes.size()),
                                                           wide.data(), static_cast<int>(wide.size()))));
  return wide;
}

TEST(WideTextTest, TextIsUtf8AndLineBreaksBecomeCrLf) {
  EXPECT_EQ(WideFromText("打开(&O)"), L"\u6253\u5F00(&O)");
  EXPECT_EQ(WideFromText(""), L"");
  EXPECT_EQ(WideFromText("a\nb\r\nc\n"), L"a\r\nb\r\nc\r\n");
  // A path is UTF-8 too, in any script, whatever the ANSI code page.
  EXPECT_EQ(WideFromText("C:\\fw\\\xE0\xBD\x80\xE0\xBD\x81 Привет.rofs2.V21"),
            L"C:\\fw\\\u0F40\u0F41 \u041F\u0440\u0438\u0432\u0435\u0442.rofs2.V21");
  // Not UTF-8 (a reason the C++ runtime gave in the ANSI code page): read
  // in the ANSI code page, never dropped or turned into replacement
  // characters.
  const std::wstring ansi = WideFromText("caf\xE9");
  EXPECT_EQ(ansi, FromAnsi("caf\xE9"));
  EXPECT_EQ(ansi.find(L'\uFFFD'), std::wstring::npos);
}

}  // namespace
}  // namespace larkspur
