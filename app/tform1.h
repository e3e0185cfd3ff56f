// The main window object: owns the program's state (the loaded file, its
// kind and start address, the model profile, the working buffers, the three
// worker components) and carries the command handlers and worker bodies.
// It reaches the screen only through Window, so the same handlers serve the
// Qt window, the command line and the tests.
//
// Handlers run on the user-interface thread; the worker bodies (Tfix*,
// Trofs3*, Tfat*) on their components' threads, reaching the window through
// Window::RunOnUiThread.
#ifndef LARKSPUR_APP_TFORM1_H_
#define LARKSPUR_APP_TFORM1_H_

#include <atomic>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/window.h"
#include "larkspur_version.h"
#include "jobs/worker.h"
#include "format/byte_string.h"
#include "format/firmware_layout.h"
#include "format/model_profile.h"
#include "format/tree_source.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/process.h"
#include "port/progress.h"
#include "port/run_lock.h"
#include "repack/reassemble.h"

namespace larkspur {

// The folder a UDA file's FAT image is unpacked into, beside rofs2, and the
// records that tell Repack whether it or fat16.img changed since.
inline constexpr char kUdaFolder[] = "uda";
inline constexpr char kUdaRecord[] = "temp/uda.record";
inline constexpr char kFatImageStamp[] = "temp/fat16.stamp";

// Texts of the window.
inline constexpr char kApplicationTitle[] = "Marrowby";
inline constexpr char kWindowCaption[] = "Larkspur Beta 0.7";
inline constexpr char kVersion[] = LARKSPUR_VERSION;  // set once, in the top CMakeLists.txt
inline constexpr char kOpenFilter[] = "ROFS2, UDA|*.rofs2.*;*.uda.*;*.language.*|ALL|*.*";
inline constexpr char kOpenDialogFolder[] = "/";
inline constexpr char kOpenCaption[] = "打开(&O)";
inline constexpr char kExtractCaption[] = "解包(&E)";
inline constexpr char kRepackCaption[] = "打包(&R)";
inline constexpr char kDonationText[] =
    "如果你喜欢本程序，请点击旁边的“Donate”按钮捐赠我们，这将帮助我们创造更好的程序以及支持更多的手机型号. 谢谢！ :)";
inline constexpr char kDonationUrl[] = "https://larkspur.invalid/donate";
inline constexpr char kStatusFilePrefix[] = "文件名:    ";
inline constexpr char kStatusKindPrefix[] = "类型: ";
inline constexpr char kStatusThirdPanel[] = "Beta 0.7";
inline constexpr char kSeparatorLine[] =
    "=========================================================       ";

class TForm1 {
 public:
  // `program_folder` is the folder the working folders lie in, ending in a
  // separator: the executable's own folder for the window.
  TForm1(Window& window, std::string program_folder);
  ~TForm1();  // FormDestroy(), when it has not run yet

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Start-up and teardown. FormDestroy waits until every worker run has
  // ended, serving their window requests meanwhile; it never kills a tool.
  void FormCreate();
  void FormDestroy();

  // Menu commands and controls. They throw what they cannot handle; wrap
  // them in RunUiCommand to get the error box.
  void Open1Click();
  void Extract1Click();
  void Repack1Click();
  void ComboBox1Change();
  void Image1Click();

  // Runs a handler; an error that escapes it is shown in the error box,
  // titled with the application title, and the program goes on.
  void RunUiCommand(const std::function<void()>& handler);

  // Block headers under the profile in force.
  std::string crcdata(std::string_view payload) const;
  std::string createheder(std::string_view payload, std::string_view address, std::int32_t length) const;
  std::string createhederfat(std::string_view payload, std::string_view address, std::int32_t length) const;

  // Worker bodies. Repack runs on Trepack, so the window stays live while
  // the build tool runs and through its pauses.
  void TrepackExecute();
  void TfixExecute();
  void Trofs3Execute();
  void TfatExecute();

