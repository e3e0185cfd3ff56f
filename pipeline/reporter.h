// What Extract and Repack tell the user while they run, and how a refusal
// is given: as texts of the catalog (app/texts.cc) with their values, never
// as finished lines, so the window and the command line say them in the
// language in force. The pipeline calls a Reporter on the thread it runs on;
// an implementation that shows the lines elsewhere hands them over itself.
#ifndef LARKSPUR_PIPELINE_REPORTER_H_
#define LARKSPUR_PIPELINE_REPORTER_H_

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur::pipeline {

// A text of the catalog (its Chinese form, %1..%9 standing for the values)
// and its values. A text the catalog does not hold (the separator line, a
// tool's own output) is shown as it is. A value is a literal (a path, a
// number: shown as it is) or a text of its own, said in the same language
// (a model's name).
struct Text {
  std::string key;
  std::vector<Text> values;
  bool literal = false;  // shown as it is, never looked up

  Text() = default;
  // The program's own text `key` (looked up in the catalog).
  Text(const char* key) : key(key) {}  // NOLINT: implicit, for values given as "..."
  // A literal: a std::string given as a value (a path, a number) is shown
  // as it is.
  Text(std::string value) : key(std::move(value)), literal(true) {}  // NOLINT: implicit on purpose
  Text(std::string_view key, std::initializer_list<Text> values) : key(key), values(values) {}

  bool operator==(const Text&) const = default;
};

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
