// The Repack command: obey file and ROFS build for ROFS images, then the
// reassembly of a flashable "REB-" file. Runs on the user-interface thread.
#include "app/tform1.h"
#include "extract/tool_runner.h"
#include "format/hex_text.h"
#include "format/load_file_bytes.h"
#include "port/errors.h"
#include "port/files.h"
#include "repack/obey_file.h"
#include "repack/reassemble.h"

namespace larkspur {
namespace {

constexpr char kBuildCommand[] = "rofsbuild.exe ../temp/rofs2.obey";
constexpr std::size_t kRofsFiller = 3072;
constexpr int kBuildPauseMilliseconds = 500;

}  // namespace

void TForm1::FileSearch(const std::string& folder, const std::string& pattern, bool recurse) {
  // Paths in the list are relative to the program folder, with backslashes
  // as the obey file writes them, whatever the platform's separator.
  std::string relative_prefix = folder;
  if (relative_prefix.rfind(program_folder_, 0) == 0) relative_prefix.erase(0, program_folder_.size());
  for (char& c : relative_prefix) {
    if (c == '/') c = '\\';
  }
  if (!relative_prefix.empty() && relative_prefix.back() != '\\') relative_prefix += '\\';
  ListFilesDepthFirst(folder, pattern, recurse, relative_prefix, ListBox1);
}

void TForm1::crobey() {
  window_.AppendLog("正在创建 obey 文件.    ");
  obey.clear();
  ListBox1.clear();
  FileSearch(ProgramPath("rofs2"), "*.*", true);
  obey.push_back(kObeyNameLine);
  obey.push_back(kObeySizeLine);
  for (const std::string& relative_path : ListBox1) obey.push_back(ObeyDataLine(relative_path));
  const std::string text = JoinObeyLines(obey);
  port::WriteFileReplacing(ProgramPath("temp/rofs2.obey"), {text});
  window_.AppendLog("完成!    ");
}

void TForm1::buildrofs() {
  window_.AppendLog("正在重建 rofs 文件.       ");
  window_.AppendLog("请稍等...       ");
  const port::ProcessOutcome outcome = RunInToolFolder(
      program_folder_, kBuildCommand, [this](const std::string& text) { ShowUnableToRun(text); });
  window_.AppendLog("完成!   ");
  if (!Succeeded(outcome)) {
    window_.AppendLog("rofsbuild " + DescribeOutcome(outcome) + ": rofs 文件重建失败.");
  }

  const std::string built = ProgramPath("exebat/rofs2r.img");
  const std::string target = ProgramPath("temp/rofs2r.img");
  // The move never overwrites, so the earlier image goes first.
  port::DeleteFile(target);
  port::SleepMilliseconds(kBuildPauseMilliseconds);
  // An image the tool left although it failed is not taken for a good one.
  const bool moved = Succeeded(outcome) && port::MoveFileNoReplace(built, target);
  port::SleepMilliseconds(kBuildPauseMilliseconds);
  if (!moved && port::IsRegularFile(built)) {
    // Keep the new image where it is rather than delete the only copy.
    window_.AppendLog("新的 rofs 文件仍在 " + built + " (未能移动到 " + target +
                      (port::IsRegularFile(target) || port::IsDirectory(target) ? ": 旧文件无法删除" : "") + ").");
  }
  port::SleepMilliseconds(kBuildPauseMilliseconds);
}

void TForm1::Repack1Click() {
  window_.SetMenuEnabled(MenuItem::kOpen, false);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  outcome_ = Outcome::kRunning;
  try {
    if (ImageKind == "ROFS") Button5Click();
    if (ImageKind == "UDA") Button2Click();
  } catch (...) {
    // After the error box the user can mend the cause and try again.
    outcome_ = Outcome::kFailed;
    EnableMenu(true);
    throw;
  }
}

void TForm1::FailRepack(const std::string& line) {
  window_.AppendLog(line);
  outcome_ = Outcome::kFailed;
  EnableMenu(true);
}

void TForm1::Button5Click() {
  FirstBlockDone = false;
  crobey();
  buildrofs();
  window_.AppendLog("Rebuilding rofs2.....");
  window_.AppendLog("请稍等...       ");
  const ModelProfile profile = Profile();
  const bool short_first = N96Selected();
  ReassembleAndWrite("temp/rofs2r.img", kRofsFiller,
                     {profile.RofsBlockSize, short_first, static_cast<char>(0xFF)},
                     HexToBytes(profile.RofsSignatureHex), false);
}

void TForm1::Button2Click() {
  window_.AppendLog("正在重建 fat16 文件. ");
  window_.AppendLog("请稍等...       ");
  const ModelProfile profile = Profile();
  ReassembleAndWrite("fat16/fat16.img", 0, {profile.UdaBlockSize, false, '\0'},
                     HexToBytes(profile.UdaSignatureHex), true);
}

void TForm1::ReassembleAndWrite(std::string_view rebuilt_relative_path, std::size_t filler,
                                const BlockCutting& cutting, const ByteString& signature, bool uda) {
  OutputData.clear();
  // Released, not only cleared: the last Repack's image would otherwise stay
  // held while the new one is read.
  ByteString().swap(RebuiltData);

  // The input file again, for its prefix: Extract has stripped the copy in
  // memory. Read into ImageData's own storage, before the rebuilt image, so
  // the file is never held twice and its pages are not faulted in afresh.
  CarvedImage = {};
  ImageStripped = false;
  if (!ReloadFileBytes(SourcePath, ImageData)) {
    FailRepack("错误: 输入文件 " + SourcePath + " 不存在或为空, 未生成任何文件.");
    return;
  }

  const std::string rebuilt_path = ProgramPath(rebuilt_relative_path);
  if (!port::ReadWholeFile(rebuilt_path, RebuiltData, static_cast<std::uint64_t>(kMaxByteStringLength) - filler,
                           filler, kTailAlignment)) {
    FailRepack("错误: " + rebuilt_path + " 不存在或为空, 未生成任何文件.");
    return;
  }
  // Without a block header the file has no prefix and no start address:
  // what Open took for the address is any four bytes, and a file built on
  // them would not flash.
  const std::int64_t found = PosFrom(signature, ImageData, 1);
  if (found == 0) {
    FailRepack("错误: 文件 " + SourcePath + " 中没有块头 (no block header: signature " + BytesToHex(signature) +
               " not found), 请检查所选手机型号. 未生成任何文件.");
    return;
  }
  if (StartAddress.size() != 4) {
    FailRepack("错误: 起始地址不是 4 字节 (" + BytesToHex(StartAddress) + "), 未生成任何文件.");
    return;
  }

  const std::string_view prefix = found > 1 ? Take(ImageData, 1, found - 1) : std::string_view();
  const HeaderBuilder build = [this, uda](std::string_view payload, std::string_view address, std::int32_t length) {
    return HexToBytes(uda ? createhederfat(payload, address, length) : createheder(payload, address, length));
  };
  const Reassembly blocks = CutIntoBlocks(RebuiltData, prefix, StartAddress, cutting, build);
  FirstBlockDone = FirstBlockDone || blocks.short_first_block_written;

  port::WriteFileReplacing(ProgramPath("REB-" + SourceFileName), blocks.pieces);

  window_.AppendLog(kSeparatorLine);
  window_.AppendLog("完成! 完成! 完成!          ");
  window_.AppendLog(kSeparatorLine);
  window_.AppendLog("REB-" + SourceFileName +
                    " 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ");
  window_.AppendLog(kSeparatorLine);
  outcome_ = Outcome::kDone;
  EnableMenu(true);
}

}  // namespace larkspur
