// One Extract or Repack at a time in a program folder: the lock a run takes
// before it changes anything there.
#ifndef LARKSPUR_PIPELINE_RUN_LOCK_H_
#define LARKSPUR_PIPELINE_RUN_LOCK_H_

#include <memory>
#include <optional>
#include <string>

#include "pipeline/reporter.h"
#include "port/run_lock.h"
#include "workspace/workspace.h"

namespace larkspur::pipeline {

struct TakenLock {
  std::unique_ptr<port::RunLock> lock;  // held until it goes
  std::optional<Text> refusal;          // why there is none
};

// Takes the lock of the program folder without waiting, and puts back what
// a run that ended half way left (see workspace/transaction.h). Refused
// when another run holds the lock or it cannot be tried, or when the
// interrupted run's changes cannot be put back (the reason said).
TakenLock TakeRunLock(const Workspace& workspace);

// The log line after a run that ended on an error (`reason`, shown in its
// box already): the run's changes were put back, so the program folder is
// as it was; or, when the rollback could not finish and left its journal,
// that the next run puts back the rest.
Text FailedRunText(const Workspace& workspace, const std::string& reason);

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_RUN_LOCK_H_
