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

// `pattern` is the whole text, or with "..." at its end its start, or with
// "..." at its start its end.
bool Matches(const std::string& text, const std::string& pattern) {
  if (pattern.ends_with("...")) return text.starts_with(pattern.substr(0, pattern.size() - 3));
  if (pattern.starts_with("...")) return text.ends_with(pattern.substr(3));
  return text == pattern;
}

TEST(LarkspurStartTest, AnswersOnTheTerminalWithoutADisplay) {
  const std::filesystem::path program = std::filesystem::path(LARKSPUR_BIN_DIR) / "larkspur";
  testing::ScratchFolder scratch;
  const std::string version = std::string("larkspur ") + kVersion + "\n";
  const std::string usage = "usage: larkspur [--home DIR] [--lang zh|en]\n...";
  const std::string advice = "; larkspur-cli extracts and repacks without one (larkspur-cli --help)\n";
  const std::string no_display = "larkspur: no display (DISPLAY and WAYLAND_DISPLAY are not set)" + advice;
  const struct {
    std::vector<std::string> arguments;
    std::string environment;  // one NAME=value for the program, or none
    int exit_code;
    std::string out, err;  // as Matches takes them
  } cases[] = {
      {{}, "", 1, "", no_display},
      {{"--lang", "en"}, "", 1, "", no_display},
      {{"--version"}, "", 0, version, ""},
      {{"--help"}, "", 0, usage, ""},
      // As the installed launcher starts it: its --home first.
      {{"--home", scratch.path(), "--version"}, "", 0, version, ""},
      {{"--home", scratch.Path("not there"), "--help"}, "", 0, usage, ""},
      {{"--bogus"}, "", 2, "", "larkspur: unknown argument --bogus\n\n" + usage},
      // A display that names no server: Qt's platform plugin fails to start,
      // after Qt's own lines that say why.
      {{}, "DISPLAY=:97", 1, "", "...\nlarkspur: the display could not be opened" + advice},
  };
  NoDisplayEnvironment no_display_environment;
  for (const auto& c : cases) {
    const std::string name = (c.arguments.empty() ? std::string("(none)") : c.arguments.back()) + " " + c.environment;
    const testing::CapturedRun run = testing::RunCapturingOutput(program, c.arguments, scratch.path(), c.environment);
    EXPECT_EQ(run.exit_code, c.exit_code) << name << "\n" << run.err;
    EXPECT_TRUE(Matches(run.out, c.out)) << name << "\n" << run.out;
    EXPECT_TRUE(Matches(run.err, c.err)) << name << "\n" << run.err;
  }
  // The usage says how the program ends.
  const testing::CapturedRun help = testing::RunCapturingOutput(program, {"--help"}, scratch.path());
  EXPECT_NE(help.out.find("\nExit status: "), std::string::npos) << help.out;
}

}  // namespace
}  // namespace larkspur
