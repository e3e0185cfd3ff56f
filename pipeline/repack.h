// Repack: rebuilds the partition image of an opened firmware file from what
// the user edited (for ROFS: the obey file of rofs2, then the build tool;
// for UDA: the folder uda rebuilt into fat16.img when it changed, or
// fat16.img as edited), cuts it into blocks behind fresh headers with
// consecutive load addresses, and writes REB-<name> into the program folder.
//
// One call on the caller's thread: the window's worker, the command line
// and the benchmark call Repack alike. The run holds the program folder's
// run lock.
#ifndef LARKSPUR_PIPELINE_REPACK_H_
#define LARKSPUR_PIPELINE_REPACK_H_

#include <string>
#include <vector>

#include "pipeline/opened_file.h"
#include "pipeline/reporter.h"
#include "pipeline/rofs_tools.h"
#include "workspace/transaction.h"
#include "workspace/workspace.h"

namespace larkspur::pipeline {

// What the obey file step found and wrote.
struct ObeyListing {
  std::vector<std::string> files;  // relative paths ("rofs2\..."), in the order found
  std::vector<std::string> lines;  // the lines of the obey file
};

enum class ExtendEraseArea { kNo, kYes, kAsk };

struct RepackOptions {
  // The closing line names the program folder (one given with --home)
  // rather than saying "the program's folder".
  bool name_program_folder = false;
  // The bytes in front of the ROFS header in the payload are the source's
  // (a signed image's header), not zeros.
  bool keep_lead = false;
  // A payload that runs past the end of the erase area of the table of
  // contents that holds it: refused (kNo), or the area's end moved to hold
  // it (kYes), or the user asked through the reporter (kAsk).
  ExtendEraseArea extend_erase_area = ExtendEraseArea::kNo;
  // When given: a flashable copy of the input's package folder is written
  // there (every file of the input's folder, the REB- file under the
  // input's name, the checksum list rewritten). Refused when it exists and
  // is not an empty folder.
  std::string package_to;
};

// What a Repack leaves for its caller besides the files it wrote.
struct RepackResult {
  Outcome outcome;
  ObeyListing obey;  // ROFS only
  // The N96's short first block was written.
  bool short_first_block_written = false;
};

// The whole Repack of `file` under `model`, ending with its closing lines.
// Refusals are returned, not logged. Throws Error when a file cannot be
// read or written (nothing is then left under the output's name).
RepackResult Repack(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                    const RepackOptions& options = {});

// Its steps. The files they write go aside first in `transaction`.

// Lists rofs2 into temp/rofs2.obey with the kept hidden entries and
// attributes, logging "正在创建 obey 文件.    " and "完成!    ". With
// `source` (the record of the extracted image), the image's version,
// maximum size and time stamp are kept (the time only while
// SOURCE_DATE_EPOCH does not set one), and the log says which. Refused
// when a folder cannot be listed or a name cannot go into the obey file
// (each logged with its path).
Outcome WriteObeyFile(const Workspace& workspace, Reporter& reporter, ObeyListing& listing, Transaction& transaction,
                      const TreeSource* source = nullptr);

// Runs the build tool on the obey file and moves its image into temp, with
// the pauses around the move. kFailed when the tool failed (its reason and
// last lines logged); throws FileCreateError when the image cannot be moved.
Outcome BuildRofsImage(const Workspace& workspace, RofsTools& tools, Reporter& reporter, Transaction& transaction);

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_REPACK_H_
