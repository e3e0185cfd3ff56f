#include "rofs/obey_build.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "port/errors.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_writer.h"

namespace larkspur::rofs {
namespace {

// The image's data goes out in stretches of about this much: a reader reads
// the files of a stretch, each straight to its place in one buffer, pads
// them, and writes the stretch at its place in the image with one write. A
// buffer this size stays in the processor's cache between the two copies.
constexpr std::uint64_t kStretchBytes = std::uint64_t{1} << 20;
constexpr unsigned kMaxReaders = 4;

// Consecutive files with data (indices into the image description's
// files) and the bytes of the image they take, padding included:
// [begin, end).
struct Stretch {
  std::size_t first = 0;
  std::size_t last = 0;  // inclusive
  std::uint64_t begin = 0;
  std::uint64_t end = 0;
};

// Files lie one after another from the end of the metadata, each padded
// to 4 bytes (empty and hidden files take no room), so stretches of
// consecutive files cover the data without gaps. A file larger than a
// stretch is one of its own, read through the buffer a piece at a time.
std::vector<Stretch> PlanStretches(const ImageLayout& layout) {
  std::vector<Stretch> stretches;
  std::optional<Stretch> open;
  for (std::size_t i = 0; i < layout.placements.size(); ++i) {
    const FilePlacement& placement = layout.placements[i];
    if (placement.address == kHiddenFileAddress || placement.size == 0) continue;
    const std::uint64_t end = RoundUp4(std::uint64_t{placement.address} + placement.size);
    if (open && end - open->begin > kStretchBytes) {
      stretches.push_back(*open);
      open.reset();
    }
    if (!open) open = Stretch{i, i, placement.address, end};
    open->last = i;
    open->end = end;
  }
  if (open) stretches.push_back(*open);
  return stretches;
}

// Joins the reader threads on every way out of the function that started
// them.
class ThreadGroup {
 public:
  ThreadGroup() = default;
  ThreadGroup(const ThreadGroup&) = delete;
  ThreadGroup& operator=(const ThreadGroup&) = delete;
  ~ThreadGroup() {
    for (std::thread& thread : threads_) thread.join();
  }
  template <typename Work>
  void Start(Work work) {
    threads_.emplace_back(std::move(work));
  }

 private:
  std::vector<std::thread> threads_;
};

// What SpecFromObey takes from the obey file but the files.
ImageSpec SpecWithoutFiles(const ObeyFile& obey, std::int64_t default_time) {
  ImageSpec spec;
  spec.origin = obey.origin;
  spec.max_image_size = obey.rofs_size;
  spec.max_image_size_line = obey.rofs_size_line;
  spec.time = obey.time.value_or(default_time);
  spec.version = obey.version;
  spec.files.reserve(obey.files.size());
  return spec;
}

// What SpecFromObey takes from a file line but the image path.
ImageFileSpec FileSpecWithoutPath(const ObeyFileLine& line) {
  ImageFileSpec file;
  file.attributes = line.attributes;
  file.extra_attributes = line.extra_attributes;
  file.hidden = line.hidden;
  file.line = line.line;
  return file;
}

class ObeyBuilder {
 public:
  ObeyBuilder(ObeyFile obey, const std::filesystem::path& base_folder, const WriteProgress& progress, unsigned readers)
      : obey_(std::move(obey)),
        base_folder_(base_folder),
        progress_(progress),
        readers_(std::min(kMaxReaders, readers != 0 ? readers : std::max(1u, std::thread::hardware_concurrency()))) {}

  BuildResult Run(std::int64_t default_time) {
    // The image description's files stand in obey order, one for each file
    // line, their image paths moved in (the lines keep what messages need: numbers and
    // host paths). Only sizes and UIDs come from the disk; the sizes first,
    // for the layout: every file's place in the image is known before a
    // byte is read.
    ImageSpec spec = SpecWithoutFiles(obey_, default_time);
    for (ObeyFileLine& line : obey_.files) {
      spec.files.push_back(FileSpecWithoutPath(line));
      spec.files.back().path = std::move(line.image_path);
    }
    MeasureSources(spec);
    ImageLayout layout = LayOutImage(spec);

    BuildResult result;
    result.image_path = base_folder_ / HostPathFromBytes(obey_.rofs_name);
    result.image_size = layout.image_size;
    result.file_count = spec.files.size();
    WriteAndRename(layout, result.image_path);
    return result;
  }

 private:
  [[noreturn]] void Fail(const ObeyFileLine& line, const std::string& reason) const {
    throw ObeyError(obey_.origin, line.line, "source file \"" + line.source + "\" " + reason);
  }

  port::NativePath SourcePath(const ObeyFileLine& line) const { return HostPathBelow(base_folder_, line.source); }

