// Helpers shared by the ROFS tests: the reference data beside the
// repository, temporary folders, a small tar reader for the reference input
// tree, and images built in memory. Test code only.
#ifndef LARKSPUR_ROFS_ROFS_TEST_SUPPORT_H_
#define LARKSPUR_ROFS_ROFS_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "rofs/rofs_writer.h"

namespace larkspur::rofs::testing {

// The folder with the reference images and the input trees: testdata/rofs
// of the project. Empty when it is missing, which the golden tests report
// as a failure.
std::filesystem::path ReferenceRofsFolder();

// Paths from and to UTF-8 on every system (the tar names and the expected
// names of the tests are UTF-8; Windows would read a plain string as ANSI).
std::filesystem::path Utf8Path(std::string_view utf8);
std::string GenericUtf8(const std::filesystem::path& path);

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);
std::vector<std::uint8_t> Bytes(std::string_view text);

// A fresh folder under the system's temporary folder, removed with all its
// contents when the object goes.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// One member of a tar archive (ustar or GNU).
struct TarEntry {
  std::string path;  // as stored, '/'-separated, no trailing '/'
  bool is_directory = false;
  std::vector<std::uint8_t> data;
};

// Reads the members of a tar archive; throws std::runtime_error when it is
// damaged.
std::vector<TarEntry> ReadTar(std::span<const std::uint8_t> archive);

// Writes the members under `folder`.
void UnpackTar(const std::vector<TarEntry>& entries, const std::filesystem::path& folder);

// A file for an image built in memory: its image path ('\'-separated UTF-8)
// and its bytes.
struct MemoryFile {
  std::string image_path;
  std::string data;
  bool hidden = false;
};

// The image of `files` (lines numbered from 1 in order), with a fixed time.
std::vector<std::uint8_t> BuildInMemory(const std::vector<MemoryFile>& files,
                                        std::uint32_t max_image_size = 0x10000000);

// Fills size and UID fields of `spec` from `contents` and writes the image.
std::vector<std::uint8_t> WriteInMemory(ImageSpec spec,
                                        const std::vector<std::vector<std::uint8_t>>& contents);

// What a command-line tool did.
struct ToolRun {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs `program` with `arguments` (each passed as one word) through the
// system's shell, in `folder`, with `environment` ("NAME=value") added when
// not empty; captures both output streams, with CR LF read as LF.
ToolRun RunTool(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                const std::filesystem::path& folder, const std::string& environment = "");

// The image path split at '\' and converted to UTF-16.
std::vector<std::u16string> ImagePath(std::string_view utf8_path);

}  // namespace larkspur::rofs::testing

#endif  // LARKSPUR_ROFS_ROFS_TEST_SUPPORT_H_
