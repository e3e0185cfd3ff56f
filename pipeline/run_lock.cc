#include "pipeline/run_lock.h"

#include <exception>

#include "port/folders.h"
#include "workspace/transaction.h"

namespace larkspur::pipeline {

TakenLock TakeRunLock(const Workspace& workspace) {
  TakenLock taken;
  Text reason("另一个解包或打包持有它的锁");
  try {
    taken.lock = port::RunLock::TryTake(workspace.folder());
  } catch (const std::exception& error) {
    reason = std::string(error.what());
  }
  if (!taken.lock) {
    taken.refusal = Text("错误: 本程序文件夹 %1 正被另一个解包或打包使用 (%2), 请等它结束后再试. 未生成任何文件.",
                         {workspace.folder(), reason});
    return taken;
  }
  // A run that ended half way (a crash, the power gone) left its journal:
  // what it changed goes back before this run looks at anything.
  try {
    RecoverInterruptedRun(workspace);
  } catch (const std::exception& error) {
    taken.lock.reset();
    taken.refusal = Text("错误: 上一次中断的运行留下的文件无法恢复 (%1), 未生成任何文件.", {std::string(error.what())});
  }
  return taken;
}

Text FailedRunText(const Workspace& workspace, const std::string& reason) {
  const std::string journal = workspace.Path(kJournalName);
  if (port::PathExists(journal)) {
    return Text("错误: %1 本次运行的改动没能全部撤销, 下次解包或打包开始时会先恢复 (%2). 未生成任何文件.",
                {reason, journal});
  }
  return Text("错误: %1 程序文件夹已恢复到本次运行之前的样子, 未生成任何文件.", {reason});
}

}  // namespace larkspur::pipeline
