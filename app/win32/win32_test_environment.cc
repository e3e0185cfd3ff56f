// COM and the common controls for the window tests, set up once for the
// whole program on its main thread, as larkspur.exe's wWinMain does.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <gtest/gtest.h>

namespace {

class Win32Environment : public testing::Environment {
 public:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(OleInitialize(nullptr)));
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    ASSERT_TRUE(InitCommonControlsEx(&controls));
  }
  void TearDown() override { OleUninitialize(); }
};

// gtest takes ownership of the environment.
testing::Environment* const kWin32Environment = testing::AddGlobalTestEnvironment(new Win32Environment);

}  // namespace
