// One Extract or Repack of an opened file as the user interfaces run it:
// the window's worker and the command line. A run holds the program
// folder's run lock from its start to its end, whatever happens, and an
// error that ends it becomes the box that shows it and the log line after
// the box, by one rule for both.
//
// Callable from any thread; one run at a time in a program folder (the lock
// refuses the others).
#ifndef LARKSPUR_APP_PIPELINE_RUN_H_
#define LARKSPUR_APP_PIPELINE_RUN_H_

#include <exception>
#include <optional>

#include "app/run_reports.h"
#include "pipeline/extract.h"
#include "pipeline/opened_file.h"
#include "pipeline/repack.h"
#include "pipeline/reporter.h"
#include "pipeline/rofs_tools.h"
#include "workspace/workspace.h"

namespace larkspur {

enum class RunCommand { kExtract, kRepack };

struct RunRequest {
  RunCommand command = RunCommand::kExtract;
  int model = 0;  // the selector's item whose profile the run works under
  pipeline::ExtractOptions extract;
  pipeline::RepackOptions repack;
};

// How a run ended.
struct RunEnd {
  // How the pipeline ended it; kFailed when an error did. A refusal is not
  // logged yet: the caller logs it with the run's other lines.
  pipeline::Outcome outcome;
  // What a Repack leaves besides its files.
  pipeline::ObeyListing obey;
  bool short_first_block_written = false;
  // The error that ended the run: the box that shows it, and the line the
  // log gets after the box (the reason, and what became of the program
  // folder).
  std::optional<ErrorBox> error_box;
  std::optional<pipeline::Text> error_line;
};

// Runs `request` on `file` on the calling thread; `file` changes as the
// command changes it (see pipeline::Extract). First takes the program
// folder's run lock, which puts back what an interrupted run left; a run
// that cannot take it is refused with the line that says why. The lock is
// given back before this returns.
//
// Never throws. An error that ends the run is shown by this rule: one that
// ends a Repack, or the start of an Extract (the file mapped and checked
// again), in the error box of a command, as the window shows an error of a
// command on its own thread; one that ends Extract's work (stripping,
// carving, unpacking) in the worker's "Application Error" box.
RunEnd RunPipeline(const RunRequest& request, pipeline::OpenedFile& file, const Workspace& workspace,
                   pipeline::RofsTools& tools, pipeline::Reporter& reporter);

// The end of a run that `error` ended, in the box of Extract's work
// (`in_extract_work`) or of a command.
RunEnd RunEndedBy(std::exception_ptr error, bool in_extract_work, const Workspace& workspace);

}  // namespace larkspur

#endif  // LARKSPUR_APP_PIPELINE_RUN_H_
