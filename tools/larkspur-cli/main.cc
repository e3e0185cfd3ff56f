// larkspur-cli: the window's Extract and Repack without a window, and a
// reader of firmware files' headers. Runs the same pipeline as the window,
// with the same texts.
#include <filesystem>
#include <iostream>

#include "app/pipeline_run.h"
#include "app/run_reports.h"
#include "app/texts.h"
#include "app/tform1.h"
#include "base/hex.h"
#include "diff/diff_json.h"
#include "diff/firmware_diff.h"
#include "fat/fat_reader.h"
#include "format/firmware_check.h"
#include "format/firmware_layout.h"
#include "format/load_file_bytes.h"
#include "format/partition.h"
#include "pipeline/difference_report.h"
#include "pipeline/opened_file.h"
#include "pipeline/rofs_tools.h"
#include "port/console.h"
#include "port/files.h"
#include "port/process.h"
#include "tools/larkspur-cli/cli_options.h"
#include "tools/larkspur-cli/firmware_report.h"
#include "tools/larkspur-cli/package_checksums.h"
#include "workspace/workspace.h"

namespace larkspur {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
// diff: the two files differ; they cannot be compared (as cmp and diff say).
constexpr int kExitDiffer = 1;
constexpr int kExitNotComparable = 2;
// Extract of a UDA file done, its folder uda left out (what the image holds
// cannot be put in a folder): fat16.img is the one to edit.
constexpr int kExitFolderLeftOut = 3;

std::string AbsolutePath(const std::string& path) {
  return port::PathText(std::filesystem::absolute(port::FileSystemPath(path)).lexically_normal());
}

std::string HomeFolder(const CliOptions& options) {
  if (options.home.empty()) return port::ExecutableFolder();
  std::string home = AbsolutePath(options.home);
  if (home.back() != port::kPathSeparator) home += port::kPathSeparator;
  return home;
}

// Progress reports on a terminal's standard error, each over the one before.
class TerminalProgress {
 public:
  explicit TerminalProgress(bool shown) : shown_(shown) {}
  ~TerminalProgress() {
    if (shown_) std::cerr << '\r' << std::string(kWidth, ' ') << '\r' << std::flush;
  }
  void Show(const std::string& text) const {
    if (!shown_) return;
    // Over the report before, blanking what is left of a longer one.
    std::cerr << '\r' << text << std::string(text.size() < kWidth ? kWidth - text.size() : 0, ' ') << '\r'
              << std::flush;
  }

