// Builds the image an obey file describes from files on the host. The
// sources are looked up for their sizes first, so the layout places every
// file before a byte is read; then each is read once, by one of a few
// threads, straight to its place in a stretch of the image that is written
// at its place. Memory stays small (a stretch's buffer for each thread)
// whatever rofssize says, and the bytes are the same whatever the number of
// threads. The image appears under its final name only when it is
// complete. Not thread-safe for two builds of the same output file;
// otherwise callable from any thread.
#ifndef LARKSPUR_ROFS_OBEY_BUILD_H_
#define LARKSPUR_ROFS_OBEY_BUILD_H_

#include <cstdint>
#include <filesystem>

#include "rofs/obey_parser.h"
#include "rofs/rofs_writer.h"

namespace larkspur::rofs {

struct BuildResult {
  std::filesystem::path image_path;
  std::uint32_t image_size = 0;
  std::size_t file_count = 0;
};

// The image an obey file asks for, file by file in line order, with every
// size and UID field still zero: the caller fills them from the sources.
// The time stamp is obey.time, or `default_time` (Symbian time) without one.
ImageSpec SpecFromObey(const ObeyFile& obey, std::int64_t default_time);

// Builds `obey` into `base_folder` / rofsname, reading each host path
// relative to `base_folder`. `obey` is taken by value: given with std::move,
// its image paths move into the layout instead of being copied. The time stamp is obey.time, or `default_time`
// (Symbian time) when the obey file has none.
//
// The image is written to "<rofsname>.partial" beside its final name and
// renamed when every byte is out; on any failure the partial file is removed
// and no image is left (an older image of that name stays as it was). The
// image is left to the system to write to the disk (it is not flushed): it
// is an intermediate file, made again for every Repack.
// Throws ObeyError naming the line for a source that is missing, unreadable,
// not a regular file or changes while it is read (the first such line when
// several are), and for everything LayOutImage refuses; HostFileError when
// the image cannot be written.
// `progress`, when given, is called on the calling thread with the bytes of
// file data written so far and in all: first with 0, last with both equal.
// `readers` threads read the sources (the calling thread one of them); 0
// chooses one for each processor, up to four.
BuildResult BuildImageFromObey(ObeyFile obey, const std::filesystem::path& base_folder,
                               std::int64_t default_time, const WriteProgress& progress = {},
                               unsigned readers = 0);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_OBEY_BUILD_H_
