// larkspur.exe: the window program on Windows. Only wiring lives here: the
// command line, COM and the common controls, the window, TForm1 over it,
// and the message loop.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>
#include <shellapi.h>

#include <exception>
#include <string>
#include <string_view>
#include <vector>

#include "app/texts.h"
#include "app/tform1.h"
#include "app/win32/wide_text.h"
#include "app/win32/win32_window.h"
#include "app/win32/window_options.h"
#include "larkspur_version.h"

// The version is set once, in the build; the window's texts must agree.

namespace {

constexpr int kExitUsage = 2;

void ShowError(const std::string& text, UINT icon) {
  MessageBoxW(nullptr, larkspur::WideFromText(text).c_str(), larkspur::WideFromText(larkspur::kApplicationTitle).c_str(),
              MB_OK | icon);
}

std::vector<std::wstring> Arguments() {
  int count = 0;
  wchar_t** words = CommandLineToArgvW(GetCommandLineW(), &count);
  std::vector<std::wstring> arguments;
  for (int i = 1; words != nullptr && i < count; ++i) arguments.emplace_back(words[i]);
  if (words) LocalFree(words);
  return arguments;
}

int Run(HINSTANCE instance, int show_command) {
  larkspur::WindowOptions options;
  try {
    options = larkspur::ParseWindowOptions(Arguments());
  } catch (const larkspur::WindowUsageError& error) {
    ShowError(std::string("larkspur: ") + error.what() + "\n\n" + larkspur::kWindowUsage, MB_ICONERROR);
    return kExitUsage;
  }
  // A program of the GUI subsystem has no terminal to print to: a box.
  if (options.help) {
    ShowError(larkspur::kWindowUsage, MB_ICONINFORMATION);
    return 0;
  }
  if (options.version) {
    ShowError(std::string("larkspur ") + LARKSPUR_VERSION, MB_ICONINFORMATION);
    return 0;
  }
  larkspur::SetLanguage(options.lang.empty() ? larkspur::SystemLanguage() : *larkspur::ParseLanguageOption(options.lang));
  larkspur::Win32Window window(instance);
  // Declared after the window, so it is gone before the window is.
  larkspur::TForm1 form(window, options.home);
  form.ProgramFolderGiven = options.home_given;
  window.StartForm(form);
  window.CenterAndShow(show_command);
  const int status = window.RunMessageLoop();
  // Closing the window does not stop a running Extract or Repack: this
  // waits for it, serving its log lines meanwhile.
  form.FormDestroy();
  return status;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int show_command) {
  // The open dialog and the picture decoder need COM on this thread.
  if (FAILED(OleInitialize(nullptr))) {
    ShowError("larkspur: COM could not be initialised", MB_ICONERROR);
    return 1;
  }
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  int status = 1;
  try {
    status = Run(instance, show_command);
  } catch (const std::exception& error) {
    // Only start-up or teardown can get here; commands report their own
    // errors in the error box.
    ShowError(error.what(), MB_ICONERROR);
  }
  OleUninitialize();
  return status;
}