 private:
  static constexpr std::size_t kWidth = 60;
  bool shown_;
};

// A message box, as the command line shows it: its title in brackets, then
// its text, on standard error.
void ShowBox(const std::string& title, const std::string& text) {
  std::cerr << "[" << title << "] " << text << '\n' << std::flush;
}

// Extract or Repack of FILE, with the window's log lines on standard output
// and its message boxes on standard error; an error that ends it shows in
// the box the window would show it in (RunPipeline).
int RunPipelineCommand(const CliOptions& options) {
  const Workspace workspace(HomeFolder(options));
  const TerminalProgress progress(port::StandardErrorIsTerminal());
  SayingReporter reporter([](const std::string& line) { std::cout << line << '\n'
                                                                  << std::flush; },
                          [&progress](const std::string& text) { progress.Show(text); },
                          [](const std::string& text) { ShowBox(kApplicationTitle, text); });
  // Without --model no item is selected and the first profile is in force,
  // as in the window.
  const int model = options.model.value_or(0);
  pipeline::OpenedFile file;
  try {
    file = pipeline::OpenFirmware(AbsolutePath(options.file), KindFromName(options.kind), model, reporter);
  } catch (const std::exception&) {
    const ErrorBox box = CommandErrorBox(std::current_exception());
    ShowBox(box.title, box.text);
    return kExitFailed;
  }
  RunRequest request;
  request.command = options.command == CliOptions::Command::kExtract ? RunCommand::kExtract : RunCommand::kRepack;
  request.model = model;
  request.extract.accept_damaged = options.accept_damaged;
  request.repack.name_program_folder = !options.home.empty();
  request.repack.keep_lead = options.keep_lead;
  if (!options.package_to.empty()) request.repack.package_to = AbsolutePath(options.package_to);
  request.repack.extend_erase_area =
      options.extend_erase_area ? pipeline::ExtendEraseArea::kYes : pipeline::ExtendEraseArea::kNo;
  pipeline::ExternalRofsTools tools;
  const RunEnd end = RunPipeline(request, file, workspace, tools, reporter);
  if (end.error_box) {
    ShowBox(end.error_box->title, end.error_box->text);
    reporter.Log(*end.error_line);
    return kExitFailed;
  }
  const pipeline::Outcome& outcome = end.outcome;
  if (outcome.refusal) reporter.Log(*outcome.refusal);
  if (outcome.done() && outcome.folder_left_out) return kExitFolderLeftOut;
  return outcome.done() ? kExitDone : kExitFailed;
}

// What the FAT volume of a UDA file holds: type, label, clusters, space;
// read from where `check` says it starts, as Extract takes it (the boot
// sector, or without one the first E9 00 90).
void PrintFatVolume(std::ostream& out, std::string_view file, const FirmwareLayout& layout,
                    const FirmwareCheck& check) {
  if (!layout.HasHeader()) return;
  std::string payload;
  if (layout.chain_intact) {
    for (const LayoutBlock& block : layout.blocks) {
      payload.append(
          file.substr(block.header_offset + static_cast<std::size_t>(layout.header_size), block.payload_length));
    }
  }
  const auto start = check.boot_sector_offset ? check.boot_sector_offset : check.magic_offset;
  if (!start || *start >= payload.size()) {
    out << SayText(Text("文件系统:       没有找到 (载荷开头没有 FAT 引导扇区)")) << '\n';
    return;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.data()) + *start;
  try {
    const fat::FatVolume volume = fat::ParseFatImage({bytes, payload.size() - *start}, "the FAT image");
    for (const Text& line : fat::DescribeFatVolume(volume)) out << SayText(line) << '\n';
  } catch (const std::exception& error) {
    // The reader's reason names the offset and the bytes: quoted as it is.
    out << SayText(Text("文件系统:       已损坏: %1", {std::string(error.what())})) << '\n';
  }
}

int RunCheck(const CliOptions& options) {
  ByteString file;
  const std::string path = AbsolutePath(options.file);
  if (!LoadFileBytes(path, file)) {
    std::cerr << "larkspur-cli: "
              << SayText(Text("%1: %2", {path, port::IsRegularFile(path)  ? Text("文件是空的")
                                               : port::IsDirectory(path) ? Text("是文件夹, 不是文件")
                                                                         : Text("没有这个文件")}))
              << '\n';
    return kExitFailed;
  }
  const PartitionKind kind = KindFromName(options.kind).value_or(KindOfPath(port::FileNamePart(path)));
  const int model = options.model.value_or(0);
  const FirmwareCheck check = CheckFirmware(file, kind, BlockFormatOf(model, kind), true);
  if (options.command == CliOptions::Command::kInfo) {
    std::cout << SayText(Text("文件:           %1", {path})) << '\n';
    PrintInfo(std::cout, check);
    const std::vector<int> fitting = ModelsThatFit(file, kind);
    std::cout << SayText(Text("适合的手机型号: %1", {fitting.empty() ? Text("无") : ModelNames(fitting)})) << '\n';
    if (kind == PartitionKind::kUda) {
      PrintFatVolume(std::cout, file, ReadFirmwareLayout(file, BlockFormatOf(model, kind)), check);
    }
    const bool list_agrees = PrintPackageChecksum(std::cout, path);
    // As verify: a file without headers, or with a wrong one, is no pass;
    // nor is one the package's checksum list gives another CRC.
    return check.AllRight() && list_agrees ? kExitDone : kExitFailed;
  }
  PrintProblems(std::cout, check);
  const bool list_agrees = PrintPackageChecksum(std::cout, path, true);
  return check.AllRight() && list_agrees ? kExitDone : kExitFailed;
}

// What NEW changes against OLD, as lines in the language in force or as
// JSON; nothing is unpacked or written.
int RunDiff(const CliOptions& options) {
  const std::string old_path = AbsolutePath(options.file);
  const std::string new_path = AbsolutePath(options.new_file);
  diff::FirmwareDifference difference;
  try {
    difference = diff::CompareFirmwareFiles(old_path, new_path, KindFromName(options.kind), options.model);
  } catch (const std::exception& error) {
    std::cerr << "larkspur-cli: cannot compare " << old_path << " and " << new_path << ": " << error.what() << '\n';
    if (options.json) std::cout << diff::ErrorJson(error.what());
    return kExitNotComparable;
  }
  const int status = !difference.partition_problem.empty() ? kExitNotComparable
                     : difference.same()                   ? kExitDone
                                                           : kExitDiffer;
  if (options.json) {
    std::cout << diff::DiffJson(difference, old_path, new_path);
    return status;
  }
  std::cout << Say("比较 %1 和 %2 (%3, %4):", {old_path, new_path, KindName(difference.kind),
                                               Say(ModelItemText(difference.model))})
            << '\n';
  if (old_path == new_path && difference.same()) {
    std::cout << Say("两个路径是同一个文件 (%1), 没有差别.", {old_path}) << '\n';
    return status;
  }
  for (const pipeline::Text& line : pipeline::ReportLines(difference)) std::cout << SayText(line) << '\n';
  return status;
}

int Main(const std::vector<std::string>& arguments) {
  CliOptions options;
  try {
    options = ParseCliOptions(arguments);
  } catch (const UsageError& error) {
    std::cerr << "larkspur-cli: " << error.what() << "\n\n" << kCliUsage;
    return kExitUsage;
  }
  SetLanguage(options.lang.empty() ? SystemLanguage() : *ParseLanguageOption(options.lang));
  try {
    switch (options.command) {
      case CliOptions::Command::kHelp:
        std::cout << kCliUsage;
        return kExitDone;
      case CliOptions::Command::kVersion:
        std::cout << "larkspur-cli " << kVersion << '\n';
        return kExitDone;
      case CliOptions::Command::kExtract:
      case CliOptions::Command::kRepack:
        return RunPipelineCommand(options);
      case CliOptions::Command::kInfo:
      case CliOptions::Command::kVerify:
        return RunCheck(options);
      case CliOptions::Command::kDiff:
        return RunDiff(options);
    }
  } catch (const std::exception& error) {
    std::cerr << "larkspur-cli: " << ControlCharactersEscaped(error.what()) << '\n';
  }
  return kExitFailed;
}

}  // namespace
}  // namespace larkspur

int main(int argc, char** argv) {
  // UTF-8, from the wide command line on Windows: paths in any script.
  return larkspur::Main(larkspur::port::ProgramArguments(argc, argv));
}
