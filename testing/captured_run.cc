#include "testing/captured_run.h"

#include <cstdint>
#include <cstdlib>

#include "port/files.h"
#include "testing/scratch_folder.h"
#include "testing/test_files.h"

#ifdef _WIN32
#include "port/wide_paths_win32.h"
#endif

namespace larkspur::testing {

CapturedRun RunCapturingOutput(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                               const std::filesystem::path& folder, const std::string& environment) {
  ScratchFolder capture;
  const auto quote = [](const std::string& word) { return "\"" + word + "\""; };
  std::string command;
#ifdef _WIN32
  command = "cd /d " + quote(port::PathText(folder)) + " && ";
  if (!environment.empty()) command += "set " + quote(environment) + " && ";
#else
  command = "cd " + quote(port::PathText(folder)) + " && ";
  if (!environment.empty()) command += "env " + quote(environment) + " ";
#endif
  command += quote(port::PathText(program));
  for (const std::string& argument : arguments) command += " " + quote(argument);
  command += " > " + quote(capture.Path("out")) + " 2> " + quote(capture.Path("err"));
#ifdef _WIN32
  // cmd.exe drops the outer quotes of a line that starts with one. The
  // wide call, so arguments in any script reach the program whole.
  command = "\"" + command + "\"";
  const int status = _wsystem(port::WideFromUtf8(command).c_str());
#else
  const int status = std::system(command.c_str());
#endif
  CapturedRun run;
#ifdef _WIN32
  run.exit_code = status;
#else
  // The shell's wait status: the exit code sits in the second byte when the
  // program ended normally.
  run.exit_code = (status & 0x7F) == 0 ? (status >> 8) & 0xFF : -1;
#endif
  const auto out = ReadBytes(capture.root() / "out");
  const auto err = ReadBytes(capture.root() / "err");
  // Windows programs end lines with CR LF in text mode; compare lines alike.
  const auto lines = [](const std::vector<std::uint8_t>& bytes) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
      text += static_cast<char>(bytes[i]);
    }
    return text;
  };
  run.out = lines(out);
  run.err = lines(err);
  return run;
}

}  // namespace larkspur::testing
