#include "rofs/obey_build.h"

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string_view>
#include <system_error>
#include <vector>

#include "port/errors.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_writer.h"

namespace larkspur::rofs {
namespace {

constexpr std::size_t kCopyChunk = 1 << 20;

// The system's reason after a stream failed to open; streams do not
// always set errno.
std::string StreamFailureReason() {
  const int error = errno;
  return error ? SystemReason(error) : std::string("unknown reason");
}

// Streams image bytes into the file port::WriteFileReplacing writes; a
// failed write throws from `write` and ends the build.
class FileSink : public ByteSink {
 public:
  explicit FileSink(const port::ContentWrite& write) : write_(write) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    write_(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  }

 private:
  const port::ContentWrite& write_;
};

class ObeyBuilder {
 public:
  ObeyBuilder(const ObeyFile& obey, const std::filesystem::path& base_folder, const WriteProgress& progress)
      : obey_(obey), base_folder_(base_folder), progress_(progress) {}

  BuildResult Run(std::int64_t default_time) {
    // The spec's files stand in obey order, one for each file line; only
    // their sizes and UIDs come from the disk.
    ImageSpec spec = SpecFromObey(obey_, default_time);
    for (std::size_t i = 0; i < obey_.files.size(); ++i) {
      const ObeyFileLine& line = obey_.files[i];
      ImageFileSpec& file = spec.files[i];
      sources_.push_back(line.hidden ? std::filesystem::path() : SourcePath(line));
      if (!line.hidden) MeasureSource(line, sources_.back(), file);
      sizes_.push_back(file.size);
    }
    const ImageLayout layout = LayOutImage(spec);

    BuildResult result;
    result.image_path = base_folder_ / HostPathFromBytes(obey_.rofs_name);
    result.image_size = layout.image_size;
    result.file_count = spec.files.size();
    WriteAndRename(spec, layout, result.image_path);
    return result;
  }

 private:
  [[noreturn]] void Fail(const ObeyFileLine& line, const std::string& reason) const {
    throw ObeyError(obey_.origin, line.line, "source file \"" + line.source + "\" " + reason);
  }

  std::filesystem::path SourcePath(const ObeyFileLine& line) const {
    return base_folder_ / HostPathFromBytes(line.source);
  }

  void MeasureSource(const ObeyFileLine& line, const std::filesystem::path& path,
                     ImageFileSpec& file) const {
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (status.type() == std::filesystem::file_type::not_found) Fail(line, "does not exist");
    if (error) Fail(line, "cannot be read: " + error.message());
    if (status.type() != std::filesystem::file_type::regular) Fail(line, "is not a regular file");
    file.size = std::filesystem::file_size(path, error);
    if (error) Fail(line, "cannot be read: " + error.message());
    if (file.size > 0xFFFFFFFF) Fail(line, "is larger than 4 GiB, more than an image can hold");
    std::ifstream in(path, std::ios::binary);
    if (!in) Fail(line, "cannot be opened: " + StreamFailureReason());
    std::uint8_t head[kEntryUidsSize] = {};
    in.read(reinterpret_cast<char*>(head), kEntryUidsSize);
    if (static_cast<std::uint64_t>(in.gcount()) !=
        std::min<std::uint64_t>(file.size, kEntryUidsSize)) {
      Fail(line, "cannot be read to its stated size");
    }
    file.uids = UidsFromData(std::span(head, static_cast<std::size_t>(in.gcount())));
  }

  // Sources are copied a chunk at a time, not loaded whole: an image may
  // hold files of hundreds of megabytes, and it never needs one whole in
  // memory. The length is checked as they are read.
  void CopySource(std::size_t index, ByteSink& sink) const {
    const ObeyFileLine& line = obey_.files[index];
    std::ifstream in(sources_[index], std::ios::binary);
    if (!in) Fail(line, "cannot be opened: " + StreamFailureReason());
    std::vector<char> buffer(kCopyChunk);
    std::uint64_t remaining = sizes_[index];
    while (remaining > 0) {
      in.read(buffer.data(),
              static_cast<std::streamsize>(std::min<std::uint64_t>(remaining, buffer.size())));
      const auto got = static_cast<std::size_t>(in.gcount());
      if (got == 0) Fail(line, "became shorter while the image was written");
      sink.Write(std::span(reinterpret_cast<const std::uint8_t*>(buffer.data()), got));
      remaining -= got;
    }
    // The layout has fixed every address by the measured size; a file that
    // grew since would be cut silently, so it ends the build instead.
    if (in.peek() != std::char_traits<char>::eof()) {
      Fail(line, "became longer while the image was written");
    }
  }

  // Through port::WriteFileReplacing, which writes "<image>.partial",
  // flushes it to the disk and only then puts it in the image's place, so a
  // failed build never leaves a short image under the final name. Its
  // errors are worded as this library's, naming the file it was writing.
  void WriteAndRename(const ImageSpec& spec, const ImageLayout& layout,
                      const std::filesystem::path& image_path) const {
    const std::string image_name = HostPathToBytes(image_path);
    try {
      port::WriteFileReplacing(image_name, [&](const port::ContentWrite& write) {
        FileSink sink(write);
        WriteImage(
            spec, layout, sink,
            [this](std::size_t index, ByteSink& data_sink) { CopySource(index, data_sink); }, progress_);
      });
    } catch (const FileCreateError& error) {
      throw HostFileError("Cannot create file", image_name + ".partial", error.reason());
    }
  }

  const ObeyFile& obey_;
  const std::filesystem::path& base_folder_;
  const WriteProgress& progress_;
  std::vector<std::filesystem::path> sources_;
  std::vector<std::uint64_t> sizes_;
};

}  // namespace

ImageSpec SpecFromObey(const ObeyFile& obey, std::int64_t default_time) {
  ImageSpec spec;
  spec.origin = obey.origin;
  spec.max_image_size = obey.rofs_size;
  spec.max_image_size_line = obey.rofs_size_line;
  spec.time = obey.time.value_or(default_time);
  spec.version = obey.version;
  for (const ObeyFileLine& line : obey.files) {
    ImageFileSpec file;
    file.path = line.image_path;
    file.attributes = line.attributes;
    file.extra_attributes = line.extra_attributes;
    file.hidden = line.hidden;
    file.line = line.line;
    spec.files.push_back(std::move(file));
  }
  return spec;
}

BuildResult BuildImageFromObey(const ObeyFile& obey, const std::filesystem::path& base_folder,
                               std::int64_t default_time, const WriteProgress& progress) {
  return ObeyBuilder(obey, base_folder, progress).Run(default_time);
}

}  // namespace larkspur::rofs
