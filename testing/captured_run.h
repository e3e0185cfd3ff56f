// Test helper: runs a program through the system's shell and catches what
// it wrote, for end-to-end tests of the built programs and for the FAT
// oracles. Test code only; not the program's own tool runner
// (pipeline/tool_runner.h).
#ifndef LARKSPUR_TESTING_CAPTURED_RUN_H_
#define LARKSPUR_TESTING_CAPTURED_RUN_H_

#include <filesystem>
#include <string>
#include <vector>

namespace larkspur::testing {

// What a program run did.
struct CapturedRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (each passed as one word, the program's
// path strings: UTF-8 on Windows too, in any script) through the system's
// shell, in `folder`, with `environment` ("NAME=value") added when
// not empty; captures both output streams, with CR LF read as LF.
CapturedRun RunCapturingOutput(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                               const std::filesystem::path& folder, const std::string& environment = "");

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_CAPTURED_RUN_H_
