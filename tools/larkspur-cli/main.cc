// larkspur-cli: the window's Extract and Repack without a window, and a
// reader of firmware files' headers. Drives the same TForm1 handlers as the
// window, through the console window.
#include <filesystem>
#include <iostream>

#include "app/console_window.h"
#include "app/texts.h"
#include "app/tform1.h"
#include "format/firmware_check.h"
#include "fat/fat_reader.h"
#include "format/firmware_layout.h"
#include "format/partition.h"
#include "format/load_file_bytes.h"
#include "port/console.h"
#include "port/files.h"
#include "tools/larkspur-cli/cli_options.h"
#include "tools/larkspur-cli/firmware_report.h"

namespace larkspur {
namespace {

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

std::string AbsolutePath(const std::string& path) {
  return std::filesystem::absolute(std::filesystem::path(path)).lexically_normal().string();
}

std::string HomeFolder(const CliOptions& options) {
  if (options.home.empty()) return port::ExecutableFolder();
  std::string home = AbsolutePath(options.home);
  if (home.back() != port::kPathSeparator) home += port::kPathSeparator;
  return home;
}

// Runs a command as a user would in the window: Open with FILE, then the
// command, then waits for the workers.
int RunWindowCommand(const CliOptions& options) {
  ConsoleWindow window(&std::cout, &std::cerr);
  TForm1 form(window, HomeFolder(options));
  form.FormCreate();
  if (options.model) {
    window.SetSelectorIndex(*options.model);
    form.RunUiCommand([&] { form.ComboBox1Change(); });
  }
  form.KindOverride = options.kind;
  form.ProgramFolderGiven = !options.home.empty();
  window.QueueOpenDialogAnswer(AbsolutePath(options.file));
  form.RunUiCommand([&] { form.Open1Click(); });
  if (!window.messages.empty()) return kExitFailed;

  // Progress reports go to a terminal's standard error, each over the last.
  if (port::StandardErrorIsTerminal()) window.progress_stream = &std::cerr;
  if (options.command == CliOptions::Command::kExtract) {
    form.RunUiCommand([&] { form.Extract1Click(); });
  } else {
    form.RunUiCommand([&] { form.Repack1Click(); });
  }
  window.ServeUntil([&] { return !form.WorkersBusy(); });
  if (window.progress_stream) std::cerr << '\r' << std::string(60, ' ') << '\r' << std::flush;
  form.FormDestroy();
  return form.LastOutcome() == TForm1::Outcome::kDone ? kExitDone : kExitFailed;
}

// What the FAT volume of a UDA file holds: type, label, clusters, space.
void PrintFatVolume(std::ostream& out, std::string_view file, const FirmwareLayout& layout) {
  if (!layout.HasHeader()) return;
  std::string payload;
  if (layout.chain_intact) {
    for (const LayoutBlock& block : layout.blocks) {
      payload.append(file.substr(block.header_offset + static_cast<std::size_t>(layout.header_size), block.payload_length));
    }
  }
  const auto boot_sector = FindFatBootSector(payload);
  if (!boot_sector) {
    out << "file system:    none found (no FAT boot sector at the start of the payload)\n";
    return;
  }
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(payload.data()) + *boot_sector;
  try {
    const fat::FatVolume volume = fat::ParseFatImage({bytes, payload.size() - *boot_sector}, "the FAT image");
    out << fat::DescribeFatVolume(volume);
  } catch (const std::exception& error) {
    out << "file system:    damaged: " << error.what() << '\n';
  }
}

int RunCheck(const CliOptions& options) {
  ByteString file;
  const std::string path = AbsolutePath(options.file);
  if (!LoadFileBytes(path, file)) {
    std::cerr << "larkspur-cli: " << path << ": "
              << (port::IsRegularFile(path)  ? "the file is empty"
                  : port::IsDirectory(path) ? "is a folder, not a file"
                                            : "no such file")
              << '\n';
    return kExitFailed;
  }
  const std::string kind = options.kind.empty() ? KindOfPath(port::FileNamePart(path)) : options.kind;
  const int model = options.model.value_or(0);
  const FirmwareCheck check = CheckFirmware(file, kind, ProfileForModel(model), model);
  if (options.command == CliOptions::Command::kInfo) {
    std::cout << "file:           " << path << '\n';
    PrintInfo(std::cout, check);
    std::string fitting;
    for (const int model : ModelsThatFit(file, kind)) fitting += (fitting.empty() ? "" : ", ") + Say(ModelItemText(model));
    std::cout << "models that fit: " << (fitting.empty() ? std::string("none") : fitting) << '\n';
    if (kind == "UDA") PrintFatVolume(std::cout, file, ReadFirmwareLayout(file, kind, ProfileForModel(model)));
    // As verify: a file without headers, or with a wrong one, is no pass.
    return check.AllRight() ? kExitDone : kExitFailed;
  }
  PrintProblems(std::cout, check);
  return check.AllRight() ? kExitDone : kExitFailed;
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
        return RunWindowCommand(options);
      case CliOptions::Command::kInfo:
      case CliOptions::Command::kVerify:
        return RunCheck(options);
    }
  } catch (const std::exception& error) {
    std::cerr << "larkspur-cli: " << error.what() << '\n';
  }
  return kExitFailed;
}

}  // namespace
}  // namespace larkspur

int main(int argc, char** argv) {
  return larkspur::Main(std::vector<std::string>(argv + 1, argv + argc));
}
