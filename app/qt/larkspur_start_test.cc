// The built window program started as a user starts it from a terminal:
// --help and --version answer there without a display, and a start without
// a display ends with one line that points at larkspur-cli, not with a core
// dump.
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <QByteArray>
#include <QtGlobal>
#include <gtest/gtest.h>

#include "app/tform1.h"
#include "testing/captured_run.h"
#include "testing/scratch_folder.h"

namespace larkspur {
namespace {

// Takes the display variables out of this process's environment, which the
// started program inherits, and puts them back after.
class NoDisplayEnvironment {
 public:
  NoDisplayEnvironment() {
    for (const char* name : kNames) {
      saved_.push_back(qEnvironmentVariableIsSet(name) ? std::optional<QByteArray>(qgetenv(name)) : std::nullopt);
      qunsetenv(name);
    }
  }
  ~NoDisplayEnvironment() {
    for (std::size_t i = 0; i < std::size(kNames); ++i) {
      if (saved_[i]) qputenv(kNames[i], *saved_[i]);
    }
  }

 private:
  static constexpr const char* kNames[] = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"};
  std::vector<std::optional<QByteArray>> saved_;
};

const char kNoDisplayAdvice[] = "; larkspur-cli extracts and repacks without one (larkspur-cli --help)\n";

TEST(LarkspurStartTest, AnswersOnTheTerminalWithoutADisplay) {
  const std::filesystem::path program = std::filesystem::path(LARKSPUR_BIN_DIR) / "larkspur";
  testing::ScratchFolder scratch;
  const std::string version_line = std::string("larkspur ") + kVersion + "\n";
  const std::string no_display = std::string("larkspur: no display (DISPLAY and WAYLAND_DISPLAY are not set)") +
                                 kNoDisplayAdvice;
  struct Case {
    std::vector<std::string> arguments;
    std::string environment;  // one NAME=value for the program, or none
    int exit_code;
    std::string out;  // exactly, or with `usage` the first line
    std::string err;  // exactly; after a display that failed, the last line
    bool usage = false;
  };
  const Case cases[] = {
      {{}, "", 1, "", no_display},
      {{"--lang", "en"}, "", 1, "", no_display},
      {{"--version"}, "", 0, version_line, ""},
      {{"--help"}, "", 0, "usage: larkspur [--home DIR] [--lang zh|en]\n", "", true},
      // As the installed launcher starts it: its --home first.
      {{"--home", scratch.path(), "--version"}, "", 0, version_line, ""},
      {{"--home", scratch.Path("not there"), "--help"}, "", 0, "usage: larkspur [--home DIR] [--lang zh|en]\n", "",
       true},
      // A display that names no server: Qt's platform plugin fails to start.
      {{}, "DISPLAY=:97", 1, "", std::string("larkspur: the display could not be opened") + kNoDisplayAdvice},
  };
  NoDisplayEnvironment no_display_environment;
  for (const Case& c : cases) {
    const std::string name = (c.arguments.empty() ? std::string("(none)") : c.arguments.back()) + " " + c.environment;
    const testing::CapturedRun run = testing::RunCapturingOutput(program, c.arguments, scratch.path(), c.environment);
    EXPECT_EQ(run.exit_code, c.exit_code) << name << "\n" << run.err;
    if (c.usage) {
      EXPECT_EQ(run.out.substr(0, run.out.find('\n') + 1), c.out) << name;
      EXPECT_NE(run.out.find("\nExit status: "), std::string::npos) << name;
    } else {
      EXPECT_EQ(run.out, c.out) << name;
    }
    if (c.environment.empty()) {
      EXPECT_EQ(run.err, c.err) << name;
    } else {
      // Qt's own lines before it say why the display failed.
      EXPECT_TRUE(run.err.ends_with("\n" + c.err)) << name << "\n" << run.err;
    }
  }
}

}  // namespace
}  // namespace larkspur
