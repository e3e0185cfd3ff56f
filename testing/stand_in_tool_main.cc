// A stand-in for the external tools in tests, one program for POSIX and
// Windows alike, so the tool runner is tested through the system's own way
// of starting a program (posix_spawn, CreateProcessW) on both.
//
// A test copies this program into a folder under a tool's name and writes
// the steps it is to take beside it, in "<name>.steps" (see
// testing/stand_in_tool.h for the steps it knows).
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "port/errors.h"
#include "port/files.h"
#include "port/process.h"
#include "port/progress.h"

namespace {

namespace fs = std::filesystem;

// The files tests hand the stand-in are small; this only bounds a mistake.
constexpr std::uint64_t kMaxFileSize = std::uint64_t{1} << 31;

// A failed step ends the tool, as `set -e` would a script.
[[noreturn]] void Fail(const std::string& step, const std::string& why) {
  std::cerr << "stand-in tool: " << step << ": " << why << '\n';
  std::exit(1);
}

std::string ReadAll(const std::string& path, const std::string& step) {
  std::string bytes;
  try {
    if (!larkspur::port::ReadWholeFile(path, bytes, kMaxFileSize) &&
        !larkspur::port::IsRegularFile(path)) {
      Fail(step, "cannot read " + path);
    }
  } catch (const larkspur::Error&) {
    Fail(step, "cannot read " + path);
  }
  return bytes;
}

// Writes as the external tools do, in place and appending where asked; a
// tool's own output is not the program's, so it does not go through
// port::WriteFileReplacing.
void WriteAll(const std::string& path, const std::string& bytes, std::ios::openmode mode, const std::string& step) {
  std::ofstream out(larkspur::port::FileSystemPath(path), std::ios::binary | mode);
  if (!(out << bytes) || !out.flush()) Fail(step, "cannot write " + path);
}

// "$1".."$9" become the arguments, "$@" all of them separated by blanks.
std::string Expand(const std::string& word, const std::vector<std::string>& arguments) {
  std::string result;
  for (std::size_t i = 0; i < word.size(); ++i) {
    if (word[i] == '$' && i + 1 < word.size() && word[i + 1] == '@') {
      for (std::size_t a = 0; a < arguments.size(); ++a) result += (a ? " " : "") + arguments[a];
      ++i;
    } else if (word[i] == '$' && i + 1 < word.size() && word[i + 1] >= '1' && word[i + 1] <= '9') {
      const std::size_t index = static_cast<std::size_t>(word[i + 1] - '1');
      if (index < arguments.size()) result += arguments[index];
      ++i;
    } else {
      result += word[i];
    }
  }
  return result;
}

// The first blank-separated word of `text`, and what follows it after one
// blank.
std::pair<std::string, std::string> FirstWord(const std::string& text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string::npos) return {text, std::string()};
  return {text.substr(0, blank), text.substr(blank + 1)};
}

void RunStep(const std::string& step, const std::vector<std::string>& arguments) {
  const auto [verb, operands] = FirstWord(step);
  const auto [first_word, rest] = FirstWord(operands);
  const std::string first = Expand(first_word, arguments);
  const std::string second = Expand(FirstWord(rest).first, arguments);
  if (verb == "exit") {
    std::exit(std::atoi(first.c_str()));
  } else if (verb == "signal") {
    // The default action, not a handler a sanitizer may have installed, so
    // the tool dies by the signal in sanitizer builds too.
    std::signal(std::atoi(first.c_str()), SIG_DFL);
    std::raise(std::atoi(first.c_str()));
    Fail(step, "the signal did not end the program");
  } else if (verb == "record") {
    std::string folder = larkspur::port::CurrentDirectory();
    if (folder.size() > 1 && folder.back() == larkspur::port::kPathSeparator) folder.pop_back();
    WriteAll(first, folder + "\n" + Expand("$@", arguments) + "\n", std::ios::app, step);
  } else if (verb == "say") {
    std::cerr << first << (rest.empty() ? "" : " " + rest) << std::endl;
  } else if (verb == "print") {
    std::string text = operands;
    for (std::size_t at = text.find("\\n"); at != std::string::npos; at = text.find("\\n", at + 1)) {
      text.replace(at, 2, "\n");
    }
    std::cout << text << std::flush;
  } else if (verb == "progress") {
    const auto [done, total] = FirstWord(rest);
    std::cout << larkspur::port::FormatProgressLine(
                     {first, std::strtoull(done.c_str(), nullptr, 10), std::strtoull(total.c_str(), nullptr, 10)})
              << std::flush;
  } else if (verb == "environment") {
    const char* value = std::getenv(first.c_str());
    WriteAll(second, value ? value : "(unset)", std::ios::trunc, step);
  } else if (verb == "write") {
    WriteAll(first, rest, std::ios::trunc, step);  // the text as bytes, unexpanded
  } else if (verb == "copy" || verb == "append") {
    const std::string bytes = ReadAll(first, step);
    const fs::path target = larkspur::port::FileSystemPath(second);
    std::error_code ignored;
    if (target.has_parent_path()) fs::create_directories(target.parent_path(), ignored);
    WriteAll(second, bytes, verb == "copy" ? std::ios::trunc : std::ios::app, step);
  } else if (verb == "fill") {
    const std::string bytes = FirstWord(rest).second;
    if (bytes.size() != 1) Fail(step, "fill takes one character");
    WriteAll(first, std::string(static_cast<std::size_t>(std::atol(second.c_str())), bytes[0]), std::ios::trunc,
             step);
  } else if (verb == "hold") {
    // Another program holding a file open, as a user's hex editor might.
    std::ifstream held(larkspur::port::FileSystemPath(first), std::ios::binary);
    if (!held) Fail(step, "cannot open " + first);
    WriteAll(first + ".held", "", std::ios::trunc, step);
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::atof(second.c_str()) * 1000)));
  } else if (verb == "touch") {
    WriteAll(first, "", std::ios::app, step);
  } else if (verb == "sleep") {
    std::this_thread::sleep_for(std::chrono::milliseconds(static_cast<int>(std::atof(first.c_str()) * 1000)));
  } else if (!verb.empty()) {
    Fail(step, "unknown step");
  }
}

}  // namespace

int main(int argc, char** argv) {
  // The name it was started by picks the steps: "readimage.exe" and
  // "readimage" both read "readimage.steps".
  std::string name = larkspur::port::FileNamePart(argc > 0 ? argv[0] : "");
  if (name.size() > 4 && name.ends_with(".exe")) name.resize(name.size() - 4);
  const std::string steps_path = larkspur::port::JoinPath(larkspur::port::ExecutableFolder(), name + ".steps");
  const std::string steps = ReadAll(steps_path, "start");
  const std::vector<std::string> arguments = larkspur::port::ProgramArguments(argc, argv);

  std::string step;
  for (char c : steps + "\n") {
    if (c == ';' || c == '\n') {
      const std::size_t begin = step.find_first_not_of(' ');
      if (begin != std::string::npos) RunStep(step.substr(begin), arguments);
      step.clear();
    } else {
      step += c;
    }
  }
  return 0;
}