  // Repack steps. crobey returns false when it refused the tree (a name
  // the obey file cannot carry, a folder that cannot be listed), having
  // logged why.
  void FileSearch(const std::string& folder, const std::string& pattern, bool recurse);
  bool crobey();
  bool buildrofs();  // true when the build tool succeeded
  void Button5Click();
  void Button2Click();

  // The profile in force; a copy, so a reader never sees it half replaced.
  ModelProfile Profile() const;
  int ProfileIndex() const;  // the selector's item whose profile is in force
  bool N96Selected() const;  // the selector's item is the N96 one

  // Where the program's own files lie.
  const std::string& program_folder() const { return program_folder_; }
  std::string ProgramPath(std::string_view relative) const;

  // The state. The handlers and bodies read and change it directly; the
  // disabled menu items keep two commands from touching it at once.
  //
  // The opened file's bytes, mapped (or read where the system cannot map)
  // for the length of a command and dropped when it ends: no copy of the
  // file is held between commands, and on Windows other programs may open
  // it meanwhile. Each command maps it again and refuses a file whose size
  // or write time changed since Open, so a second Extract without a new
  // Open carves the same bytes.
  port::FileView ImageData;
  std::string ImageKind;
  std::string SourcePath;
  std::string SourceFileName;
  ByteString StartAddress;
  // The kind given on the command line (--kind), which the file's name then
  // does not decide; empty for the window.
  std::string KindOverride;
  // True when the program folder was given (--home) rather than being the
  // executable's own: the closing line of Repack then names it.
  bool ProgramFolderGiven = false;
  // The file's size and write time when it was opened: Repack refuses a
  // file that changed since, and the record of an extracted tree names it.
  port::FileStamp SourceStamp;
  // The file's block layout, read at Open under the profile in force, read
  // again when Extract or Repack runs under another one. Stripping gives
  // the payloads it names as views into ImageData, behind the prefix.
  FirmwareLayout Layout;
  // The carved partition image, for the readers that need its bytes in one
  // piece, while the carving worker runs: the payload it lies in when it
  // lies in one, otherwise the image file just written, mapped back.
  std::string_view CarvedImage;
  // True once Extract has stripped the headers: a second Extract without a
  // new Open carves the same bytes again instead of looking for headers
  // that are gone.
  bool ImageStripped = false;
  // The rebuilt partition image while Repack cuts it into blocks.
  port::FileView RebuiltData;
  bool FirstBlockDone = false;
  int OpenDialogFilterIndex = 1;
  std::string DonationUrl;
  std::vector<std::string> ListBox1;  // relative paths found by FileSearch
  std::vector<std::string> obey;      // lines of the obey file
  std::vector<std::string> UncarriedNames;  // paths FileSearch could not list

  // True while any worker component is busy. Tfix starts the carving
  // component before it counts as idle, so an Extract is over once this is
  // false.
  bool WorkersBusy() const { return tfix_->Busy() || trofs3_->Busy() || tfat_->Busy() || trepack_->Busy(); }

  TJvThread& Tfix() { return *tfix_; }
  TJvThread& Trofs3() { return *trofs3_; }
  TJvThread& Tfat() { return *tfat_; }
  TJvThread& Trepack() { return *trepack_; }

  // How the last command ended, for the command line: true once its closing
  // lines were written, false when it ended with an error.
  enum class Outcome { kNone, kRunning, kDone, kFailed };
  Outcome LastOutcome() const { return outcome_.load(); }

  Window& window() { return window_; }

