#include "app/tform1.h"

#include <cstdio>

#include "app/texts.h"

#include "jobs/tool_runner.h"
#include "format/block_header.h"
#include "format/firmware_check.h"
#include "format/hex_text.h"
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
  trepack_ = std::make_unique<TJvThread>(window_, "Trepack", [this] { TrepackExecute(); }, report);
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

std::string TForm1::ProgramPath(std::string_view relative) const {
  return port::JoinPath(program_folder_, relative);
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
  port::FileView loaded;
  bool loaded_ok = false;
  // After a failed Open the earlier file stays open, and the log, cleared
  // for the new one, says so.
  const auto still_open = [&] {
    if (!previous_path.empty() && SourceStamp.regular) {
      window_.AppendLog(Say("仍然打开的文件: %1 (the earlier file is still open)", {previous_path}));
    }
  };
  try {
    loaded_ok = loaded.Open(*chosen, static_cast<std::uint64_t>(kMaxByteStringLength));
  } catch (const FileOpenError&) {
    still_open();
    throw;
  } catch (...) {
    SourcePath = previous_path;
    still_open();
    throw;
  }
  if (!loaded_ok) {
    SourcePath = previous_path;
    still_open();
    throw Error("Cannot open file \"" + *chosen + "\". " +
                (port::IsRegularFile(*chosen)  ? "The file is empty"
                 : port::IsDirectory(*chosen) ? "It is a folder, not a file"
                                              : "The file does not exist"));
  }
  ReleaseRunViews();
  ImageData = std::move(loaded);
  SourceStamp = port::StampOfFile(SourcePath);
  ImageStripped = false;
  stripped_by_scan_ = false;
  ByteString().swap(scanned_copy_);
  // The kind comes from the file's own name, never from its folders (a
  // folder named "Budapest" says nothing about the file); Extract then
  // checks it against the content.
  ImageKind = KindOverride.empty() ? KindOfPath(port::FileNamePart(SourcePath)) : KindOverride;
  EnableMenu(true);
  SourceFileName = port::FileNamePart(SourcePath);
  window_.AppendLog(Say("正在打开文件...  "));

  // The block layout and the load address of the first block header, under
  // the profile in force.
  ReadLayout(Profile());

  // Only the headers' pages were read; each command maps the file again.
  ImageData.Close();

  window_.SetStatusText(0, Say(kStatusFilePrefix) + SourceFileName);
  window_.SetStatusText(1, Say(kStatusKindPrefix) + ImageKind);
  window_.AppendLog(Say("文件: %1", {SourcePath}));
  window_.AppendLog("");
}

void TForm1::ReadLayout(const ModelProfile& profile) {
  const bool rofs = ImageKind == "ROFS";
  Layout = ReadFirmwareLayout(ImageData.bytes(), ImageKind, profile);
  // Without a header the address is read where a header at the file's
  // start would hold it; Extract and Repack refuse such a file anyway.
  const std::int64_t found = Layout.prefix_length ? static_cast<std::int64_t>(*Layout.prefix_length) + 1 : 0;
  const int address_index = rofs ? profile.RofsAddressIndex : profile.UdaAddressIndex;
  StartAddress = ByteString(Take(ImageData.bytes(), found + address_index - 1, profile.AddressLength));
}

void TForm1::EnsureLayout(const ModelProfile& profile) {
  const bool rofs = ImageKind == "ROFS";
  const std::string signature = HexToBytes(rofs ? profile.RofsSignatureHex : profile.UdaSignatureHex);
  const int header_size = rofs ? profile.RofsHeaderSize : profile.UdaHeaderSize;
  if (Layout.signature == signature && Layout.header_size == header_size) return;
  // Headers of another signature or size are stripped afresh from the file.
  ImageStripped = false;
  stripped_by_scan_ = false;
  ByteString().swap(scanned_copy_);
  ReadLayout(profile);
}

std::optional<std::string> TForm1::MapImageData() {
  if (!ImageData.Open(SourcePath, static_cast<std::uint64_t>(kMaxByteStringLength))) {
    return Say("错误: 输入文件 %1 不存在或为空, 未生成任何文件.", {SourcePath});
  }
  // Stamped once mapped: a file replaced before the mapping shows another
  // stamp, so the bytes mapped are the bytes opened.
  if (port::StampOfFile(SourcePath) != SourceStamp) {
    ImageData.Close();
    return Say("错误: 输入文件 %1 在打开后已被修改 (the file changed since it was opened), 请重新打开并解包. "
               "未生成任何文件.",
               {SourcePath});
  }
  return std::nullopt;
}

