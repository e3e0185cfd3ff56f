// What Extract and Repack tell the user while they run, and how a refusal
// is given: as texts of the catalog (app/texts.cc) with their values, never
// as finished lines, so the window and the command line say them in the
// language in force. The pipeline calls a Reporter on the thread it runs on;
// an implementation that shows the lines elsewhere hands them over itself.
#ifndef LARKSPUR_PIPELINE_REPORTER_H_
#define LARKSPUR_PIPELINE_REPORTER_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"

namespace larkspur::pipeline {

// The texts a run says (base/text.h).
using larkspur::JoinedTexts;
using larkspur::Text;

class Reporter {
 public:
  virtual ~Reporter() = default;
  // A line of the log.
  virtual void Log(const Text& line) = 0;
  // How far the running step is; nothing takes the report away.
  virtual void Progress(const std::optional<Text>& report) = 0;
  // The "Unable to run " box of a tool that could not be started (`text` is
  // the whole message); returns once the user has dismissed it.
  virtual void UnableToRun(const std::string& text) = 0;
  // A question with Yes and No, asked before something the user may not
  // want (a partition that grows past its erase area); true for Yes.
  virtual bool Confirm(const Text& question) = 0;
};

// How a run, or one of its steps, ended.
enum class Status {
  kDone,     // its closing lines were written (for a step: go on)
  kRefused,  // nothing was written; `refusal` says why
  kFailed,   // it ended without its closing lines; the log says why
};

struct Outcome {
  Status status = Status::kDone;
  std::optional<Text> refusal;
  // A file refused because it was not made for the model chosen: the
  // models (the selector's items) it fits.
  std::vector<int> models_that_fit;
  // Extract of a FAT image whose files could not be put in a folder: the
  // image and its records stand, the folder uda does not.
  bool folder_left_out = false;

  static Outcome Done() { return {}; }
  static Outcome Failed() { return {Status::kFailed, std::nullopt, {}, false}; }
  static Outcome Refused(Text line, std::vector<int> models_that_fit = {}) {
    return {Status::kRefused, std::move(line), std::move(models_that_fit), false};
  }
  bool done() const { return status == Status::kDone; }
};

// The separator line of the closing lines.
inline constexpr char kSeparatorLine[] = "=========================================================       ";

}  // namespace larkspur::pipeline

#endif  // LARKSPUR_PIPELINE_REPORTER_H_
