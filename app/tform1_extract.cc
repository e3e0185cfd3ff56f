// The Extract command: header stripping on Tfix, then carving (and for ROFS
// unpacking) on Trofs3 or Tfat.
#include "app/tform1.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "extract/tool_runner.h"
#include "format/hex_text.h"
#include "port/files.h"

namespace larkspur {
namespace {

constexpr char kUnpackCommand[] = "readimage.exe -z ../rofs2 ../temp/rofs2.img";

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

void TForm1::TfixExecute() {
  Log("正在定位文件.   ");
  const ModelProfile& profile = extract_profile_;
  StripResult result;
  bool has_kind = true;
  if (ImageKind == "ROFS") {
    result = StripBlockHeaders(ImageData, HexToBytes(profile.RofsSignatureHex), profile.RofsHeaderSize);
  } else if (ImageKind == "UDA") {
    result = StripBlockHeaders(ImageData, HexToBytes(profile.UdaSignatureHex), profile.UdaHeaderSize);
  } else {
    has_kind = false;
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
  const port::ProcessOutcome outcome =
      RunInToolFolder(program_folder_, kUnpackCommand, [this](const std::string& text) { ShowUnableToRun(text); });
  Log(kSeparatorLine);
  if (Succeeded(outcome)) {
    Log("rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ");
  } else {
    Log("rofs2.img 文件解包失败: readimage " + DescribeOutcome(outcome) + ".");
  }
  Log(kSeparatorLine);
  outcome_ = Succeeded(outcome) ? Outcome::kDone : Outcome::kFailed;
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