 private:
  // Window requests that are safe from any thread.
  void Log(const std::string& line);
  void EnableMenu(bool enabled);
  // The menu items and the model selector, off for the length of a run.
  void DisableForRun();
  void Progress(const std::string& text);
  void ReportProgress(const port::ProgressReport& report);
  void ShowUnableToRun(const std::string& text);
  // The error box of a command, from any thread.
  void ShowErrorBox(const std::string& message);
  void ReportWorkerError(std::exception_ptr error);
  // Maps SourcePath into ImageData for a run; the log line of the refusal
  // when the file is gone, empty or changed since it was opened. Throws
  // what FileView::Open throws.
  std::optional<std::string> MapImageData();
  // The stripped file: the prefix, then each payload, as views into
  // ImageData (or into the copy a file with a broken chain was stripped in).
  std::vector<std::string_view> StrippedStream() const;
  // Writes the stripped file from `offset` on as the partition image.
  void CarveInto(std::uint64_t offset, std::string_view relative_path);
  // Sets CarvedImage (see there) for the image written to `relative_path`.
  void MapCarvedImage(std::string_view relative_path);
  // Drops what a run mapped (ImageData, the carved and rebuilt images).
  void ReleaseRunViews();
  void WriteTreeSource(const std::string& record_relative);
  void FailExtract(const std::string& line);
  void FailRepack(const std::string& line);
  // Ends a run: records the outcome, gives back the program folder's lock
  // and enables the menu. Safe from any thread.
  void FinishRun(Outcome outcome);
  // Takes the program folder's lock for a run; false (with the log line
  // that says so, and the menu enabled) when another run holds it.
  bool TakeRunLock();
  // Reads Layout (and StartAddress) again from ImageData, mapped, when it
  // was read under another signature or header size than `profile`'s; the
  // headers count as not stripped then.
  void EnsureLayout(const ModelProfile& profile);
  void ReadLayout(const ModelProfile& profile);
  // The log lines of a refused model: nothing when the layout's block
  // lengths fit `profile`; warnings about irregular blocks go to the log.
  std::optional<std::string> OtherModelLine(const ModelProfile& profile, int model_index);
  // Repack's checks before anything is built: the input file is the one
  // opened, it has block headers of the model, and the tree in
  // `tree_relative` (with its record `record_relative`) came from it.
  bool CheckRepackInputs(const std::string& tree_relative, const std::string& record_relative);
  // Decides between the folder uda and fat16.img for a UDA Repack and, when
  // the folder changed, rebuilds fat16.img from it. False when it refused.
  bool ChooseFatImage();
  // fat16.img's size and write time as the record beside it holds them, and
  // writing that record: Repack tells from it whether another tool edited
  // the image.
  std::string FatImageStampText() const;
  void RecordFatImageStamp();
  void LogToolOutput(const std::string& tool, const port::ProcessOutcome& outcome);
  void ReassembleAndWrite(std::string_view rebuilt_relative_path, std::size_t filler,
                          const BlockCutting& cutting, const ByteString& signature, bool uda);

  Window& window_;
  const std::string program_folder_;
  mutable std::mutex profile_mutex_;
  ModelProfile profile_;
  // The profile taken at the start of an Extract, so a model change during
  // the run cannot tear it.
  ModelProfile extract_profile_;
  int extract_model_ = 0;
  // The same for a Repack.
  ModelProfile repack_profile_;
  int repack_model_ = 0;
  int profile_index_ = 0;
  // Where the partition image starts in the stripped file, and its size.
  std::uint64_t carve_offset_ = 0;
  std::uint64_t carved_size_ = 0;
  // A file whose block chain broke is stripped at every signature, in a
  // copy of its own: it then stands for the stripped file.
  bool stripped_by_scan_ = false;
  ByteString scanned_copy_;
  port::FileView carved_view_;
  // The partition size recorded with the tree Repack packs.
  std::uint64_t original_partition_size_ = 0;
  std::uint64_t original_lead_ = 0;
  std::mutex run_lock_mutex_;
  std::unique_ptr<port::RunLock> run_lock_;
  std::atomic<Outcome> outcome_{Outcome::kNone};
  bool destroyed_ = false;
  std::unique_ptr<TJvThread> tfix_;
  std::unique_ptr<TJvThread> trofs3_;
  std::unique_ptr<TJvThread> tfat_;
  std::unique_ptr<TJvThread> trepack_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_TFORM1_H_
