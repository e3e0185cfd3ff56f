#include "testing/program_folder.h"

#include <algorithm>
#include <filesystem>

#include "workspace/tree_source.h"
#include "port/files.h"
#include "testing/stand_in_tool.h"

namespace larkspur::testing {

ProgramFolder::ProgramFolder(const std::string& name_tail)
    : ScratchFolder(std::filesystem::temp_directory_path(), name_tail) {
  for (const char* folder : {"exebat", "temp", "rofs2", "fat16"}) std::filesystem::create_directories(root() / folder);
}

void ProgramFolder::InstallStandInTool(const std::string& name, const std::string& steps) const {
  testing::InstallStandInTool(Path("exebat"), name, steps);
}

void ProgramFolder::InstallBuiltTools() const {
  for (const char* tool : {"readimage", "rofsbuild"}) {
    const std::string file = ProgramFileName(tool);
    std::filesystem::copy_file(port::FileSystemPath(std::string(LARKSPUR_BIN_DIR) + "/exebat/" + file),
                               root() / "exebat" / file, std::filesystem::copy_options::overwrite_existing);
  }
}

void ProgramFolder::MarkExtracted(const std::string& firmware_path, bool uda) const {
  const port::FileStamp stamp = port::StampOfFile(firmware_path);
  TreeSource source;
  source.path = firmware_path;
  source.size = stamp.size;
  source.write_time = stamp.write_time;
  // Large enough that no rebuilt partition of a test counts as grown.
  source.partition_size = std::uint64_t{1} << 40;
  Write(uda ? "temp/fat16.source" : "temp/rofs2.source", FormatTreeSource(source));
  if (!uda && std::filesystem::is_empty(root() / "rofs2")) Write("rofs2/readme.txt", "extracted");
}

Session::Session(const ProgramFolder& home) : form(window, home.path()) { form.FormCreate(); }

Session::~Session() { form.FormDestroy(); }

void Session::SelectModel(int index) {
  window.SetSelectorIndex(index);
  form.RunUiCommand([&] { form.ComboBox1Change(); });
}

void Session::Open(const std::string& path) {
  window.QueueOpenDialogAnswer(path);
  form.RunUiCommand([&] { form.Open1Click(); });
}

void Session::Extract() {
  form.RunUiCommand([&] { form.Extract1Click(); });
  window.ServeUntil([&] { return !form.WorkersBusy(); });
}

void Session::Repack() {
  form.RunUiCommand([&] { form.Repack1Click(); });
  window.ServeUntil([&] { return !form.WorkersBusy(); });
}

bool Logged(const Session& session, const std::string& part) {
  return std::any_of(session.window.log.begin(), session.window.log.end(),
                     [&](const std::string& line) { return line.find(part) != std::string::npos; });
}

}  // namespace larkspur::testing
