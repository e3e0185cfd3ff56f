#include "fat/fat_test_support.h"

#include <cstdlib>
#include <stdexcept>

#include "rofs/rofs_test_support.h"

namespace larkspur::fat::testing {
namespace {

namespace fs = std::filesystem;

bool Installed(const std::string& program) {
  const rofs::testing::ToolRun run =
      rofs::testing::RunTool("sh", {"-c", "command -v " + program}, fs::temp_directory_path());
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
  const rofs::testing::ToolRun run = rofs::testing::RunTool(program, arguments, fs::temp_directory_path());
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

std::string ImagePath(const std::string& relative) { return "::/" + relative; }

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

std::map<std::string, std::string> TreeOf(const fs::path& folder) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = rofs::testing::GenericUtf8(entry.path().lexically_relative(folder));
    if (entry.is_directory()) {
      tree[relative + "/"] = "";
    } else {
      const auto bytes = rofs::testing::ReadBytes(entry.path());
      tree[relative] = std::string(bytes.begin(), bytes.end());
    }
  }
  return tree;
}

std::string TreeDifference(const fs::path& actual, const fs::path& expected) {
  const auto have = TreeOf(actual);
  const auto want = TreeOf(expected);
  std::string difference;
  for (const auto& [path, content] : want) {
    const auto it = have.find(path);
    if (it == have.end()) {
      difference += "missing: " + path + "\n";
    } else if (it->second != content) {
      difference += "different content (" + std::to_string(it->second.size()) + " bytes, expected " +
                    std::to_string(content.size()) + "): " + path + "\n";
    }
  }
  for (const auto& [path, content] : have) {
    if (!want.contains(path)) difference += "extra: " + path + "\n";
  }
  return difference;
}

void PutFile(const fs::path& root, const std::string& relative, const std::string& content) {
  const fs::path path = root / rofs::testing::Utf8Path(relative);
  fs::create_directories(path.parent_path());
  rofs::testing::WriteBytes(path, std::vector<std::uint8_t>(content.begin(), content.end()));
}

std::string Pattern(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  std::uint32_t state = seed * 2654435761u + 1;
  for (char& byte : bytes) {
    state = state * 1103515245u + 12345u;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

}  // namespace larkspur::fat::testing
