// The main window object: the command handlers and the worker of the
// window, over the pipeline (pipeline/) that does the work. It holds what the
// window shows and remembers between commands (the opened file, its kind and
// start address, the model profile in force, the menu state), runs each
// Extract and Repack on its one worker (app/pipeline_run.h: the program
// folder's run lock, the box an error shows in) and turns what the pipeline
// reports into log lines, progress and message boxes. It reaches the screen
// only through Window, so the same handlers serve the Qt and the Win32
// window and the tests.
//
// Handlers run on the user-interface thread; a run's steps (TfixExecute,
// Trofs3Execute, TfatExecute, TrepackExecute) on the worker's thread,
// reaching the window through Window::RunOnUiThread.
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

#include "app/pipeline_run.h"
#include "app/run_reports.h"
#include "app/window.h"
#include "format/byte_string.h"
#include "format/model_profile.h"
#include "jobs/worker.h"
#include "larkspur_version.h"
#include "pipeline/opened_file.h"
#include "pipeline/rofs_tools.h"
#include "workspace/workspace.h"

namespace larkspur {

// Texts of the window.
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

class TForm1 {
 public:
  // `program_folder` is the folder the working folders lie in, ending in a
  // separator: the executable's own folder for the window.
  TForm1(Window& window, std::string program_folder);
  ~TForm1();  // FormDestroy(), when it has not run yet

  TForm1(const TForm1&) = delete;
  TForm1& operator=(const TForm1&) = delete;

  // Start-up and teardown. FormDestroy waits until the worker's run has
  // ended, serving its window requests meanwhile; it never kills a tool.
  void FormCreate();
  void FormDestroy();

  // Menu commands and controls. They throw what they cannot handle; wrap
  // them in RunUiCommand to get the error box.
  void Open1Click();
  // Open of a file given without the dialog (dropped onto the window); does
  // nothing while a run holds the menu.
  void OpenFile(const std::string& path);
  void Extract1Click();
  void Repack1Click();
  void ComboBox1Change();
  void Image1Click();
  // Shows the program folder (REB- files, the working folders) in the
  // system's file manager.
  void OpenProgramFolder();

  // Runs a handler; an error that escapes it is shown in the error box,
  // titled with the application title, and the program goes on.
  void RunUiCommand(const std::function<void()>& handler);

  // Block headers under the profile in force, as hex text.
  std::string crcdata(std::string_view payload) const;
  std::string createheder(std::string_view payload, std::string_view address, std::int32_t length) const;
  std::string createhederfat(std::string_view payload, std::string_view address, std::int32_t length) const;

  // The steps of a run, which the one worker calls in order, so the window
  // stays live while the tools run and through the build's pauses. An
  // Extract: TfixExecute, one call of the pipeline that strips the headers,
  // carves, writes and unpacks the partition image, then Trofs3Execute for
  // a ROFS file or TfatExecute for a UDA file, which ends the run. A
  // Repack: TrepackExecute, which runs Button5Click or Button2Click by kind
  // and ends the run.
  void TfixExecute();
  void Trofs3Execute();
  void TfatExecute();
  void TrepackExecute();
  // The Repack of a ROFS and of a UDA file: the obey file of rofs2
  // (pipeline::WriteObeyFile) and the build (pipeline::BuildRofsImage), or
  // the choice of fat16.img, then the reassembly (pipeline::Repack).
  void Button5Click();
  void Button2Click();

  // The ROFS tools the runs use: the programs of exebat unless given.
  void SetRofsTools(std::unique_ptr<pipeline::RofsTools> tools) { tools_ = std::move(tools); }

  // The profile in force; a copy, so a reader never sees it half replaced.
  ModelProfile Profile() const;
  int ProfileIndex() const;  // the selector's item whose profile is in force
  bool N96Selected() const;  // the selector's item is the N96 one

  // Where the program's own files lie.
  const std::string& program_folder() const { return workspace_.folder(); }
  const Workspace& workspace() const { return workspace_; }

  // What the window shows of the opened file, set by Open on the
  // user-interface thread (the opened file itself is the form's own, and a
  // run's worker gets a copy).
  std::string ImageKind;  // "ROFS" or "UDA"; empty before the first Open
  std::string SourcePath;
  std::string SourceFileName;
  ByteString StartAddress;
  // True when the program folder was given (--home) rather than being the
  // executable's own: the closing line of Repack then names it.
  bool ProgramFolderGiven = false;
  // The N96's short first block was written by the last ROFS Repack.
  bool FirstBlockDone = false;
  int OpenDialogFilterIndex = 1;
  std::string DonationUrl;
  // What the last ROFS Repack listed of rofs2 and wrote into the obey file.
  std::vector<std::string> ListBox1;
  std::vector<std::string> obey;

  // True while the worker is busy: from the start of a run until the
  // window has handled its end.
  bool WorkersBusy() const { return worker_->Busy(); }

  // How the last command ended, for the tests: kDone once its closing lines
  // were written, kFailed when it ended with a refusal or an error.
  enum class Outcome { kNone, kRunning, kDone, kFailed };
  Outcome LastOutcome() const { return outcome_.load(); }

  Window& window() { return window_; }

 private:
  // The run the worker carries out: set on the user-interface thread before
  // the worker starts, then the worker's alone until the end of the run
  // hands the opened file back.
  struct Run {
    RunCommand command = RunCommand::kExtract;
    int model = 0;  // the selector is off until the run ends
    pipeline::OpenedFile file;
    RunEnd end;
  };

  // Window requests that are safe from any thread.
  void Log(const std::string& line);
  void EnableMenu(bool enabled);
  // The menu items and the model selector, off for the length of a run.
  void DisableForRun();
  void Progress(const std::string& text);
  void ShowUnableToRun(const std::string& text);
  // A Yes/No question, from any thread; true for Yes.
  bool AskUser(const std::string& question);
  void ShowErrorBox(const ErrorBox& box);
  // Starts `command` of the opened file on the worker.
  void StartRun(RunCommand command);
  // The worker's body: the steps of the run, in order.
  void WorkerExecute();
  // Ends the run: the box of the error that ended it and the line after
  // it, or the refusal; records the outcome, hands the opened file back,
  // and turns the menu and the model selector on again. From any thread.
  void FinishRun(const RunEnd& end);
  // An error that escaped a step, on the user-interface thread.
  void ReportWorkerError(std::exception_ptr error);
  // The Repack of either kind.
  void RunRepack();
  // Open of `chosen` after the log was cleared.
  void OpenChosen(const std::string& chosen);
  // Asks whether to choose `model`, the one model a refused file fits.
  void OfferModel(int model);

  Window& window_;
  const Workspace workspace_;
  SayingReporter reporter_;
  std::unique_ptr<pipeline::RofsTools> tools_;
  mutable std::mutex profile_mutex_;
  ModelProfile profile_;
  int profile_index_ = 0;
  // The opened file, as the pipeline knows it. User-interface thread only.
  std::optional<pipeline::OpenedFile> opened_;
  Run run_;
  std::atomic<Outcome> outcome_{Outcome::kNone};
  bool destroyed_ = false;
  std::unique_ptr<TJvThread> worker_;
};

}  // namespace larkspur

#endif  // LARKSPUR_APP_TFORM1_H_
