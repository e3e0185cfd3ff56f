#include "app/tform1.h"

#include "app/texts.h"
#include "base/hex.h"
#include "format/block_header.h"
#include "pipeline/repack.h"
#include "pipeline/run_lock.h"
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
  auto report = [this](std::exception_ptr error) { ReportWorkerError(error); };
  tfix_ = std::make_unique<TJvThread>(
      window_, "Tfix", [this] { TfixExecute(); }, report);
  trofs3_ = std::make_unique<TJvThread>(
      window_, "Trofs3", [this] { Trofs3Execute(); }, report);
  tfat_ = std::make_unique<TJvThread>(
      window_, "Tfat", [this] { TfatExecute(); }, report);
  trepack_ = std::make_unique<TJvThread>(
      window_, "Trepack", [this] { TrepackExecute(); }, report);
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
  // Tfix may still start Trofs3 or Tfat as its last step, so the carving
  // components are waited for after it.
  tfix_->Teardown();
  trofs3_->Teardown();
  tfat_->Teardown();
  trepack_->Teardown();
}

void TForm1::RunUiCommand(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    if (outcome_.load() == Outcome::kRunning) outcome_ = Outcome::kFailed;
    ShowErrorBox(error.what());
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
  std::optional<PartitionKind> kind = KindFromName(KindOverride);
  try {
    pipeline::OpenedFile opened = pipeline::OpenFirmware(chosen, kind, ProfileIndex(), reporter_);
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
  SourceStamp = opened_->stamp;
  Layout = opened_->layout;
  StartAddress = opened_->start_address;
  EnableMenu(true);
  window_.SetStatusText(0, Say(kStatusFilePrefix) + ControlCharactersEscaped(SourceFileName));
  window_.SetStatusText(1, Say(kStatusKindPrefix) + ImageKind);
}

void TForm1::Extract1Click() {
  if (!opened_) return;
  DisableForRun();
  if (!TakeRunLock()) return;
  // The run works with the profile in force when it started (the selector
  // is off until it ends).
  run_model_ = ProfileIndex();
  outcome_ = Outcome::kRunning;
  extraction_ = std::make_unique<pipeline::Extraction>(*opened_, run_model_, workspace_, *tools_, reporter_);
  pipeline::Outcome begun;
  try {
    begun = extraction_->Begin();
  } catch (...) {
    FinishRun(Outcome::kFailed);
    throw;
  }
  if (!begun.done()) {
    FinishRun(begun);
    return;
  }
  StartWorker(*tfix_);
}

void TForm1::TfixExecute() {
  const pipeline::Outcome located = extraction_->Locate();
  if (!located.done()) {
    FinishRun(located);
    return;
  }
  StartWorker(opened_->kind == PartitionKind::kRofs ? *trofs3_ : *tfat_);
}

void TForm1::Trofs3Execute() { FinishRun(extraction_->Unpack()); }

void TForm1::TfatExecute() { FinishRun(extraction_->Unpack()); }

void TForm1::Repack1Click() {
  if (!opened_) return;
  DisableForRun();
  if (!TakeRunLock()) return;
  run_model_ = ProfileIndex();
  outcome_ = Outcome::kRunning;
  StartWorker(*trepack_);
}

void TForm1::TrepackExecute() {
  try {
    if (opened_->kind == PartitionKind::kRofs) Button5Click();
    if (opened_->kind == PartitionKind::kUda) Button2Click();
  } catch (const std::exception& error) {
    // The same error box as a command on the window's own thread; after it
    // the user can mend the cause and try again.
    outcome_ = Outcome::kFailed;
    ShowErrorBox(error.what());
    Log(SayText(pipeline::FailedRunText(workspace_, WithFullStop(error.what()))));
    FinishRun(Outcome::kFailed);
  }
}

void TForm1::Button5Click() {
  FirstBlockDone = false;
  RunRepack();
}

void TForm1::Button2Click() { RunRepack(); }

void TForm1::RunRepack() {
  pipeline::RepackOptions options;
  options.name_program_folder = ProgramFolderGiven;
  // The window asks before it moves the end of an erase area.
  options.extend_erase_area = pipeline::ExtendEraseArea::kAsk;
  const pipeline::RepackResult result = pipeline::Repack(*opened_, run_model_, workspace_, *tools_, reporter_, options);
  ListBox1 = result.obey.files;
  obey = result.obey.lines;
  FirstBlockDone = FirstBlockDone || result.short_first_block_written;
  FinishRun(result.outcome);
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

void TForm1::FinishRun(const pipeline::Outcome& outcome) {
  if (outcome.refusal) Log(SayText(*outcome.refusal));
  FinishRun(outcome.done() ? Outcome::kDone : Outcome::kFailed);
  if (outcome.models_that_fit.size() == 1) OfferModel(outcome.models_that_fit.front());
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

void TForm1::FinishRun(Outcome outcome) {
  if (extraction_) extraction_->Release();
  outcome_ = outcome;
  {
    std::lock_guard lock(run_lock_mutex_);
    run_lock_.reset();
  }
  window_.RunOnUiThread([this] {
    window_.ShowProgress("");
    window_.SetSelectorEnabled(true);
  });
  EnableMenu(true);
}

bool TForm1::TakeRunLock() {
  pipeline::TakenLock taken = pipeline::TakeRunLock(workspace_);
  if (!taken.lock) {
    window_.AppendLog(SayText(*taken.refusal));
    FinishRun(Outcome::kFailed);
    return false;
  }
  std::lock_guard lock(run_lock_mutex_);
  run_lock_ = std::move(taken.lock);
  return true;
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

void TForm1::ShowErrorBox(const std::string& message) {
  window_.RunOnUiThread(
      [this, &message] { window_.ShowMessage(kApplicationTitle, WithFullStop(message), MessageIcon::kError); });
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
  const std::string text = ApplicationErrorText(error);
  outcome_ = Outcome::kFailed;
  if (extraction_) extraction_->Release();
  {
    std::lock_guard lock(run_lock_mutex_);
    run_lock_.reset();
  }
  window_.ShowProgress("");
  window_.SetSelectorEnabled(true);
  window_.ShowMessage("Application Error", text, MessageIcon::kStop);
  // The log keeps the reason and says what became of the program folder.
  Log(SayText(pipeline::FailedRunText(workspace_, ErrorMessageOf(error))));
  // After the box the user can mend the cause (a missing folder, a file held
  // open) and try again.
  EnableMenu(true);
}

}  // namespace larkspur
