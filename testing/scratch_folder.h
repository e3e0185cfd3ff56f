// Test helper: a fresh folder under the system's temporary folder, removed
// with everything in it when the helper goes out of scope. The one scratch
// folder of the tests; header only.
#ifndef LARKSPUR_TESTING_SCRATCH_FOLDER_H_
#define LARKSPUR_TESTING_SCRATCH_FOLDER_H_

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace larkspur::testing {

class ScratchFolder {
 public:
  ScratchFolder() : ScratchFolder(std::filesystem::temp_directory_path()) {}
  // Under `parent` instead of the temporary folder.
  explicit ScratchFolder(const std::filesystem::path& parent) {
    std::random_device random;
    path_ = parent / ("larkspur-test-" + std::to_string(random()) + std::to_string(random()));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, ending in a separator.
  std::string path() const { return (path_ / "").string(); }
  // The folder, for tests that build paths with std::filesystem.
  const std::filesystem::path& root() const { return path_; }
  std::string Path(const std::string& relative) const { return (path_ / Name(relative)).string(); }

  std::string Write(const std::string& relative, const std::string& content) const {
    const auto file = path_ / Name(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream(file, std::ios::binary) << content;
    return file.string();
  }

  std::string Read(const std::string& relative) const {
    std::ifstream in(path_ / Name(relative), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  bool Exists(const std::string& relative) const { return std::filesystem::exists(path_ / Name(relative)); }

 private:
  // Names in tests are UTF-8, as the source files are; Windows would read a
  // plain string in the ANSI code page. Bytes that are not UTF-8 are taken
  // as they are. The paths given back use the platform's separator, as the
  // program's own paths do.
  static std::filesystem::path Name(const std::string& relative) {
#ifdef _WIN32
    try {
      return std::filesystem::path(std::u8string(relative.begin(), relative.end())).make_preferred();
    } catch (const std::exception&) {
    }
#endif
    return std::filesystem::path(relative).make_preferred();
  }

  std::filesystem::path path_;
};

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_SCRATCH_FOLDER_H_
