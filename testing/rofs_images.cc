#include "testing/rofs_images.h"

#include <stdexcept>

#include "rofs/utf16.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::testing {

using namespace rofs;

std::filesystem::path ReferenceRofsFolder() {
  const std::filesystem::path folder =
      std::filesystem::path(LARKSPUR_SOURCE_DIR) / "testdata" / "rofs";
  std::error_code error;
  return std::filesystem::is_directory(folder, error) ? folder : std::filesystem::path();
}

namespace {

constexpr std::size_t kTarBlock = 512;

std::string Field(std::span<const std::uint8_t> header, std::size_t offset, std::size_t length) {
  std::string text(reinterpret_cast<const char*>(header.data() + offset), length);
  return text.substr(0, text.find('\0'));
}

std::uint64_t OctalField(std::span<const std::uint8_t> header, std::size_t offset,
                         std::size_t length) {
  std::uint64_t value = 0;
  for (char c : Field(header, offset, length)) {
    if (c == ' ') continue;
    if (c < '0' || c > '7') throw std::runtime_error("tar: bad octal field");
    value = value * 8 + (c - '0');
  }
  return value;
}

}  // namespace

std::vector<TarEntry> ReadTar(std::span<const std::uint8_t> archive) {
  std::vector<TarEntry> entries;
  std::string long_name;
  std::size_t at = 0;
  while (at + kTarBlock <= archive.size()) {
    const auto header = archive.subspan(at, kTarBlock);
    if (Field(header, 0, 100).empty()) break;  // the zero blocks at the end
    const std::uint64_t size = OctalField(header, 124, 12);
    const char type = static_cast<char>(header[156]);
    at += kTarBlock;
    if (size > archive.size() - at) throw std::runtime_error("tar: member runs past the end");
    const auto data = archive.subspan(at, size);
    at += (size + kTarBlock - 1) / kTarBlock * kTarBlock;
    if (type == 'L') {  // GNU: the next member's long name
      long_name.assign(data.begin(), data.end());
      long_name = long_name.substr(0, long_name.find('\0'));
      continue;
    }
    TarEntry entry;
    entry.path = Field(header, 0, 100);
    if (Field(header, 257, 6) == "ustar" && !Field(header, 345, 155).empty()) {
      entry.path = Field(header, 345, 155) + "/" + entry.path;
    }
    if (!long_name.empty()) entry.path = std::move(long_name), long_name.clear();
    while (!entry.path.empty() && entry.path.back() == '/') entry.path.pop_back();
    entry.is_directory = type == '5';
    if (type == '0' || type == '\0' || type == '5') {
      entry.data.assign(data.begin(), data.end());
      entries.push_back(std::move(entry));
    }
  }
  return entries;
}

void UnpackTar(const std::vector<TarEntry>& entries, const std::filesystem::path& folder) {
  for (const TarEntry& entry : entries) {
    const std::filesystem::path target = folder / Utf8Path(entry.path);
    if (entry.is_directory) {
      std::filesystem::create_directories(target);
    } else {
      std::filesystem::create_directories(target.parent_path());
      WriteBytes(target, entry.data);
    }
  }
}

std::vector<std::u16string> ImagePath(std::string_view utf8_path) {
  std::vector<std::u16string> path;
  while (true) {
    const std::size_t cut = utf8_path.find('\\');
    path.push_back(Utf8ToUtf16(utf8_path.substr(0, cut)).value());
    if (cut == std::string_view::npos) return path;
    utf8_path.remove_prefix(cut + 1);
  }
}

std::vector<std::uint8_t> WriteInMemory(ImageSpec spec,
                                        const std::vector<std::vector<std::uint8_t>>& contents) {
  for (std::size_t i = 0; i < spec.files.size(); ++i) {
    spec.files[i].size = contents[i].size();
    spec.files[i].uids = UidsFromData(contents[i]);
  }
  const ImageLayout layout = LayOutImage(spec);
  std::vector<std::uint8_t> image;
  VectorSink sink(image);
  WriteImage(spec, layout, sink,
             [&](std::size_t index, ByteSink& out) { out.Write(contents[index]); });
  return image;
}

std::vector<std::uint8_t> BuildInMemory(const std::vector<MemoryFile>& files,
                                        std::uint32_t max_image_size) {
  ImageSpec spec;
  spec.origin = "memory.obey";
  spec.max_image_size = max_image_size;
  spec.max_image_size_line = 2;
  spec.time = 63'435'758'706'000'000;  // 2 March 2010 04:05:06
  std::vector<std::vector<std::uint8_t>> contents;
  int line = 3;
  for (const MemoryFile& file : files) {
    ImageFileSpec entry;
    entry.path = ImagePath(file.image_path);
    entry.hidden = file.hidden;
    entry.line = line++;
    spec.files.push_back(entry);
    contents.push_back(ByteVector(file.data));
  }
  return WriteInMemory(std::move(spec), contents);
}

}  // namespace larkspur::testing
