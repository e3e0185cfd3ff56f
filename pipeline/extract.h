// Extract: strips the block headers of an opened firmware file, carves the
// partition image out by its content, writes it into the program folder and
// unpacks it (a ROFS image into rofs2 through the unpacking tool, a FAT
// image into uda), with the records that tie the tree to the file.
//
// One call on the caller's thread: the window's worker, the command line
// and the benchmark call Extract alike. The run holds the program folder's
// run lock.
#ifndef LARKSPUR_PIPELINE_EXTRACT_H_
#define LARKSPUR_PIPELINE_EXTRACT_H_

#include <functional>

#include "pipeline/opened_file.h"
#include "pipeline/reporter.h"
#include "pipeline/rofs_tools.h"
#include "workspace/workspace.h"

namespace larkspur::pipeline {

struct ExtractOptions {
  // Extract a damaged file (a header checksum or check value that does not
  // hold, a chain of blocks that breaks) anyway, with a warning for each
  // damaged block, instead of refusing it.
  bool accept_damaged = false;
  // Called on the run's thread once the file is mapped and known to be the
  // one opened, as the work (stripping, carving, unpacking) begins: an
  // error before it ends the start of the Extract, one after it the work,
  // which the user interfaces show in different boxes.
  std::function<void()> work_begins;
};

// The whole Extract of `file` under `model`: maps the file (refused when it
// is gone, empty or changed since Open; throws what port::FileView::Open
// throws); logs "正在定位文件.   ", checks the blocks (a header, the whole
// chain, the model, every header checksum and check value), strips the
// headers, logs their count and finds where the partition starts by its
// content (refused with the line that names the cause, a damaged block by
// its number, offset and the values expected and found; nothing written);
// then writes the partition image and unpacks it, with its closing lines.
// Refusals are returned, not logged. The progress of the unpacking tool
// goes to `reporter`.
//
// All or nothing: kDone once the image, the tree and their records stand;
// kFailed when the unpacking tool failed, and Error thrown when the disk or
// the system failed, with every file and folder put back as it was. One
// partial result: a FAT image whose files cannot be put in a folder (a name
// the folder cannot hold, a loop, a FAT32 volume) is kDone with
// `folder_left_out`, and there is no folder uda.
//
// `file` is the caller's: the run reads its layout again when `model` reads
// blocks of another format, and marks it stripped once its headers are
// stripped, so that a second Extract without a new Open finds none left and
// carves the same bytes again.
Outcome Extract(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                const ExtractOptions& options = {});

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_EXTRACT_H_
