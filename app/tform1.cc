#include "app/tform1.h"

#include "format/block_header.h"
#include "format/firmware_check.h"
#include "format/hex_text.h"
#include "format/load_file_bytes.h"
#include "port/errors.h"
#include "port/files.h"

namespace larkspur {
namespace {

// The error box adds a full stop when the message's last character sorts
// after it, as the old program's boxes did.
std::string WithFullStop(std::string message) {
  if (!message.empty() && static_cast<unsigned char>(message.back()) > '.') message += '.';
  return message;
}

}  // namespace

TForm1::TForm1(Window& window, std::string program_folder)
    : window_(window),
      program_folder_(std::move(program_folder)),
      profile_(ProfileForModel(0)),
      extract_profile_(profile_) {
  auto report = [this](std::exception_ptr error) { ReportWorkerError(error); };
  tfix_ = std::make_unique<TJvThread>(window_, "Tfix", [this] { TfixExecute(); }, report);
  trofs3_ = std::make_unique<TJvThread>(window_, "Trofs3", [this] { Trofs3Execute(); }, report);
  tfat_ = std::make_unique<TJvThread>(window_, "Tfat", [this] { TfatExecute(); }, report);
}

TForm1::~TForm1() { FormDestroy(); }

void TForm1::FormCreate() {
  window_.SetStatusText(0, kStatusFilePrefix);
  window_.SetStatusText(1, kStatusKindPrefix);
  window_.SetStatusText(2, kStatusThirdPanel);
  DonationUrl = kDonationUrl;
  window_.SetMenuEnabled(MenuItem::kOpen, true);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  std::lock_guard lock(profile_mutex_);
  profile_ = ProfileForModel(0);
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
}

void TForm1::RunUiCommand(const std::function<void()>& handler) {
  try {
    handler();
  } catch (const std::exception& error) {
    if (outcome_.load() == Outcome::kRunning) outcome_ = Outcome::kFailed;
    window_.ShowMessage(kApplicationTitle, WithFullStop(error.what()), MessageIcon::kError);
  }
}

std::string TForm1::ProgramPath(std::string_view relative) const {
  return port::JoinPath(program_folder_, relative);
}

ModelProfile TForm1::Profile() const {
  std::lock_guard lock(profile_mutex_);
  return profile_;
}

bool TForm1::N96Selected() const { return window_.SelectorIndex() == kN96ModelIndex; }

void TForm1::ComboBox1Change() {
  const int index = window_.SelectorIndex();
  if (index < 0 || index >= kModelCount) return;
  std::lock_guard lock(profile_mutex_);
  profile_ = ProfileForModel(index);
  OpenDialogFilterIndex = profile_.OpenDialogFilterIndex;
}

void TForm1::Image1Click() { window_.OpenUrl(DonationUrl); }

void TForm1::Open1Click() {
  window_.ClearLog();
  const auto chosen = window_.ShowOpenDialog({kOpenFilter, OpenDialogFilterIndex, kOpenDialogFolder});
  if (!chosen) return;
  const std::string previous_path = SourcePath;
  SourcePath = *chosen;

  // A missing, empty or oversized file must not leave the previous file's
  // bytes under the new name, or a later Repack would write them out as this
  // file: load first, and change nothing unless the load succeeded. (A file
  // that exists but cannot be opened keeps its name in SourcePath, as users
  // of the old program know it.)
  ByteString loaded;
  bool loaded_ok = false;
  try {
    loaded_ok = LoadFileBytes(*chosen, loaded);
  } catch (const FileOpenError&) {
    throw;
  } catch (...) {
    SourcePath = previous_path;
    throw;
  }
  if (!loaded_ok) {
    SourcePath = previous_path;
    throw Error("Cannot open file \"" + *chosen + "\". " +
                (port::IsRegularFile(*chosen) ? "The file is empty" : "The file does not exist"));
  }
  ImageData.swap(loaded);
  loaded = ByteString();
  CarvedImage = {};
  ImageStripped = false;
  ImageKind = KindOfPath(SourcePath);
  EnableMenu(true);
  SourceFileName = port::FileNamePart(SourcePath);
  window_.AppendLog("正在打开文件...  ");

  // The load address of the first block header, under the profile in force.
  const ModelProfile profile = Profile();
  const bool rofs = ImageKind == "ROFS";
  const ByteString signature = HexToBytes(rofs ? profile.RofsSignatureHex : profile.UdaSignatureHex);
  const std::int64_t found = PosFrom(signature, ImageData, 1);
  const int address_index = rofs ? profile.RofsAddressIndex : profile.UdaAddressIndex;
  StartAddress = ByteString(Take(ImageData, found + address_index - 1, profile.AddressLength));

  window_.SetStatusText(0, kStatusFilePrefix + SourceFileName);
  window_.SetStatusText(1, kStatusKindPrefix + ImageKind);
  window_.AppendLog("文件: " + SourcePath);
  window_.AppendLog("");
}

std::string TForm1::crcdata(std::string_view payload) const { return CheckValueHex(payload); }

std::string TForm1::createheder(std::string_view payload, std::string_view address,
                                std::int32_t length) const {
  const ModelProfile profile = Profile();
  return BuildBlockHeaderHex(profile.RofsSignatureHex, profile.RofsTypeFieldHex,
                             profile.RofsBlockSize, payload, address, length);
}

std::string TForm1::createhederfat(std::string_view payload, std::string_view address,
                                   std::int32_t length) const {
  const ModelProfile profile = Profile();
  return BuildBlockHeaderHex(profile.UdaSignatureHex, profile.UdaTypeFieldHex,
                             profile.UdaBlockSize, payload, address, length);
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

void TForm1::ShowUnableToRun(const std::string& text) {
  window_.RunOnUiThread([this, &text] { window_.ShowMessage(kApplicationTitle, text, MessageIcon::kNone); });
}

void TForm1::ReportWorkerError(std::exception_ptr error) {
  std::string class_name = "Exception";
  std::string message;
  try {
    std::rethrow_exception(error);
  } catch (const Error& e) {
    class_name = e.ClassName();
    message = e.what();
  } catch (const std::exception& e) {
    message = e.what();
  } catch (...) {
    message = "unknown error";
  }
  if (!message.empty() && message.back() != '.') message += '.';
  char address[32];
  std::snprintf(address, sizeof address, "%p", static_cast<const void*>(&error));
  outcome_ = Outcome::kFailed;
  window_.ShowMessage("Application Error",
                      "Exception " + class_name + " in module larkspur at " + address + ".\r\n" +
                          message + "\r\n",
                      MessageIcon::kStop);
  // After the box the user can mend the cause (a missing folder, a file held
  // open) and try again.
  EnableMenu(true);
}

}  // namespace larkspur
