#include "app/tform1.h"

#include "app/texts.h"
#include "base/hex.h"
#include "format/block_header.h"
#include "port/errors.h"

namespace larkspur {

TForm1::TForm1(Window& window, std::string program_folder)
    : window_(window),
      workspace_(std::move(program_folder)),
      reporter_([this](const std::string& line) { Log(line); }, [this](const std::string& text) { Progress(text); },
                [this](const std::string& text) { ShowUnableToRun(text); },
                [this](const std::string& question) { return AskUser(question); }),
      tools_(std::make_unique<pipeline::ExternalRofsTools>()),
      profile_(ProfileForModel(0)) {
  worker_ = std::make_unique<TJvThread>(
      window_, "Worker", [this] { WorkerExecute(); }, [this](std::exception_ptr error) { ReportWorkerError(error); });
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
  window_.SetStatusText(0, Say(kStatusFilePrefix));
  window_.SetStatusText(1, Say(kStatusKindPrefix));
  window_.SetStatusText(2, kStatusThirdPanel);
  DonationUrl = kDonationUrl;
  window_.SetMenuEnabled(MenuItem::kOpen, true);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  // Where the REB- files will be: an installed program's folder is not
  // beside it, and may be hidden.
  window_.AppendLog(Say("本程序文件夹: %1 (REB- 文件和工作文件夹都在这里)", {program_folder()}));
  std::lock_guard lock(profile_mutex_);
  profile_ = ProfileForModel(0);
  profile_index_ = 0;
  OpenDialogFilterIndex = profile_.OpenDialogFilterIndex;
}

void TForm1::FormDestroy() {
  if (destroyed_) return;
  destroyed_ = true;
  worker_->Teardown();
}

void TForm1::RunUiCommand(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception&) {
    ShowErrorBox(CommandErrorBox(std::current_exception()));
  }
}

ModelProfile TForm1::Profile() const {
  std::lock_guard lock(profile_mutex_);
  return profile_;
}

int TForm1::ProfileIndex() const {
  std::lock_guard lock(profile_mutex_);
  return profile_index_;
}

bool TForm1::N96Selected() const { return window_.SelectorIndex() == kN96ModelIndex; }

void TForm1::ComboBox1Change() {
  const int index = window_.SelectorIndex();
  if (index < 0 || index >= kModelCount) return;
  std::lock_guard lock(profile_mutex_);
  profile_ = ProfileForModel(index);
  profile_index_ = index;
  OpenDialogFilterIndex = profile_.OpenDialogFilterIndex;
}

void TForm1::Image1Click() { window_.OpenUrl(DonationUrl); }

void TForm1::OpenProgramFolder() { window_.OpenFolder(program_folder()); }

void TForm1::Open1Click() {
  window_.ClearLog();
  const auto chosen = window_.ShowOpenDialog({kOpenFilter, OpenDialogFilterIndex, kOpenDialogFolder});
  if (!chosen) return;
  OpenChosen(*chosen);
}

void TForm1::OpenFile(const std::string& path) {
  if (outcome_.load() == Outcome::kRunning) return;
  window_.ClearLog();
  OpenChosen(path);
}

void TForm1::OpenChosen(const std::string& chosen) {
  const std::string previous_path = SourcePath;
  SourcePath = chosen;

  // A missing, empty or oversized file must not leave the previous file
  // under the new name, or a later Repack would write it out as this file:
  // nothing changes unless the Open succeeded. (A file that exists but
  // cannot be opened keeps its name in SourcePath, as users of the old
  // program know it.) After a failed Open the earlier file stays open, and
  // the log, cleared for the new one, says so.
  const auto still_open = [&] {
    if (opened_) {
      window_.AppendLog(Say("仍然打开的是之前的文件: %1", {opened_->path}));
    }
  };
  try {
    pipeline::OpenedFile opened = pipeline::OpenFirmware(chosen, std::nullopt, ProfileIndex(), reporter_);
    opened_ = std::move(opened);
  } catch (const FileOpenError&) {
    still_open();
    throw;
  } catch (...) {
    SourcePath = previous_path;
    still_open();
    throw;
  }
  ImageKind = KindName(opened_->kind);
  SourceFileName = opened_->name;
  StartAddress = opened_->start_address;
  EnableMenu(true);
  window_.SetStatusText(0, Say(kStatusFilePrefix) + ControlCharactersEscaped(SourceFileName));
  window_.SetStatusText(1, Say(kStatusKindPrefix) + ImageKind);
}

void TForm1::Extract1Click() {
  if (!opened_) return;
  StartRun(RunCommand::kExtract);
}

void TForm1::Repack1Click() {
  if (!opened_) return;
  StartRun(RunCommand::kRepack);
}

void TForm1::StartRun(RunCommand command) {
  // The worker hands the end of a run to this thread after the menu is on
  // again: a run chosen in between waits for that, rather than being
  // dropped with the menu left off.
  worker_->WaitUntilIdle();
  DisableForRun();
  // The run works on a copy of the opened file, with the profile in force
  // when it started (the selector is off until it ends).
  run_.command = command;
  run_.model = ProfileIndex();
  run_.file = *opened_;
  run_.end = {};
  outcome_ = Outcome::kRunning;
  StartWorker(*worker_);
}