  // Runs `work` on the readers: on as many threads as the build has
  // readers, the calling thread one of them (`on_caller` true there). The
  // first exception `work` throws on any thread is thrown here, once every
  // thread has ended.
  void OnReaders(const std::function<void(bool on_caller)>& work) const {
    std::vector<std::exception_ptr> errors(readers_);
    {
      ThreadGroup helpers;
      for (unsigned r = 1; r < readers_; ++r) {
        helpers.Start([&work, &errors, r] {
          try {
            work(false);
          } catch (...) {
            errors[r] = std::current_exception();
          }
        });
      }
      try {
        work(true);
      } catch (...) {
        errors[0] = std::current_exception();
      }
    }
    for (const std::exception_ptr& error : errors) {
      if (error) std::rethrow_exception(error);
    }
  }

  // Each source's size, looked up by the readers a share at a time; the
  // failure named is that of the first line in obey order.
  void MeasureSources(ImageSpec& spec) {
    constexpr std::size_t kShare = 256;
    const std::size_t count = obey_.files.size();
    sources_.resize(count);
    std::vector<port::PathStatus> statuses(count);
    std::atomic<std::size_t> next{0};
    OnReaders([&](bool) {
      for (std::size_t first = next.fetch_add(kShare); first < count; first = next.fetch_add(kShare)) {
        for (std::size_t i = first; i < std::min(count, first + kShare); ++i) {
          if (obey_.files[i].hidden) continue;
          sources_[i] = SourcePath(obey_.files[i]);
          statuses[i] = port::StatusOfPath(sources_[i]);
        }
      }
    });
    for (std::size_t i = 0; i < count; ++i) {
      const ObeyFileLine& line = obey_.files[i];
      if (line.hidden) continue;
      const port::PathStatus& status = statuses[i];
      switch (status.kind) {
        case port::PathStatus::Kind::kMissing:
          Fail(line, "does not exist");
        case port::PathStatus::Kind::kUnknown:
          Fail(line, "cannot be read: " + status.reason);
        case port::PathStatus::Kind::kOther:
          Fail(line, "is not a regular file");
        case port::PathStatus::Kind::kRegular:
          break;
      }
      if (status.size > 0xFFFFFFFF) Fail(line, "is larger than 4 GiB, more than an image can hold");
      spec.files[i].size = status.size;
    }
  }

  // What the readers share while they write the data.
  struct Shared {
    Shared(const std::vector<Stretch>& stretches, ImageLayout& layout, port::ReplacingFile& out)
        : stretches(stretches), layout(layout), out(out) {}
    const std::vector<Stretch>& stretches;
    ImageLayout& layout;
    port::ReplacingFile& out;
    std::atomic<std::size_t> next{0};          // the next stretch to take
    std::atomic<std::uint64_t> bytes_done{0};  // of file data, for progress
    // The first stretch known to have failed; the stretches after it are
    // not read.
    std::atomic<std::size_t> failed_at{SIZE_MAX};
    // Each stretch's failure, in the stretches' order: the first one is the
    // build's, whichever reader met which first.
    std::vector<std::exception_ptr> errors = std::vector<std::exception_ptr>(stretches.size());
  };

  // The system's failures of a source, worded as this library's.
  void OpenSource(std::size_t index, port::FileReader& reader) const {
    try {
      reader.Open(sources_[index]);
    } catch (const FileError& error) {
      Fail(obey_.files[index], "cannot be opened: " + error.reason());
    }
  }

  template <typename Read>
  auto ReadSource(std::size_t index, const Read& read) const {
    try {
      return read();
    } catch (const FileError& error) {
      Fail(obey_.files[index], "cannot be read: " + error.reason());
    }
  }

  // The last `count` bytes of a source into `to`. A file that changed size
  // since it was measured would shift or cut every file after it in the
  // image: the build ends instead.
  void ReadSourceEnd(std::size_t index, port::FileReader& reader, char* to, std::uint64_t count) const {
    const port::FileReader::End end = ReadSource(index, [&] { return reader.ReadToEnd(to, count); });
    reader.Close();
    if (end == port::FileReader::End::kSooner) Fail(obey_.files[index], "became shorter while the image was written");
    if (end == port::FileReader::End::kGoesOn) Fail(obey_.files[index], "became longer while the image was written");
  }

  // Pads `count` bytes at `to` with 0xFF up to a multiple of 4, and returns
  // the padded length.
  static std::uint64_t Pad(char* to, std::uint64_t count) {
    std::fill(to + count, to + RoundUp4(count), static_cast<char>(kFillByte));
    return RoundUp4(count);
  }

  static std::array<std::uint8_t, kEntryUidsSize> UidsOf(const char* data, std::uint64_t size) {
    return UidsFromData({reinterpret_cast<const std::uint8_t*>(data),
                         static_cast<std::size_t>(std::min<std::uint64_t>(size, kEntryUidsSize))});
  }

  // Files of a stretch, each straight to its place in the buffer, then the
  // stretch to its place in the image.
  void CopyStretch(const Stretch& stretch, port::FileReader& reader, char* buffer, Shared& shared) const {
    for (std::size_t i = stretch.first; i <= stretch.last; ++i) {
      const FilePlacement& placement = shared.layout.placements[i];
      if (placement.address == kHiddenFileAddress || placement.size == 0) continue;
      char* to = buffer + (placement.address - stretch.begin);
      OpenSource(i, reader);
      ReadSourceEnd(i, reader, to, placement.size);
      PutUids(shared.layout, i, UidsOf(to, placement.size));
      Pad(to, placement.size);
      shared.bytes_done += placement.size;
    }
    shared.out.WriteAt(stretch.begin, {buffer, static_cast<std::size_t>(stretch.end - stretch.begin)});
  }

