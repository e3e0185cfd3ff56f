// A run's changes to the program folder, all or nothing. Before the run
// changes a file or folder, what stands there is put aside ("<name>.held");
// the run then writes the new one in its place. Commit makes the new state
// the program folder's; a rollback (asked for, or when the transaction goes
// without a commit, as an exception unwinds) puts every earlier file and
// folder back exactly as it was and removes what the run made.
//
// Every step is first written into a journal ("larkspur.journal" in the
// program folder); its removal is the commit. A run that ended half way (a
// crash, the power gone) leaves the journal, and the next run puts back what
// it lists before it starts (RecoverInterruptedRun).
//
// For the one run that holds the program folder's lock; not thread-safe.
// Throws Error (FileCreateError, port::FolderError) naming the path when a
// step cannot be taken; the transaction is then still open and rolls back.
#ifndef LARKSPUR_WORKSPACE_TRANSACTION_H_
#define LARKSPUR_WORKSPACE_TRANSACTION_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "workspace/workspace.h"

namespace larkspur {

inline constexpr char kJournalName[] = "larkspur.journal";

class Workspace;
void RecoverInterruptedRun(const Workspace& workspace);

class Transaction {
 public:
  explicit Transaction(const Workspace& workspace);
  ~Transaction();  // rolls back when neither Commit nor Rollback ran; never throws

  Transaction(const Transaction&) = delete;
  Transaction& operator=(const Transaction&) = delete;

  // Before the run writes `relative` (a file or a folder): what stands
  // there now is put aside, so nothing stands there. A path replaced once
  // stays replaced; a second call does nothing.
  void Replace(std::string_view relative);

  // Where the earlier content of a replaced path waits, while the
  // transaction is open; nothing when nothing stood there.
  std::optional<std::string> Earlier(std::string_view relative) const;

  // The earlier content of the replaced `relative` stays, after the
  // commit, as `keep_as` (replaced first): the earlier tree as its
  // ".previous".
  void KeepEarlierAs(std::string_view relative, std::string_view keep_as);

  // The run's state becomes the program folder's; the earlier contents put
  // aside go. Throws when the journal cannot be removed: the transaction is
  // then rolled back.
  void Commit();

  // Puts back what was put aside and removes what the run made. Best
  // effort: what cannot be put back stays in the journal for the next run.
  void Rollback();

 private:
  struct Step {
    enum Kind { kAside, kNew, kMoved } kind;
    std::string path;  // relative
    std::string to;    // kMoved: relative
  };
  void WriteJournal() const;
  std::string HeldPath(std::string_view relative) const;
  bool Replaced(std::string_view relative) const;
  friend void RecoverInterruptedRun(const Workspace& workspace);

  const Workspace& workspace_;
  std::vector<Step> steps_;
  bool open_ = true;
};

// Puts back what a run that ended half way left, as its journal lists it,
// and removes earlier contents that a committed run left aside. Throws Error
// when it cannot: the program folder is then as the journal says, and the
// run must not start.
void RecoverInterruptedRun(const Workspace& workspace);

}  // namespace larkspur

#endif  // LARKSPUR_WORKSPACE_TRANSACTION_H_
