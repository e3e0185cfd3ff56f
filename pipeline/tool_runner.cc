#include "pipeline/tool_runner.h"

#include <cstdio>

#include "port/files.h"

namespace larkspur {
namespace {

std::string DescribeByteCount(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  // 1023.95 KiB would round to "1024.0 KiB": the next unit reads better.
  while (value >= 1023.95 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

port::ProcessOutcome RunTool(const std::string& command_line, bool wait,
                             const UnableToRunBox& unable_to_run,
                             const port::ProgressCallback& progress) {
  port::ProcessOutcome outcome = port::RunCommandLine(command_line, wait, progress);
  if (!outcome.started && unable_to_run) unable_to_run("Unable to run " + command_line);
  return outcome;
}

port::ProcessOutcome RunInToolFolder(const std::string& program_folder,
                                     const std::string& command_line,
                                     const UnableToRunBox& unable_to_run,
                                     const port::ProgressCallback& progress) {
  // The tools name their files relative to the tool folder ("../rofs2"), so
  // started from anywhere else, a tool found there or on the search path
  // would write beside the wrong folder: without the tool folder nothing runs.
  const std::string tool_folder = port::JoinPath(program_folder, "exebat");
  port::ProcessOutcome outcome;
  if (!port::SetCurrentDirectory(tool_folder)) {
    outcome.reason = "the tool folder " + tool_folder +
                     (port::IsDirectory(tool_folder) ? " cannot be entered" : " is missing");
    if (unable_to_run) unable_to_run("Unable to run " + command_line);
    port::SetCurrentDirectory(program_folder);
    return outcome;
  }
  // Going back to the program folder cannot fail in a way that matters: the
  // program names every file of its own by its full path.
  try {
    outcome = RunTool(command_line, true, unable_to_run, progress);
  } catch (...) {
    port::SetCurrentDirectory(program_folder);
    throw;
  }
  port::SetCurrentDirectory(program_folder);
  return outcome;
}

Text ExitStatusText(int status) { return Text("退出状态 %1", {std::to_string(status)}); }

Text DescribeOutcome(const port::ProcessOutcome& outcome) {
  if (!outcome.started) return Text("无法启动 (%1)", {outcome.reason});
  if (!outcome.waited) return Text("没有等待它结束");
  if (outcome.signal != 0) return Text("被信号 %1 终止", {std::to_string(outcome.signal)});
  return ExitStatusText(outcome.exit_status);
}

std::vector<std::string> LastOutputLines(const port::ProcessOutcome& outcome, std::size_t count) {
  std::vector<std::string> lines;
  std::string_view rest = outcome.output_tail;
  while (!rest.empty() && lines.size() < count) {
    std::size_t end = rest.size();
    while (end > 0 && (rest[end - 1] == '\n' || rest[end - 1] == '\r')) --end;
    rest = rest.substr(0, end);
    if (rest.empty()) break;
    const std::size_t start = rest.find_last_of("\r\n");
    const std::size_t from = start == std::string_view::npos ? 0 : start + 1;
    std::string line(rest.substr(from));
    while (!line.empty() && (line.back() == ' ' || line.back() == '\t')) line.pop_back();
    if (!line.empty()) lines.insert(lines.begin(), std::move(line));
    rest = rest.substr(0, from);
  }
  return lines;
}

Text DescribeProgress(const port::ProgressReport& report) {
  if (report.kind == port::kProgressBytes) {
    return Text("字节 %1/%2", {DescribeByteCount(report.done), DescribeByteCount(report.total)});
  }
  const std::string done = std::to_string(report.done), total = std::to_string(report.total);
  if (report.kind == port::kProgressFiles) return Text("文件 %1/%2", {done, total});
  return Text("%1 %2/%3", {report.kind, done, total});
}

bool Succeeded(const port::ProcessOutcome& outcome) {
  return outcome.started && outcome.waited && outcome.signal == 0 && outcome.exit_status == 0;
}

}  // namespace larkspur
