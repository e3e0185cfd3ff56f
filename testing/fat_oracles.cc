#include "testing/fat_oracles.h"

#include <cstdlib>
#include <stdexcept>

#include "testing/captured_run.h"

namespace larkspur::testing {
namespace {

namespace fs = std::filesystem;

bool Installed(const std::string& program) {
  const CapturedRun run =
      RunCapturingOutput("sh", {"-c", "command -v " + program}, fs::temp_directory_path());
  return run.exit_code == 0;
}

}  // namespace

std::string RunOracle(const std::string& program, const std::vector<std::string>& arguments,
                      bool allow_failure, int* exit_code) {
  if (!Installed(program)) {
    throw std::runtime_error(program + " is not installed; run scripts/install-deps (it installs mtools and dosfstools)");
  }
#ifdef _WIN32
  _putenv_s("MTOOLS_SKIP_CHECK", "1");
#else
  ::setenv("MTOOLS_SKIP_CHECK", "1", 1);
  ::setenv("LC_ALL", "C.UTF-8", 1);
#endif
  const CapturedRun run = RunCapturingOutput(program, arguments, fs::temp_directory_path());
  if (exit_code) *exit_code = run.exit_code;
  if (run.exit_code != 0 && !allow_failure) {
    std::string line = program;
    for (const std::string& argument : arguments) line += " " + argument;
    throw std::runtime_error(line + " failed (" + std::to_string(run.exit_code) + "):\n" + run.out + run.err);
  }
  return run.out + run.err;
}

void MakeFatImage(const fs::path& image, int fat_bits, int size_kib, const std::vector<std::string>& options) {
  std::vector<std::string> arguments = {"-F", std::to_string(fat_bits), "--invariant", "-i", "1A2B3C4D", "-n", "PHONE"};
  // --invariant fixes the serial too, so -i must come after it.
  arguments.insert(arguments.end(), options.begin(), options.end());
  arguments.push_back("-C");
  arguments.push_back(image.string());
  arguments.push_back(std::to_string(size_kib));
  RunOracle("mkfs.fat", arguments);
}

std::string MtoolsPath(const std::string& relative) { return "::/" + relative; }

std::uint64_t MdirFreeBytes(const fs::path& image) {
  const std::string listing = RunOracle("mdir", {"-i", image.string(), "::/"});
  const std::size_t end = listing.find(" bytes free");
  if (end == std::string::npos) throw std::runtime_error("mdir printed no free space:\n" + listing);
  std::size_t begin = listing.rfind('\n', end) + 1;
  std::string digits;
  for (std::size_t i = begin; i < end; ++i) {
    if (listing[i] >= '0' && listing[i] <= '9') digits += listing[i];
  }
  return std::stoull(digits);
}

}  // namespace larkspur::testing
