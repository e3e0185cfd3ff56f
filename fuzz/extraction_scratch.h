// Shared by the fuzz targets that extract into a folder: a scratch folder
// holding out/ (the extraction target, made afresh for every input) and
// outside/, which must stay empty, and a file reader. Removed when the
// fuzzer exits; and the check of what an extraction left there. Fuzzer
// code only; POSIX (mkdtemp).
#ifndef LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_
#define LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <string>

#include "fuzz/fuzz_check.h"

namespace larkspur::fuzz {

class ExtractionScratch {
 public:
  // `prefix` names the fuzz target in the folder's name.
  explicit ExtractionScratch(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!::mkdtemp(pattern.data())) std::abort();
    root_ = pattern;
    std::filesystem::create_directory(outside());
  }
  ~ExtractionScratch() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
  }
  ExtractionScratch(const ExtractionScratch&) = delete;
  ExtractionScratch& operator=(const ExtractionScratch&) = delete;

  std::filesystem::path out() const { return root_ / "out"; }
  std::filesystem::path outside() const { return root_ / "outside"; }
  const std::filesystem::path& root() const { return root_; }

  // A fresh out/ with a link to a folder outside it and a dangling link
  // into that folder, the names a hostile image would try to write through.
  void Reset() const {
    std::filesystem::remove_all(out());
    std::filesystem::create_directory(out());
    std::filesystem::create_directory_symlink("../outside", out() / "lnk");
    std::filesystem::create_symlink("../outside/f", out() / "lnkf");
  }

 private:
  std::filesystem::path root_;
};

inline std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// What an extraction left under out/, by path relative to it.
struct ExtractedTree {
  std::set<std::string> folders;
  std::map<std::string, std::string> files;
};

// Checks that extraction wrote nothing outside out/, left the planted links
// as they were and made no link, and returns what it made under out/.
inline ExtractedTree CheckScratch(const ExtractionScratch& scratch) {
  namespace fs = std::filesystem;
  ExtractedTree tree;
  for (auto it = fs::recursive_directory_iterator(scratch.root()); it != fs::recursive_directory_iterator(); ++it) {
    const std::string name = it->path().lexically_relative(scratch.root()).generic_string();
    const fs::file_status status = it->symlink_status();
    if (name == "outside") {
      LARKSPUR_FUZZ_CHECK(fs::is_directory(status) && fs::is_empty(it->path()),
                          "something was written outside the output folder");
      continue;
    }
    LARKSPUR_FUZZ_CHECK(name == "out" || name.rfind("out/", 0) == 0, "extraction wrote %s outside out/",
                        name.c_str());
    if (name == "out/lnk" || name == "out/lnkf") {
      LARKSPUR_FUZZ_CHECK(fs::is_symlink(status), "%s was replaced", name.c_str());
      LARKSPUR_FUZZ_CHECK(fs::read_symlink(it->path()) == (name == "out/lnk" ? "../outside" : "../outside/f"),
                          "%s was changed", name.c_str());
      continue;
    }
    LARKSPUR_FUZZ_CHECK(!fs::is_symlink(status), "extraction made the symbolic link %s", name.c_str());
    if (name == "out") continue;
    const std::string below = name.substr(4);
    if (fs::is_directory(status)) {
      tree.folders.insert(below);
    } else {
      LARKSPUR_FUZZ_CHECK(fs::is_regular_file(status), "extraction made %s, neither file nor folder", name.c_str());
      tree.files[below] = ReadFile(it->path());
    }
  }
  return tree;
}

}  // namespace larkspur::fuzz

#endif  // LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_
