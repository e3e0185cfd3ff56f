// Open: a firmware file chosen by the user, what is known of it between
// commands (its name, kind, size and time, block layout and start address),
// and the checks every command makes of it again: that it is still the file
// opened, and that it was made for the model chosen. No copy of the file's
// bytes is held between commands: each command maps it again.
//
// An OpenedFile is its holder's: a command changes the one it is given
// (the layout read again under another model, the headers marked stripped)
// on the thread it runs on. The window hands its worker a copy for a run
// and takes the copy back at the run's end.
#ifndef LARKSPUR_PIPELINE_OPENED_FILE_H_
#define LARKSPUR_PIPELINE_OPENED_FILE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "format/firmware_layout.h"
#include "format/model_profile.h"
#include "pipeline/reporter.h"
#include "port/errors.h"
#include "port/file_view.h"
#include "port/files.h"

namespace larkspur::pipeline {

// The largest firmware file handled: the length is a 32-bit signed count,
// so files of 2 GiB or more are refused.
inline constexpr std::uint64_t kMaxFirmwareSize = 0x7FFFFFFF;

struct OpenedFile {
  std::string path;  // full path
  std::string name;  // the file name part: the REB- file is named after it
  PartitionKind kind = PartitionKind::kRofs;
  port::FileStamp stamp;  // size and write time when it was opened
  // The model whose block format the layout and start address were read in.
  int model = 0;
  FirmwareLayout layout;
  // The load address field of the first block header, as stored: 4 bytes,
  // fewer where the file ends sooner. Without a header it is read where a
  // header at the file's start would hold it.
  std::string start_address;
  // True once an Extract has stripped the headers: a second Extract without
  // a new Open carves the same bytes again, finding no headers left.
  bool stripped = false;
};

// A file that cannot be opened because there is none to open: missing,
// empty, or a folder. "Cannot open file "%s". %s"
class NoFileError : public FileError {
 public:
  NoFileError(const std::string& path, const std::string& reason) : FileError("Cannot open file", path, reason) {}
};

// Opens the firmware file `path`: reads its block layout in `model`'s format
// of its kind (`kind`, or else what its file name says) and its start
// address, and logs "正在打开文件...  ", "文件: %1" and an empty line. Reads
// only the headers' pages. Throws NoFileError naming the file when it is
// missing, empty or a folder, and what port::FileView::Open throws
// (FileOpenError) when it cannot be opened or is too large.
OpenedFile OpenFirmware(const std::string& path, std::optional<PartitionKind> kind, int model, Reporter& reporter);

// Maps the opened file for a command into `view`. The refusal when it is
// gone, empty, or changed since it was opened (then `view` is empty).
// Throws what port::FileView::Open throws.
std::optional<Text> MapOpenedFile(const OpenedFile& file, port::FileView& view);

// Reads the layout and start address of `file` (mapped as `bytes`) again in
// `model`'s format when it was read in one with another signature or header
// size; the headers then count as not stripped.
void EnsureLayout(OpenedFile& file, std::string_view bytes, int model);

// The refusal of a file (mapped as `bytes`) that was not made for `model`:
// it holds no block header of the model's format, or its blocks' one length
// is another model's block size. The refusal names the models the file fits
// and carries them. Blocks of irregular lengths are not refused; the warning
// that names them is logged.
std::optional<Outcome> CheckModel(const OpenedFile& file, std::string_view bytes, int model, Reporter& reporter);

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_OPENED_FILE_H_
