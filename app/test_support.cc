#include "app/test_support.h"

#include <filesystem>

#include "port/stand_in_tool.h"

namespace larkspur::testing {

ProgramFolder::ProgramFolder() {
  for (const char* folder : {"exebat", "temp", "rofs2", "fat16"}) std::filesystem::create_directories(Path(folder));
}

void ProgramFolder::InstallStandInTool(const std::string& name, const std::string& steps) const {
  testing::InstallStandInTool(Path("exebat"), name, steps);
}

void ProgramFolder::InstallBuiltTools() const {
  for (const char* tool : {"readimage", "rofsbuild"}) {
    const std::string file = ProgramFileName(tool);
    std::filesystem::copy_file(std::string(LARKSPUR_BIN_DIR) + "/exebat/" + file, Path("exebat/" + file),
                               std::filesystem::copy_options::overwrite_existing);
  }
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
}

}  // namespace larkspur::testing
