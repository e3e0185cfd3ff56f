// The Extract command: header stripping on Tfix, then carving (and for ROFS
// unpacking) on Trofs3 or Tfat.
#include "app/tform1.h"

#include <cstdio>
#include <filesystem>
#include <map>

#include "extract/carve.h"
#include "extract/strip.h"
#include "extract/tool_runner.h"
#include "format/block_chain.h"
#include "format/hex_text.h"
#include "port/files.h"

namespace larkspur {
namespace {

constexpr char kUnpackCommand[] = "readimage.exe -z ../rofs2 ../temp/rofs2.img";

// Every path below a folder with its last write time; empty when the folder
// cannot be read. Symbolic links are not followed.
using FolderState = std::map<std::filesystem::path, std::filesystem::file_time_type>;

FolderState StateOfFolder(const std::string& folder) {
  FolderState state;
  std::error_code error;
  for (std::filesystem::recursive_directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    std::error_code time_error;
    state[it->path()] = it->last_write_time(time_error);
  }
  return state;
}

}  // namespace

void TForm1::Extract1Click() {
  window_.SetMenuEnabled(MenuItem::kOpen, false);
  window_.SetMenuEnabled(MenuItem::kExtract, false);
  window_.SetMenuEnabled(MenuItem::kRepack, false);
  // The selector stays usable during an Extract; the run works with the
  // profile in force when it started.
  extract_profile_ = Profile();
  outcome_ = Outcome::kRunning;
  StartWorker(*tfix_);
}

void TForm1::FailExtract(const std::string& line) {
  Log(line);
  outcome_ = Outcome::kFailed;
  EnableMenu(true);
}

void TForm1::TfixExecute() {
  Log("正在定位文件.   ");
  const ModelProfile& profile = extract_profile_;
  StripResult result;
  const bool has_kind = ImageKind == "ROFS" || ImageKind == "UDA";
  if (has_kind && !ImageStripped) {
    const bool rofs = ImageKind == "ROFS";
    const ByteString signature = HexToBytes(rofs ? profile.RofsSignatureHex : profile.UdaSignatureHex);
    const int header_size = rofs ? profile.RofsHeaderSize : profile.UdaHeaderSize;
    // Without a header, or with its last block cut short, the file would
    // give a partition image that looks finished and is not; nothing is
    // stripped or written then.
    if (ImageData.find(signature) == ByteString::npos) {
      FailExtract("错误: 文件 " + SourcePath + " 中没有块头 (no block header: signature " + BytesToHex(signature) +
                  " not found), 请检查所选手机型号. 未生成任何文件.");
      return;
    }
    if (const auto cut = FindChainCut(ImageData, signature, header_size)) {
      char where[64];
      std::snprintf(where, sizeof where, "block %zu at file offset 0x%08zX", cut->block_index, cut->header_offset);
      FailExtract("错误: 文件 " + SourcePath + " 不完整 (cut short inside the " +
                  (cut->inside_header ? "header" : "payload") + " of " + where + "). 未生成任何文件.");
      return;
    }
    result = StripBlockHeaders(ImageData, signature, header_size);
    ImageStripped = true;
  }
  CarvedImage = {};
  if (has_kind && !result.chain_intact && result.headers_removed > 0) {
    Log("警告: 块链不完整 (block chain broken), 已在每个标识处删除块头, 请检查所选手机型号.");
  }
  Log("定位成功-偏移        " + std::to_string(result.headers_removed) + " 标识   ");
  if (ImageKind == "ROFS") StartWorker(*trofs3_);
  if (ImageKind == "UDA") StartWorker(*tfat_);
}

void TForm1::CarveInto(std::string_view magic_hex, std::string_view relative_path) {
  const std::string_view carved = CarvePartition(ImageData, HexToBytes(magic_hex));
  port::WriteFileReplacing(ProgramPath(relative_path), {carved});
  CarvedImage = carved;
}

void TForm1::Trofs3Execute() {
  CarveInto(kRofsMagicHex, "./temp/rofs2.img");
  Log("rofs2.img 文件创建成功");
  Log("正在解包 rofs2.img 文件. ");
  Log("请稍等...       ");
  const std::string unpacked_folder = ProgramPath("rofs2");
  const FolderState before = StateOfFolder(unpacked_folder);
  const port::ProcessOutcome outcome =
      RunInToolFolder(program_folder_, kUnpackCommand, [this](const std::string& text) { ShowUnableToRun(text); });
  // A tool that reports success but leaves rofs2 as it was has unpacked
  // nothing; saying it did would send the user to edit stale files.
  const bool unpacked = Succeeded(outcome) && StateOfFolder(unpacked_folder) != before;
  Log(kSeparatorLine);
  if (unpacked) {
    Log("rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ");
  } else if (Succeeded(outcome)) {
    Log("rofs2.img 文件解包失败: readimage exit status 0 but wrote nothing into " + unpacked_folder + ".");
  } else {
    Log("rofs2.img 文件解包失败: readimage " + DescribeOutcome(outcome) + ".");
  }
  Log(kSeparatorLine);
  outcome_ = unpacked ? Outcome::kDone : Outcome::kFailed;
  EnableMenu(true);
}

void TForm1::TfatExecute() {
  CarveInto(kFat16MagicHex, "./fat16/fat16.img");
  Log("fat16.img 文件创建成功");
  Log(kSeparatorLine);
  Log("fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  ");
  Log(kSeparatorLine);
  outcome_ = Outcome::kDone;
  EnableMenu(true);
}

}  // namespace larkspur
