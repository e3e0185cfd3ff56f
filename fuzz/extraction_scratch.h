// Shared by the fuzz targets that extract into a folder: a scratch folder
// holding out/ (the extraction target, made afresh for every input) and
// outside/, which must stay empty, and a file reader. Removed when the
// fuzzer exits. Fuzzer code only; POSIX (mkdtemp).
#ifndef LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_
#define LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

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

}  // namespace larkspur::fuzz

#endif  // LARKSPUR_FUZZ_EXTRACTION_SCRATCH_H_
