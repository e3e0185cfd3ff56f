// Extract: strips the block headers of an opened firmware file, carves the
// partition image out by its content, writes it into the program folder and
// unpacks it (a ROFS image into rofs2 through the unpacking tool, a FAT
// image into uda), with the records that tie the tree to the file.
//
// The window runs the steps on three threads one after another (Begin on
// the user-interface thread, Locate on Tfix, Unpack on Trofs3 or Tfat); the
// command line and the benchmark call Extract. One step at a time; the run
// holds the program folder's run lock.
#ifndef LARKSPUR_PIPELINE_EXTRACT_H_
#define LARKSPUR_PIPELINE_EXTRACT_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pipeline/opened_file.h"
#include "pipeline/reporter.h"
#include "pipeline/rofs_tools.h"
#include "port/file_view.h"
#include "rofs/rofs_reader.h"
#include "workspace/transaction.h"
#include "workspace/workspace.h"

namespace larkspur::pipeline {

struct ExtractOptions {
  // Extract a damaged file (a header checksum or check value that does not
  // hold, a chain of blocks that breaks) anyway, with a warning for each
  // damaged block, instead of refusing it.
  bool accept_damaged = false;
};

class Extraction {
 public:
  // `file` is changed by the run (its layout read again under `model`, its
  // headers then stripped) and must outlive it, as must the rest.
  Extraction(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
             const ExtractOptions& options = {});

  // Maps the file. Refused when it is gone, empty or changed since Open.
  // Throws what port::FileView::Open throws.
  Outcome Begin();
  // Logs "正在定位文件.   ", checks the blocks (a header, the whole chain,
  // the model, every header checksum and check value), strips the headers,
  // logs their count and finds where the partition starts by its content.
  // Refused with the line that names the cause (a damaged block by its
  // number, offset and the values expected and found); nothing is written.
  Outcome Locate();
  // Writes the partition image and unpacks it, with its closing lines. All
  // or nothing: kDone once the image, the tree and their records stand;
  // kFailed when the unpacking tool failed, and Error thrown when the disk
  // or the system failed, with every file and folder put back as it was.
  // One partial result: a FAT image whose files cannot be put in a folder
  // (a name the folder cannot hold, a loop, a FAT32 volume) is kDone with
  // `folder_left_out`, and there is no folder uda.
  Outcome Unpack();

  // Drops what the run mapped.
  void Release();

 private:
  // The stripped file: the prefix, then each payload, as views into the
  // mapped file (or into the copy a file with a broken chain was stripped
  // in).
  std::vector<std::string_view> StrippedStream() const;
  void CarveInto(std::string_view relative_path);
  // The carved image in one piece, for the readers that need it so: the
  // payload it lies in, or the image file just written, mapped back.
  std::string_view CarvedImage(std::string_view relative_path);
  void WriteTreeSource(PartitionKind kind);
  void LogToolLines(const std::string& tool, const ToolResult& result);
  // The refusal of a damaged file, or the warnings when it is taken anyway.
  std::optional<Outcome> CheckDamage();
  // The line that says which header bytes differ from the profile's.
  void NoteKeptHeaderBytes();
  // The line that says how much of its erase area the partition leaves.
  std::optional<Text> EraseBudgetNote() const;
  Outcome UnpackRofs();
  Outcome UnpackFat();
  // Keeps the earlier content of `tree` as its ".previous" when it held
  // anything; returns where.
  std::optional<std::string> KeepEarlierTree(Transaction& transaction, std::string_view tree);

  OpenedFile& file_;
  const int model_;
  const Workspace& workspace_;
  RofsTools& tools_;
  Reporter& reporter_;
  const ExtractOptions options_;
  port::FileView image_data_;
  port::FileView carved_view_;
  std::string_view carved_in_place_;
  std::uint64_t carve_offset_ = 0;
  std::uint64_t carved_size_ = 0;
  // The unpacked ROFS image's header, when our reader reads it.
  std::optional<rofs::RofsHeader> rofs_header_;
};

// The whole Extract of `file` under `model`: Begin, Locate, Unpack.
// Refusals are returned, not logged.
Outcome Extract(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                const ExtractOptions& options = {});

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_EXTRACT_H_
