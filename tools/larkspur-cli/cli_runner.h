// Test helper: runs the built larkspur-cli through the shell, with its
// standard output and error caught in files of a scratch folder.
#ifndef LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_RUNNER_H_
#define LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_RUNNER_H_

#include <cstdlib>
#include <string>

#include "port/files.h"
#include "testing/scratch_folder.h"

#ifdef _WIN32
#include "port/wide_paths_win32.h"
#else
#include <sys/wait.h>
#endif

namespace larkspur::testing {

struct CliRun {
  int status;
  std::string out, err;
};

// One argument for the shell that std::system starts: sh on POSIX, cmd on
// Windows, where a backslash before the closing quote would escape it.
inline std::string Q(const std::string& argument) {
#ifdef _WIN32
  return "\"" + argument + (argument.ends_with('\\') ? "\\\"" : "\"");
#else
  return "'" + argument + "'";
#endif
}

// Runs larkspur-cli with `arguments` (quoted by the caller; UTF-8 on Windows
// too, in any script); its output goes to files in `outputs`.
// The runs are in Chinese, the texts as written, whatever language this
// system speaks, unless `arguments` choose one.
inline CliRun RunCli(const ScratchFolder& outputs, const std::string& given_arguments) {
  const std::string arguments =
      given_arguments.find("--lang") == std::string::npos ? "--lang zh " + given_arguments : given_arguments;
  const std::string out = outputs.Path("cli.out"), err = outputs.Path("cli.err");
#ifdef _WIN32
  // cmd /c drops the first and the last quote of the line; the extra pair
  // keeps the quotes of the program's path.
  const std::string command = "\"" + Q(port::JoinPath(LARKSPUR_BIN_DIR, "larkspur-cli.exe")) + " " + arguments +
                              " >" + Q(out) + " 2>" + Q(err) + "\"";
  const int status = _wsystem(port::WideFromUtf8(command).c_str());
#else
  const std::string command = std::string(LARKSPUR_BIN_DIR) + "/larkspur-cli " + arguments + " >" + Q(out) + " 2>" + Q(err);
  const int status = WEXITSTATUS(std::system(command.c_str()));
#endif
  CliRun run{status, outputs.Read("cli.out"), outputs.Read("cli.err")};
#ifdef _WIN32
  // Text-mode output ends lines with CR LF on Windows; compare lines alike.
  for (std::string* text : {&run.out, &run.err}) {
    for (std::size_t at; (at = text->find("\r\n")) != std::string::npos;) text->erase(at, 1);
  }
#endif
  return run;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TOOLS_LARKSPUR_CLI_CLI_RUNNER_H_
