#include "workspace/transaction.h"

#include <algorithm>

#include "base/hex.h"
#include "port/errors.h"
#include "port/files.h"
#include "port/folders.h"

namespace larkspur {
namespace {

constexpr char kJournalHeading[] = "larkspur journal 1";
constexpr char kHeldSuffix[] = ".held";

// Paths in the journal: bytes that would end a word or a line as %XX.
std::string Escape(std::string_view path) {
  std::string escaped;
  for (const char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= 0x20 || byte == '%' || byte == 0x7F) {
      escaped += "%" + HexDigits(byte, 2);
    } else {
      escaped += c;
    }
  }
  return escaped;
}

std::optional<std::string> Unescape(std::string_view text) {
  std::string path;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      path += text[i];
      continue;
    }
    if (i + 2 >= text.size()) return std::nullopt;
    const auto digit = [](char c) -> int {
      if (c >= '0' && c <= '9') return c - '0';
      if (c >= 'A' && c <= 'F') return c - 'A' + 10;
      return -1;
    };
    const int high = digit(text[i + 1]), low = digit(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    path += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return path;
}

}  // namespace

Transaction::Transaction(const Workspace& workspace) : workspace_(workspace) {}

Transaction::~Transaction() {
  if (!open_) return;
  try {
    Rollback();
  } catch (...) {
    // What could not be put back stays in the journal for the next run.
  }
}

std::string Transaction::HeldPath(std::string_view relative) const {
  return workspace_.Path(std::string(relative) + kHeldSuffix);
}

bool Transaction::Replaced(std::string_view relative) const {
  return std::any_of(steps_.begin(), steps_.end(),
                     [&](const Step& step) { return step.kind != Step::kMoved && step.path == relative; });
}

void Transaction::WriteJournal() const {
  std::string text = std::string(kJournalHeading) + "\n";
  for (const Step& step : steps_) {
    switch (step.kind) {
      case Step::kAside:
        text += "aside " + Escape(step.path) + "\n";
        break;
      case Step::kNew:
        text += "new " + Escape(step.path) + "\n";
        break;
      case Step::kMoved:
        text += "moved " + Escape(step.path) + " " + Escape(step.to) + "\n";
        break;
    }
  }
  port::WriteFileReplacing(workspace_.Path(kJournalName), {text});
}

void Transaction::Replace(std::string_view relative) {
  if (Replaced(relative)) return;
  const std::string path = workspace_.Path(relative);
  if (!port::PathExists(path)) {
    steps_.push_back({Step::kNew, std::string(relative), ""});
    WriteJournal();
    return;
  }
  const std::string held = HeldPath(relative);
  // An earlier content a committed run could not remove is stale.
  port::RemoveTree(held);
  // The journal says the path is aside before it is: a run ended in
  // between finds the earlier content still in place, and leaves it.
  steps_.push_back({Step::kAside, std::string(relative), ""});
  WriteJournal();
  port::MoveFolder(path, held);
}

std::optional<std::string> Transaction::Earlier(std::string_view relative) const {
  for (const Step& step : steps_) {
    if (step.kind == Step::kAside && step.path == relative) return HeldPath(relative);
  }
  return std::nullopt;
}

void Transaction::KeepEarlierAs(std::string_view relative, std::string_view keep_as) {
  if (!Earlier(relative)) return;
  Replace(keep_as);
  steps_.push_back({Step::kMoved, std::string(relative), std::string(keep_as)});
  WriteJournal();
  port::MoveFolder(HeldPath(relative), workspace_.Path(keep_as));
}

void Transaction::Commit() {
  const std::string journal = workspace_.Path(kJournalName);
  // The journal's removal is the commit: until then the next run would put
  // the earlier state back.
  if (!port::DeleteFile(journal) && port::PathExists(journal)) {
    const std::string reason = "the journal of the run cannot be removed";
    Rollback();
    throw FileCreateError(journal, reason);
  }
  open_ = false;
  for (const Step& step : steps_) {
    if (step.kind != Step::kAside) continue;
    // Gone already when it was kept under another name. One that cannot be
    // removed now is removed when its path is next replaced.
    try {
      port::RemoveTree(HeldPath(step.path));
    } catch (const Error&) {
    }
  }
  steps_.clear();
}

void Transaction::Rollback() {
  open_ = false;
  bool all_back = true;
  for (auto step = steps_.rbegin(); step != steps_.rend(); ++step) {
    const std::string path = workspace_.Path(step->path);
    const std::string held = HeldPath(step->path);
    try {
      switch (step->kind) {
        case Step::kMoved: {
          const std::string to = workspace_.Path(step->to);
          if (port::PathExists(to) && !port::PathExists(held)) port::MoveFolder(to, held);
          break;
        }
        case Step::kAside:
          // Only what was really put aside comes back.
          if (port::PathExists(held)) {
            port::RemoveTree(path);
            port::MoveFolder(held, path);
          }
          break;
        case Step::kNew:
          port::RemoveTree(path);
          break;
      }
    } catch (const Error&) {
      all_back = false;
    }
  }
  if (all_back) {
    port::DeleteFile(workspace_.Path(kJournalName));
    steps_.clear();
  }
}

void RecoverInterruptedRun(const Workspace& workspace) {
  const std::optional<std::string> journal = workspace.ReadRecord(kJournalName);
  if (!journal) return;
  const std::string journal_path = workspace.Path(kJournalName);
  std::vector<std::string_view> lines;
  std::string_view rest = *journal;
  while (!rest.empty()) {
    const std::size_t end = rest.find('\n');
    lines.push_back(rest.substr(0, end));
    rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
  }
  if (lines.empty() || lines.front() != kJournalHeading) {
    throw FileOpenError(journal_path, "it is not the journal of a run of this program");
  }
  // The steps are undone as the transaction would undo them.
  Transaction interrupted(workspace);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    const std::string_view line = lines[i];
    const std::size_t blank = line.find(' ');
    const std::string_view word = line.substr(0, blank);
    const std::string_view operands = blank == std::string_view::npos ? "" : line.substr(blank + 1);
    const std::size_t second = operands.find(' ');
    const std::optional<std::string> path = Unescape(operands.substr(0, second));
    const std::optional<std::string> to =
        second == std::string_view::npos ? std::optional<std::string>("") : Unescape(operands.substr(second + 1));
    if (!path || !to || path->empty() || (word == "moved") == to->empty()) {
      throw FileOpenError(journal_path, "line " + std::to_string(i + 1) + " is damaged");
    }
    if (word == "aside") {
      interrupted.steps_.push_back({Transaction::Step::kAside, *path, ""});
    } else if (word == "new") {
      interrupted.steps_.push_back({Transaction::Step::kNew, *path, ""});
    } else if (word == "moved") {
      interrupted.steps_.push_back({Transaction::Step::kMoved, *path, *to});
    } else {
      throw FileOpenError(journal_path, "line " + std::to_string(i + 1) + " is damaged");
    }
  }
  interrupted.Rollback();
  if (port::PathExists(journal_path)) {
    throw FileCreateError(journal_path, "what an interrupted run changed cannot all be put back");
  }
}

}  // namespace larkspur
