// The CRC-32 of a whole file, as a checksum list gives it, read through the
// file in stretches into one buffer: a 256 MiB firmware file costs one read
// of its bytes and a megabyte of memory, and the pages of a mapping never
// come into the process. For any thread; nothing is shared between calls.
#ifndef LARKSPUR_VPL_FILE_CRC_H_
#define LARKSPUR_VPL_FILE_CRC_H_

#include <cstdint>
#include <optional>
#include <string>

#include "port/file_view.h"

namespace larkspur::vpl {

// The CRC-32 of every byte `view` holds (0 for an empty view), read through
// its file (FileView::CopyOut). Throws FileIoError when a read fails.
std::uint32_t Crc32OfView(const port::FileView& view);

// The CRC-32 of the file at `path`: nullopt when `path` names no regular
// file, 0 for an empty one. Throws FileOpenError when the file exists but
// cannot be opened, FileIoError when a read fails.
std::optional<std::uint32_t> Crc32OfFile(const std::string& path);

}  // namespace larkspur::vpl

#endif  // LARKSPUR_VPL_FILE_CRC_H_