  // A file larger than a stretch: through the buffer a stretch at a time.
  void CopyLargeSource(std::size_t index, port::FileReader& reader, char* buffer, Shared& shared) const {
    const FilePlacement& placement = shared.layout.placements[index];
    OpenSource(index, reader);
    for (std::uint64_t done = 0;; done += kStretchBytes) {
      const std::uint64_t rest = placement.size - done;
      const bool last = rest <= kStretchBytes;
      std::uint64_t length = kStretchBytes;
      if (last) {
        ReadSourceEnd(index, reader, buffer, rest);
        length = Pad(buffer, rest);
      } else if (ReadSource(index, [&] { return reader.Read(buffer, kStretchBytes); }) < kStretchBytes) {
        Fail(obey_.files[index], "became shorter while the image was written");
      }
      if (done == 0) PutUids(shared.layout, index, UidsOf(buffer, placement.size));
      shared.out.WriteAt(placement.address + done, {buffer, static_cast<std::size_t>(length)});
      shared.bytes_done += last ? rest : kStretchBytes;
      if (last) return;
    }
  }

  // One reader: takes the next stretch until none is left. The stretches
  // are taken in image order, so once one fails, every stretch before it
  // has been taken; those are still read, and a stretch after it is not.
  // `report` runs after each stretch (on the caller's thread only).
  void ReadStretches(Shared& shared, const std::function<void()>& report) const {
    std::unique_ptr<char[]> buffer(new char[kStretchBytes]);
    port::FileReader reader;
    for (std::size_t s = shared.next++; s < shared.stretches.size(); s = shared.next++) {
      if (s > shared.failed_at) continue;
      const Stretch& stretch = shared.stretches[s];
      try {
        if (stretch.end - stretch.begin > kStretchBytes) {
          CopyLargeSource(stretch.first, reader, buffer.get(), shared);
        } else {
          CopyStretch(stretch, reader, buffer.get(), shared);
        }
        if (report) report();
      } catch (...) {
        reader.Close();
        shared.errors[s] = std::current_exception();
        std::size_t failed = shared.failed_at;
        while (s < failed && !shared.failed_at.compare_exchange_weak(failed, s)) {
        }
      }
    }
  }

  // The image is written at its final size into "<image>.partial", its
  // data by the readers, its metadata last (the UIDs are the files' first
  // bytes), and only then put in the image's place: a failed build never
  // leaves a short image under the final name, and removes the partial one.
  //
  // The image is not flushed to the disk: it is an intermediate file.
  // Repack makes it again every time, before it cuts it into the REB file,
  // which is flushed; the image is never read after a restart. Waiting here
  // for the disk to take 160 MB would double what a Repack waits for.
  void WriteAndRename(ImageLayout& layout, const std::filesystem::path& image_path) const {
    const std::string image_name = HostPathToBytes(image_path);
    try {
      port::ReplacingFile out(image_name);
      const std::vector<Stretch> stretches = PlanStretches(layout);
      std::uint64_t data_total = 0;
      for (const FilePlacement& placement : layout.placements) {
        if (placement.address != kHiddenFileAddress) data_total += placement.size;
      }
      Shared shared(stretches, layout, out);
      if (progress_) progress_(0, data_total);
      const std::function<void()> report = [&] { progress_(shared.bytes_done, data_total); };
      OnReaders([&](bool on_caller) { ReadStretches(shared, on_caller && progress_ ? report : nullptr); });
      for (const std::exception_ptr& error : shared.errors) {
        if (error) std::rethrow_exception(error);
      }
      if (progress_) progress_(data_total, data_total);
      const auto* metadata = reinterpret_cast<const char*>(layout.metadata.data());
      out.WriteAt(0, {metadata, layout.metadata.size()});
      out.Commit(port::ReplacingFile::Flush::kLeftToSystem);
    } catch (const FileCreateError& error) {
      throw HostFileError("Cannot create file", image_name + ".partial", error.reason());
    }
  }

  ObeyFile obey_;
  const std::filesystem::path& base_folder_;
  const WriteProgress& progress_;
  const unsigned readers_;
  std::vector<port::NativePath> sources_;
};

}  // namespace

ImageSpec SpecFromObey(const ObeyFile& obey, std::int64_t default_time) {
  ImageSpec spec = SpecWithoutFiles(obey, default_time);
  for (const ObeyFileLine& line : obey.files) {
    spec.files.push_back(FileSpecWithoutPath(line));
    spec.files.back().path = line.image_path;
  }
  return spec;
}

BuildResult BuildImageFromObey(ObeyFile obey, const std::filesystem::path& base_folder, std::int64_t default_time,
                               const WriteProgress& progress, unsigned readers) {
  return ObeyBuilder(std::move(obey), base_folder, progress, readers).Run(default_time);
}

}  // namespace larkspur::rofs