void TForm1::ReleaseRunViews() {
  CarvedImage = {};
  carved_view_.Close();
  RebuiltData.Close();
  ImageData.Close();
}

std::optional<std::string> TForm1::OtherModelLine(const ModelProfile& profile, int model_index) {
  const auto block_size = static_cast<std::uint32_t>(BlockSizeOf(profile, ImageKind));
  const BlockSizeVerdict verdict = JudgeBlockSizes(Layout, block_size, WritesShortFirstBlock(model_index, ImageKind));
  char text[160];
  if (verdict.other_model) {
    std::vector<int> fitting;
    for (int model = 0; model < kModelCount; ++model) {
      const ModelProfile& other = ProfileForModel(model);
      const bool rofs = ImageKind == "ROFS";
      const bool same_headers = HexToBytes(rofs ? other.RofsSignatureHex : other.UdaSignatureHex) == Layout.signature;
      if (same_headers && static_cast<std::uint32_t>(BlockSizeOf(other, ImageKind)) == *verdict.regular_length) {
        fitting.push_back(model);
      }
    }
    std::snprintf(text, sizeof text, "blocks of 0x%X bytes, the model chosen has blocks of 0x%X bytes",
                  *verdict.regular_length, block_size);
    std::string fitting_names;
    for (const int model : fitting) fitting_names += (fitting_names.empty() ? "" : ", ") + Say(ModelItemText(model));
    const std::string reason = std::string(text) + "; " +
                               (fitting.empty() ? std::string("no model Larkspur knows has such blocks")
                                                : "the file fits " + fitting_names);
    return Say("错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.", {SourcePath, reason});
  }
  if (!verdict.irregular_blocks.empty()) {
    std::string named;
    constexpr std::size_t kNamedAtMost = 8;
    for (std::size_t i = 0; i < verdict.irregular_blocks.size() && i < kNamedAtMost; ++i) {
      const LayoutBlock& block = Layout.blocks[verdict.irregular_blocks[i]];
      std::snprintf(text, sizeof text, "%sblock %zu: 0x%X", named.empty() ? "" : ", ", verdict.irregular_blocks[i],
                    block.payload_length);
      named += text;
    }
    if (verdict.irregular_blocks.size() > kNamedAtMost) {
      named += " and " + std::to_string(verdict.irregular_blocks.size() - kNamedAtMost) + " more";
    }
    window_.RunOnUiThread([this, &named] {
      window_.AppendLog(Say("警告: 块的长度不一致 (blocks of irregular lengths: %1), 请检查所选手机型号.", {named}));
    });
  }
  return std::nullopt;
}

void TForm1::FinishRun(Outcome outcome) {
  ReleaseRunViews();
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
  std::unique_ptr<port::RunLock> taken;
  std::string reason = "another Extract or Repack holds its lock";
  try {
    taken = port::RunLock::TryTake(program_folder_);
  } catch (const std::exception& error) {
    reason = error.what();
  }
  if (!taken) {
    window_.AppendLog(Say("错误: 本程序文件夹 %1 正被另一个解包或打包使用 (%2), 请等它结束后再试. 未生成任何文件.",
                          {program_folder_, reason}));
    FinishRun(Outcome::kFailed);
    return false;
  }
  std::lock_guard lock(run_lock_mutex_);
  run_lock_ = std::move(taken);
  return true;
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

void TForm1::DisableForRun() {
  window_.SetMenuEnabled(MenuItem::kOpen, false);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  window_.SetSelectorEnabled(false);
}

void TForm1::Progress(const std::string& text) {
  window_.RunOnUiThread([this, &text] { window_.ShowProgress(text); });
}

void TForm1::ReportProgress(const port::ProgressReport& report) {
  // Called while the tool runs: nothing may escape into the tool runner.
  try {
    Progress(Say("进度: %1", {DescribeProgress(report)}));
  } catch (...) {
  }
}

void TForm1::ShowErrorBox(const std::string& message) {
  window_.RunOnUiThread(
      [this, &message] { window_.ShowMessage(kApplicationTitle, WithFullStop(message), MessageIcon::kError); });
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
  ReleaseRunViews();
  {
    std::lock_guard lock(run_lock_mutex_);
    run_lock_.reset();
  }
  window_.ShowProgress("");
  window_.SetSelectorEnabled(true);
  window_.ShowMessage("Application Error",
                      "Exception " + class_name + " in module larkspur at " + address + ".\r\n" +
                          message + "\r\n",
                      MessageIcon::kStop);
  // After the box the user can mend the cause (a missing folder, a file held
  // open) and try again.
  EnableMenu(true);
}

}  // namespace larkspur