void TForm1::WorkerExecute() {
  if (run_.command == RunCommand::kRepack) {
    TrepackExecute();
    return;
  }
  TfixExecute();
  if (run_.file.kind == PartitionKind::kRofs) {
    Trofs3Execute();
  } else {
    TfatExecute();
  }
}

void TForm1::TfixExecute() {
  RunRequest request;
  request.command = RunCommand::kExtract;
  request.model = run_.model;
  run_.end = RunPipeline(request, run_.file, workspace_, *tools_, reporter_);
}

void TForm1::Trofs3Execute() { FinishRun(run_.end); }

void TForm1::TfatExecute() { FinishRun(run_.end); }

void TForm1::TrepackExecute() {
  if (run_.file.kind == PartitionKind::kRofs) Button5Click();
  if (run_.file.kind == PartitionKind::kUda) Button2Click();
}

void TForm1::Button5Click() {
  FirstBlockDone = false;
  RunRepack();
}

void TForm1::Button2Click() { RunRepack(); }

void TForm1::RunRepack() {
  RunRequest request;
  request.command = RunCommand::kRepack;
  request.model = run_.model;
  request.repack.name_program_folder = ProgramFolderGiven;
  // The window asks before it moves the end of an erase area.
  request.repack.extend_erase_area = pipeline::ExtendEraseArea::kAsk;
  run_.end = RunPipeline(request, run_.file, workspace_, *tools_, reporter_);
  ListBox1 = run_.end.obey.files;
  obey = run_.end.obey.lines;
  FirstBlockDone = FirstBlockDone || run_.end.short_first_block_written;
  FinishRun(run_.end);
}

std::string TForm1::crcdata(std::string_view payload) const { return CheckValueHex(payload); }

std::string TForm1::createheder(std::string_view payload, std::string_view address, std::int32_t length) const {
  const ModelProfile profile = Profile();
  return BuildBlockHeaderHex(profile.RofsSignatureHex, profile.RofsTypeFieldHex, profile.RofsBlockSize, payload,
                             address, length);
}

std::string TForm1::createhederfat(std::string_view payload, std::string_view address, std::int32_t length) const {
  const ModelProfile profile = Profile();
  return BuildBlockHeaderHex(profile.UdaSignatureHex, profile.UdaTypeFieldHex, profile.UdaBlockSize, payload, address,
                             length);
}

void TForm1::FinishRun(const RunEnd& end) {
  if (end.error_box) {
    // After the box the user can mend the cause (a missing folder, a file
    // held open) and try again; the log keeps the reason and says what
    // became of the program folder.
    ShowErrorBox(*end.error_box);
    Log(SayText(*end.error_line));
  }
  if (end.outcome.refusal) Log(SayText(*end.outcome.refusal));
  window_.RunOnUiThread([this, done = end.outcome.done()] {
    // What the run learnt of the file (its layout under the run's model,
    // its headers stripped) is the next command's. Handed back before the
    // run counts as over, so that a file dropped meanwhile is not opened
    // under it.
    opened_ = run_.file;
    outcome_ = done ? Outcome::kDone : Outcome::kFailed;
    window_.ShowProgress("");
    window_.SetSelectorEnabled(true);
  });
  EnableMenu(true);
  if (end.outcome.models_that_fit.size() == 1) OfferModel(end.outcome.models_that_fit.front());
}

void TForm1::OfferModel(int model) {
  window_.RunOnUiThread([this, model] {
    const std::string name = Say(ModelItemText(model));
    if (!window_.AskYesNo(kApplicationTitle, Say("这个文件是为%1制作的. 要选择%1吗?", {name}))) return;
    window_.SetSelectorIndex(model);
    ComboBox1Change();
    window_.AppendLog(Say("已选择%1, 请再运行一次.", {name}));
  });
}

void TForm1::Log(const std::string& line) {
  window_.RunOnUiThread([this, &line] { window_.AppendLog(line); });
}

void TForm1::EnableMenu(bool enabled) {
  window_.RunOnUiThread([this, enabled] {
    window_.SetMenuEnabled(MenuItem::kOpen, enabled);
    window_.SetMenuEnabled(MenuItem::kExtract, enabled);
    window_.SetMenuEnabled(MenuItem::kRepack, enabled);
  });
}

void TForm1::DisableForRun() {
  window_.SetMenuEnabled(MenuItem::kOpen, false);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  window_.SetSelectorEnabled(false);
}

void TForm1::Progress(const std::string& text) {
  window_.RunOnUiThread([this, &text] { window_.ShowProgress(text); });
}

void TForm1::ShowErrorBox(const ErrorBox& box) {
  window_.RunOnUiThread([this, &box] { window_.ShowMessage(box.title, box.text, box.icon); });
}

bool TForm1::AskUser(const std::string& question) {
  bool yes = false;
  window_.RunOnUiThread([this, &question, &yes] { yes = window_.AskYesNo(kApplicationTitle, question); });
  return yes;
}

void TForm1::ShowUnableToRun(const std::string& text) {
  window_.RunOnUiThread([this, &text] { window_.ShowMessage(kApplicationTitle, text, MessageIcon::kNone); });
}

void TForm1::ReportWorkerError(std::exception_ptr error) {
  // Not the pipeline's (RunPipeline turns its errors into the run's end),
  // but the run ends all the same, and the menu comes back.
  FinishRun(RunEndedBy(error, true, workspace_));
}

}  // namespace larkspur
