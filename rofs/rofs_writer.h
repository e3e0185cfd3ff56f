// Lays out and writes a ROFS image the way the Symbian builder does, so that
// images of ASCII names come out byte for byte the same (time stamp aside):
// directory blocks, file blocks, entries and data in creation order, the
// same sizes and padding, 0xFF wherever nothing is written. Only the lookup
// tables differ by design: they are sorted by the phone driver's rule (see
// rofs_names.h), so names beyond U+00FF can be opened on the phone.
//
// The layout needs only each file's size and first 16 bytes; the data is
// streamed afterwards, so building never holds the whole image in memory.
// Stateless; safe from any thread.
#ifndef LARKSPUR_ROFS_ROFS_WRITER_H_
#define LARKSPUR_ROFS_ROFS_WRITER_H_

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "rofs/rofs_format.h"
#include "rofs/rofs_reader.h"

namespace larkspur::rofs {

// One file to place, in the order the files are to be created.
struct ImageFileSpec {
  std::vector<std::u16string> path;  // folders, then the file name, as stored
  std::uint8_t attributes = kDefaultFileAttributes;
  bool hidden = false;                              // masks a lower layer's file; no data
  std::uint64_t size = 0;                           // bytes of data
  std::array<std::uint8_t, kEntryUidsSize> uids{};  // first 16 data bytes, zero-filled
  int line = 0;                                     // obey line, for messages
  std::uint8_t extra_attributes = kDefaultExtraAttributes;
};

struct ImageSpec {
  std::string origin;  // obey file name, for messages
  std::uint32_t max_image_size = 0;
  int max_image_size_line = 0;
  std::int64_t time = 0;  // Symbian time
  ImageVersion version;
  std::vector<ImageFileSpec> files;
};

struct FilePlacement {
  std::uint32_t address = 0;  // kHiddenFileAddress for a hidden entry
  std::uint32_t size = 0;
  std::uint32_t entry = 0;  // where the file's entry lies in the image (in the metadata)
};

struct ImageLayout {
  // The header, the directory tree and the file-entry blocks: the first
  // bytes of the image, up to where the data starts.
  std::vector<std::uint8_t> metadata;
  std::vector<FilePlacement> placements;  // one per ImageSpec::files entry
  std::uint32_t image_size = 0;
};

// The first 16 bytes of `data`, zero-filled: the UID field of a file entry.
std::array<std::uint8_t, kEntryUidsSize> UidsFromData(std::span<const std::uint8_t> data);

// Lays out the image. Throws ObeyError naming `origin` and the file's line
// when a name is not storable (empty, ".", "..", a separator, ':' or NUL,
// an unpaired surrogate, more than 255 UTF-16 units), when two names of a
// folder differ only in ASCII case, when a folder or file block outgrows what
// 16-bit offsets can address, and (naming the rofssize line) when the image
// does not fit `max_image_size`; and naming line 0 when there is no file.
ImageLayout LayOutImage(const ImageSpec& spec);

// Puts `uids` into the UID field of the entry of spec.files[index] in
// `layout.metadata`, for a writer that learns the first bytes of each file
// only after the layout (a hidden entry keeps zeros). Calls for different
// files may run on different threads at once.
void PutUids(ImageLayout& layout, std::size_t index, const std::array<std::uint8_t, kEntryUidsSize>& uids);

// Where image bytes go.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void Write(std::span<const std::uint8_t> bytes) = 0;
};

// Appends to a vector; for tests and small images.
class VectorSink : public ByteSink {
 public:
  explicit VectorSink(std::vector<std::uint8_t>& out) : out_(out) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    out_.insert(out_.end(), bytes.begin(), bytes.end());
  }

 private:
  std::vector<std::uint8_t>& out_;
};

// Writes `layout` to `sink`: the metadata, then each file's data in order,
// each padded with 0xFF to 4 bytes. `write_data(index, sink)` must write
// exactly the size laid out for spec.files[index]; it is not called for
// hidden or empty files. Throws ObeyError naming the file's line when it
// writes a different amount, and whatever `write_data` or the sink throw.
//
// `progress`, when given, is called with the bytes of file data written so
// far and the total laid out (metadata and padding not counted): once with
// 0 before the first file, then after every piece `write_data` writes.
using WriteProgress = std::function<void(std::uint64_t bytes_done, std::uint64_t bytes_total)>;
void WriteImage(const ImageSpec& spec, const ImageLayout& layout, ByteSink& sink,
                const std::function<void(std::size_t index, ByteSink& sink)>& write_data,
                const WriteProgress& progress = {});

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_WRITER_H_
