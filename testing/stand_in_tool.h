// Test helper: puts the stand-in tool (stand_in_tool_main.cc, built
// beside the test programs as larkspur_stand_in_tool) into a folder under a tool's name, with the steps it takes
// when it is started. Works the same on POSIX and Windows.
//
// Steps are separated by ';' or line ends; in file names, "$1".."$9" stand
// for the tool's arguments and "$@" for all of them:
//   exit N                end with exit status N
//   signal N              raise signal N (POSIX: ends the tool by it)
//   record FILE           append the current directory and "$@" to FILE, a
//                         line each
//   write FILE TEXT       FILE holds TEXT, the rest of the step, as bytes
//   copy FROM TO          copy a file; TO's folder is made first
//   append FROM TO        add FROM's bytes to the end of TO
//   fill FILE COUNT CHAR  FILE holds COUNT times CHAR
//   touch FILE            make FILE if it is not there
//   hold FILE SECONDS     keep FILE open for reading that long; FILE.held
//                         appears once it is open
//   sleep SECONDS         wait
//   say TEXT              write TEXT and a line end to standard error
//   print TEXT            write TEXT to standard output and flush it; "\n"
//                         in TEXT is a line end
//   progress KIND DONE TOTAL
//                         write the progress line for that report to
//                         standard output and flush it, asked for or not
//   environment NAME FILE FILE holds the value of the variable NAME, or
//                         "(unset)"
// A step that fails ends the tool with exit status 1.
#ifndef LARKSPUR_TESTING_STAND_IN_TOOL_H_
#define LARKSPUR_TESTING_STAND_IN_TOOL_H_

#include <filesystem>
#include <fstream>
#include <string>

#include "port/files.h"

namespace larkspur::testing {

// The file name of a program called `name` on this platform.
inline std::string ProgramFileName(const std::string& name) {
#ifdef _WIN32
  return name + ".exe";
#else
  return name;
#endif
}

// Makes `folder`/`name` (with the platform's program suffix) the stand-in
// tool with `steps`; returns the program's path.
inline std::string InstallStandInTool(const std::string& folder, const std::string& name, const std::string& steps) {
  const std::string program = port::JoinPath(folder, ProgramFileName(name));
  std::filesystem::copy_file(
      port::FileSystemPath(port::JoinPath(port::ExecutableFolder(), ProgramFileName("larkspur_stand_in_tool"))),
      port::FileSystemPath(program), std::filesystem::copy_options::overwrite_existing);
  std::ofstream(port::FileSystemPath(port::JoinPath(folder, name + ".steps")), std::ios::binary) << steps;
  return program;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_STAND_IN_TOOL_H_
