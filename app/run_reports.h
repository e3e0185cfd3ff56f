// How the user interfaces show what the pipeline reports: its texts said in
// the language in force, the error box's message, and the "Application
// Error" report of an error that ended a run. The window (TForm1) and the
// command line share them, so both show the same words. Callable from any
// thread.
#ifndef LARKSPUR_APP_RUN_REPORTS_H_
#define LARKSPUR_APP_RUN_REPORTS_H_

#include <exception>
#include <functional>
#include <string>

#include "app/window.h"
#include "pipeline/reporter.h"

namespace larkspur {

// The application's title: the error box's and every other box's title but
// the worker's "Application Error".
inline constexpr char kApplicationTitle[] = "Marrowby";

// A pipeline text in the language in force.
std::string SayText(const pipeline::Text& text);

// A Reporter that says the texts and hands the finished lines on.
class SayingReporter : public pipeline::Reporter {
 public:
  using Sink = std::function<void(const std::string&)>;
  using Question = std::function<bool(const std::string&)>;
  // `log` gets each line; `progress` each report ("" when it goes away);
  // `unable_to_run` the text of the "Unable to run " box and returns when
  // it has been dismissed; `confirm` a question, and answers it (No when
  // not given).
  SayingReporter(Sink log, Sink progress, Sink unable_to_run, Question confirm = nullptr);

  void Log(const pipeline::Text& line) override;
  void Progress(const std::optional<pipeline::Text>& report) override;
  void UnableToRun(const std::string& text) override;
  bool Confirm(const pipeline::Text& question) override;

 private:
  Sink log_, progress_, unable_to_run_;
  Question confirm_;
};

// The message of the error box: a full stop is added when the message's
// last character sorts after it, as the old program's boxes did.
std::string WithFullStop(std::string message);

// The text of the "Application Error" box for an error that ended a run:
// "Exception <class> in module larkspur at <address>.\r\n<message>.\r\n".
std::string ApplicationErrorText(std::exception_ptr error);

// The message of `error`, ending in a full stop.
std::string ErrorMessageOf(std::exception_ptr error);

// A message box that shows an error.
struct ErrorBox {
  std::string title;
  std::string text;
  MessageIcon icon = MessageIcon::kError;
};

// The two boxes an error can end in (which one, pipeline_run.h decides for
// a run). The error box of a command: the error's message with control
// characters escaped, as every line names a path, and a full stop, titled
// with the application title. The worker's box: "Application Error", with
// ApplicationErrorText.
ErrorBox CommandErrorBox(std::exception_ptr error);
ErrorBox WorkerErrorBox(std::exception_ptr error);

}  // namespace larkspur

#endif  // LARKSPUR_APP_RUN_REPORTS_H_
