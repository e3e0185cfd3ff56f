#include "app/run_reports.h"

#include <cstdio>
#include <vector>

#include "app/texts.h"
#include "base/hex.h"
#include "port/errors.h"

namespace larkspur {

std::string SayText(const pipeline::Text& text) {
  if (text.literal) return ControlCharactersEscaped(text.key);
  std::vector<std::string> values;
  values.reserve(text.values.size());
  for (const pipeline::Text& value : text.values) values.push_back(SayText(value));
  return Say(text.key, std::span<const std::string>(values));
}

SayingReporter::SayingReporter(Sink log, Sink progress, Sink unable_to_run, Question confirm)
    : log_(std::move(log)),
      progress_(std::move(progress)),
      unable_to_run_(std::move(unable_to_run)),
      confirm_(std::move(confirm)) {}

void SayingReporter::Log(const pipeline::Text& line) { log_(SayText(line)); }

void SayingReporter::Progress(const std::optional<pipeline::Text>& report) {
  progress_(report ? SayText(*report) : "");
}

void SayingReporter::UnableToRun(const std::string& text) { unable_to_run_(text); }

bool SayingReporter::Confirm(const pipeline::Text& question) { return confirm_ && confirm_(SayText(question)); }

std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

namespace {

struct ErrorParts {
  std::string class_name = "Exception";
  std::string message;
};

ErrorParts PartsOf(std::exception_ptr error) {
  ErrorParts parts;
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    parts.class_name = e.ClassName();
    parts.message = e.what();
  } catch (const std::exception& e) {
    parts.message = e.what();
  } catch (...) {
    parts.message = "unknown error";
  }
  return parts;
}

}  // namespace

std::string ApplicationErrorText(std::exception_ptr error) {
  ErrorParts parts = PartsOf(error);
  std::string& message = parts.message;
  if (!message.empty() && message.back() != '.') message += '.';
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&error));
  return "Exception " + parts.class_name + " in module larkspur at " + address + ".\r\n" + message + "\r\n";
}

std::string ErrorMessageOf(std::exception_ptr error) { return WithFullStop(PartsOf(error).message); }

ErrorBox CommandErrorBox(std::exception_ptr error) {
  return {kApplicationTitle, WithFullStop(ControlCharactersEscaped(PartsOf(error).message)), MessageIcon::kError};
}

ErrorBox WorkerErrorBox(std::exception_ptr error) {
  return {"Application Error", ApplicationErrorText(error), MessageIcon::kStop};
}

}  // namespace larkspur
