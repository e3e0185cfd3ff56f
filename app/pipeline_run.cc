#include "app/pipeline_run.h"

#include <utility>

#include "pipeline/run_lock.h"

namespace larkspur {

RunEnd RunPipeline(const RunRequest& request, pipeline::OpenedFile& file, const Workspace& workspace,
                   pipeline::RofsTools& tools, pipeline::Reporter& reporter) {
  RunEnd end;
  // Held until this returns: every way out gives it back.
  pipeline::TakenLock taken = pipeline::TakeRunLock(workspace);
  if (!taken.lock) {
    end.outcome = pipeline::Outcome::Refused(std::move(*taken.refusal));
    return end;
  }
  bool in_extract_work = false;
  try {
    if (request.command == RunCommand::kExtract) {
      pipeline::ExtractOptions options = request.extract;
      options.work_begins = [&in_extract_work] { in_extract_work = true; };
      end.outcome = pipeline::Extract(file, request.model, workspace, tools, reporter, options);
    } else {
      pipeline::RepackResult result =
          pipeline::Repack(file, request.model, workspace, tools, reporter, request.repack);
      end.outcome = std::move(result.outcome);
      end.obey = std::move(result.obey);
      end.short_first_block_written = result.short_first_block_written;
    }
  } catch (...) {
    // The run's changes were put back as the error left the pipeline, so
    // the line after the box can say what became of the program folder.
    return RunEndedBy(std::current_exception(), in_extract_work, workspace);
  }
  return end;
}

RunEnd RunEndedBy(std::exception_ptr error, bool in_extract_work, const Workspace& workspace) {
  RunEnd end;
  end.outcome = pipeline::Outcome::Failed();
  end.error_box = in_extract_work ? WorkerErrorBox(error) : CommandErrorBox(error);
  end.error_line = pipeline::FailedRunText(workspace, ErrorMessageOf(error));
  return end;
}

}  // namespace larkspur
