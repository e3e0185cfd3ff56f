// Test helpers for TForm1: a program folder with its working folders and
// stand-in tools, and a session that drives TForm1 through the console
// window the way a user drives the window.
#ifndef LARKSPUR_TESTING_PROGRAM_FOLDER_H_
#define LARKSPUR_TESTING_PROGRAM_FOLDER_H_

#include <memory>
#include <string>

#include "app/console_window.h"
#include "app/tform1.h"
#include "testing/scratch_folder.h"

namespace larkspur::testing {

// A program folder: exebat, temp, rofs2 and fat16 inside.
class ProgramFolder : public ScratchFolder {
 public:
  // `name_tail` ends the folder's name, as ScratchFolder's does.
  explicit ProgramFolder(const std::string& name_tail = "");
  // The stand-in tool in exebat under a tool's name, taking `steps` (see
  // testing/stand_in_tool.h).
  void InstallStandInTool(const std::string& name, const std::string& steps) const;
  // The project's own readimage and rofsbuild, copied from the build.
  void InstallBuiltTools() const;
  // What an Extract of `firmware_path` leaves for Repack, without running
  // one: the record naming the file (temp/rofs2.source, or temp/fat16.source
  // for a UDA file) and, for ROFS, a file in rofs2 when it is empty.
  void MarkExtracted(const std::string& firmware_path, bool uda = false) const;
};

// A stand-in unpacker: copies the image into rofs2 as "image.bin".
inline constexpr char kStandInReadimage[] = "copy $3 $2/image.bin";
// A stand-in builder: "ROFS0" FF, then the obey file it was given.
inline constexpr char kStandInRofsbuild[] = "write rofs2r.img ROFS0\377; append $1 rofs2r.img";

class Session {
 public:
  explicit Session(const ProgramFolder& home);
  ~Session();

  ConsoleWindow window{nullptr, nullptr};
  TForm1 form;

  void SelectModel(int index);
  // Open through the dialog; errors go to the error box as in the window.
  void Open(const std::string& path);
  // Extract, then wait for the worker as the window's user would.
  void Extract();
  // Repack, then wait for its worker.
  void Repack();
  bool MenuEnabled(MenuItem item) { return window.menu_enabled[item]; }
};

// Whether a line of the session's log holds `part`.
bool Logged(const Session& session, const std::string& part);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_PROGRAM_FOLDER_H_
