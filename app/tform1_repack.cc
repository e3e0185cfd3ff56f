// The Repack command: obey file and ROFS build for ROFS images, then the
// reassembly of a flashable "REB-" file. Runs on the user-interface thread.
#include "app/tform1.h"

#include <filesystem>

#include "app/texts.h"
#include "jobs/tool_runner.h"
#include "format/hex_text.h"
#include "format/load_file_bytes.h"
#include "port/errors.h"
#include "port/files.h"
#include "repack/obey_file.h"
#include "repack/obey_names.h"
#include "fat/fat_writer.h"
#include "fat/folder_record.h"
#include "rofs/kept_entries.h"
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
  ListFilesDepthFirst(folder, pattern, recurse, relative_prefix, ListBox1, &UncarriedNames);
}

bool TForm1::crobey() {
  Log(Say("正在创建 obey 文件.    "));
  obey.clear();
  ListBox1.clear();
  UncarriedNames.clear();
  try {
    FileSearch(ProgramPath("rofs2"), "*.*", true);
  } catch (const FolderListError& error) {
    FailRepack(Say("错误: 无法读取文件夹 %1 (the folder cannot be listed; its files would be missing from the image). "
                   "未生成任何文件.",
                   {error.folder()}));
    return false;
  }
  // A name the obey file cannot carry would fail deep in the build, or end
  // up in the image under another name: each one is named, and nothing is
  // built.
#ifdef _WIN32
  constexpr bool kUtf8Names = false;
#else
  constexpr bool kUtf8Names = true;
#endif
  std::vector<std::string> refused;
  for (const std::string& path : UncarriedNames) refused.push_back(path + " (a backslash cannot stand in a name)");
  for (const std::string& relative_path : ListBox1) {
    const std::string problem = ObeyPathProblem(relative_path, kUtf8Names);
    if (!problem.empty()) refused.push_back(ProgramPath(relative_path) + " (" + problem + ")");
  }
  if (!refused.empty()) {
    for (const std::string& line : refused) Log(Say("错误: 文件名无法写入 obey 文件: %1", {line}));
    FailRepack(Say("错误: %1 个文件名无法写入 obey 文件 (rename the files named above), 未生成任何文件.",
                   {std::to_string(refused.size())}));
    return false;
  }
  // Hidden entries and attributes of the extracted image go back into the
  // obey file, except where the user put a real file.
  rofs::KeptEntries kept;
  const std::string kept_record = ProgramPath("temp/rofs2.kept");
  ByteString kept_text;
  try {
    if (LoadFileBytes(kept_record, kept_text)) kept = rofs::ParseKeptEntries(kept_text, kept_record);
  } catch (const rofs::KeptEntriesError& error) {
    FailRepack(Say("错误: %1 (the record of hidden entries is damaged; extract again). 未生成任何文件.", {error.what()}));
    return false;
  }
  const ObeyFileLines file_lines = BuildObeyFileLines(ListBox1, kept);
  obey.push_back(kObeyNameLine);
  obey.push_back(kObeySizeLine);
  obey.insert(obey.end(), file_lines.lines.begin(), file_lines.lines.end());
  const std::string text = JoinObeyLines(obey);
  port::WriteFileReplacing(ProgramPath("temp/rofs2.obey"), {text});
  if (!kept.empty()) {
    Log(Say("保留了 %1 个隐藏项和 %2 个文件属性 (hidden entries and file attributes carried over from the extracted "
            "image).",
            {std::to_string(file_lines.hidden_kept), std::to_string(file_lines.attributes_kept)}));
  }
  for (const std::string& path : file_lines.hidden_replaced) {
    Log(Say("隐藏项 %1 已被 rofs2 中的文件取代, 不再隐藏 (a real file now stands there).", {path}));
  }
  for (const std::string& entry : file_lines.hidden_unwritable) {
    Log(Say("警告: 隐藏项无法写入 obey 文件, 已丢失 (hidden entry dropped: %1).", {entry}));
  }
  for (const std::string& path : file_lines.attributes_partial) {
    Log(Say("警告: %1 的属性只能部分保留 (attribute bits the obey file cannot give were dropped).", {path}));
  }
  Log(Say("完成!    "));
  return true;
}

bool TForm1::buildrofs() {
  Log(Say("正在重建 rofs 文件.       "));
  Log(Say("请稍等...       "));
  const port::ProcessOutcome outcome = RunInToolFolder(
      program_folder_, kBuildCommand, [this](const std::string& text) { ShowUnableToRun(text); },
      [this](const port::ProgressReport& report) { ReportProgress(report); });
  Progress("");  // the report was the tool's; it has ended
  if (Succeeded(outcome)) {
    Log(Say("完成!   "));
  } else {
    Log(Say("rofsbuild %1: rofs 文件重建失败.", {DescribeOutcome(outcome)}));
    LogToolOutput("rofsbuild", outcome);
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
    Log(port::IsRegularFile(target) || port::IsDirectory(target)
            ? Say("新的 rofs 文件仍在 %1 (未能移动到 %2: 旧文件无法删除).", {built, target})
            : Say("新的 rofs 文件仍在 %1 (未能移动到 %2).", {built, target}));
  }
  port::SleepMilliseconds(kBuildPauseMilliseconds);
  return Succeeded(outcome);
}

void TForm1::Repack1Click() {
  DisableForRun();
  if (!TakeRunLock()) return;
  repack_profile_ = Profile();
  repack_model_ = ProfileIndex();
  outcome_ = Outcome::kRunning;
  StartWorker(*trepack_);
}

void TForm1::TrepackExecute() {
  try {
    if (ImageKind == "ROFS") Button5Click();
    if (ImageKind == "UDA") Button2Click();
  } catch (const std::exception& error) {
    // The same error box as a command on the window's own thread; after it
    // the user can mend the cause and try again.
    outcome_ = Outcome::kFailed;
    ShowErrorBox(error.what());
    FinishRun(Outcome::kFailed);
  }
}

void TForm1::FailRepack(const std::string& line) {
  Log(line);
  FinishRun(Outcome::kFailed);
}

bool TForm1::CheckRepackInputs(const std::string& tree_relative, const std::string& record_relative) {
  // The file must still be the one opened: its prefix and layout were read
  // from it then, and the tree's record names it as it was.
  if (const auto refused = MapImageData()) {
    FailRepack(*refused);
    return false;
  }
  const ModelProfile& profile = repack_profile_;
  EnsureLayout(profile);
  // Without a block header the file has no prefix and no start address:
  // what Open took for the address is any four bytes, and a file built on
  // them would not flash.
  if (!Layout.HasHeader()) {
    FailRepack(Say("错误: 文件 %1 中没有块头 (no block header: signature %2 not found), 请检查所选手机型号. "
                   "未生成任何文件.",
                   {SourcePath, BytesToHex(Layout.signature)}));
    return false;
  }
  if (StartAddress.size() != 4) {
    FailRepack(Say("错误: 起始地址不是 4 字节 (%1), 未生成任何文件.", {BytesToHex(StartAddress)}));
    return false;
  }
  if (const auto refused = OtherModelLine(profile, repack_model_)) {
    FailRepack(*refused);
    return false;
  }

  const std::string tree = ProgramPath(tree_relative);
  ByteString record_text;
  std::optional<TreeSource> record;
  if (LoadFileBytes(ProgramPath(record_relative), record_text)) record = ParseTreeSource(record_text);
  TreeSource opened;
  opened.path = SourcePath;
  opened.size = SourceStamp.size;
  opened.write_time = SourceStamp.write_time;
  if (!record) {
    FailRepack(Say("错误: 不知道 %1 是从哪个文件解包的 (no record of an Extract), 请先解包 %2. 未生成任何文件.",
                   {tree, SourcePath}));
    return false;
  }
  if (!record->SameFile(opened)) {
    FailRepack(Say("错误: %1 是从另一个文件解包的 (extracted from %2), 请先解包 %3. 未生成任何文件.",
                   {tree, record->path + (record->path == SourcePath ? " before it changed" : ""), SourcePath}));
    return false;
  }
  std::error_code error;
  // A missing or empty FAT image is named when it is read.
  if (ImageKind == "ROFS" && (!std::filesystem::exists(tree, error) || std::filesystem::is_empty(tree, error))) {
    FailRepack(Say("错误: %1 是空的 (nothing to pack), 请先解包 %2. 未生成任何文件.", {tree, SourcePath}));
    return false;
  }
  original_partition_size_ = record->partition_size;
  original_lead_ = record->lead;
  return true;
}

void TForm1::Button5Click() {
  FirstBlockDone = false;
  if (!CheckRepackInputs("rofs2", "temp/rofs2.source")) return;
  if (!crobey()) return;
  if (!buildrofs()) {
    FailRepack(Say("错误: rofs 文件重建失败 (rofsbuild failed; its last lines are above), 未生成任何文件."));
    return;
  }
  Log("Rebuilding rofs2.....");
  Log(Say("请稍等...       "));
  const ModelProfile& profile = repack_profile_;
  const bool short_first = repack_model_ == kN96ModelIndex;
  ReassembleAndWrite("temp/rofs2r.img", kRofsFiller,
                     {profile.RofsBlockSize, short_first, static_cast<char>(0xFF)},
                     HexToBytes(profile.RofsSignatureHex), false);
}

std::string TForm1::FatImageStampText() const {
  const port::FileStamp stamp = port::StampOfFile(ProgramPath("fat16/fat16.img"));
  return std::to_string(stamp.size) + " " + std::to_string(stamp.write_time) + "\n";
}

void TForm1::RecordFatImageStamp() {
  const std::string text = FatImageStampText();
  port::WriteFileReplacing(ProgramPath(kFatImageStamp), {text});
}

bool TForm1::ChooseFatImage() {
  // The user edits either the folder uda or fat16.img with another tool.
  // Neither changed: fat16.img as it is, so the round trip is identical.
  const std::string image_path = ProgramPath("fat16/fat16.img");
  const std::string uda = ProgramPath(kUdaFolder);
  ByteString folder_record, stamp_text;
  const bool have_folder_record = LoadFileBytes(ProgramPath(kUdaRecord), folder_record);
  const bool uda_changed = have_folder_record && !fat::FolderMatchesRecord(uda, folder_record);
  const bool image_changed =
      !LoadFileBytes(ProgramPath(kFatImageStamp), stamp_text) || stamp_text != FatImageStampText();
  if (uda_changed && image_changed) {
    FailRepack(Say("错误: uda 文件夹和 fat16.img 都已被修改 (both %1 and %2 changed since the Extract; keep the "
                   "changes of one, or extract again), 未生成任何文件.",
                   {uda, image_path}));
    return false;
  }
  if (!uda_changed) {
    Log(image_changed ? Say("使用 fat16.img (edited with another tool since the Extract).")
                      : Say("使用 fat16.img (nothing in uda changed)."));
    return true;
  }
  std::vector<std::uint8_t> rebuilt;
  {
    port::FileView original;
    if (!original.Open(image_path, static_cast<std::uint64_t>(kMaxByteStringLength))) {
      FailRepack(Say("错误: %1 不存在或为空, 未生成任何文件.", {image_path}));
      return false;
    }
    try {
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(original.bytes().data());
      rebuilt = fat::BuildFatImage({bytes, original.size()}, image_path, uda);
    } catch (const rofs::RofsError& error) {
      FailRepack(Say("错误: 无法从 uda 文件夹重建 fat16.img (%1), 未生成任何文件.", {error.what()}));
      return false;
    }
    // Dropped before the new image replaces the file (Windows holds a mapped
    // file open).
  }
  // The rebuilt image takes fat16.img's place, and the records follow it:
  // a second Repack then finds nothing changed.
  port::WriteFileReplacing(image_path, {std::string_view(reinterpret_cast<const char*>(rebuilt.data()), rebuilt.size())});
  RecordFatImageStamp();
  const std::string state = fat::RecordFolderState(uda);
  port::WriteFileReplacing(ProgramPath(kUdaRecord), {state});
  Log(Say("使用 uda 文件夹: fat16.img 已从 %1 重建 (the folder changed; same geometry as the original image).", {uda}));
  return true;
}

void TForm1::Button2Click() {
  if (!CheckRepackInputs("fat16/fat16.img", "temp/fat16.source")) return;
  if (!ChooseFatImage()) return;
  Log(Say("正在重建 fat16 文件. "));
  Log(Say("请稍等...       "));
  const ModelProfile& profile = repack_profile_;
  // Zero sectors that stood in front of the FAT image go back in front of it.
  ReassembleAndWrite("fat16/fat16.img", static_cast<std::size_t>(original_lead_), {profile.UdaBlockSize, false, '\0'},
                     HexToBytes(profile.UdaSignatureHex), true);
}

void TForm1::ReassembleAndWrite(std::string_view rebuilt_relative_path, std::size_t filler,
                                const BlockCutting& cutting, const ByteString& signature, bool uda) {
  const std::string rebuilt_path = ProgramPath(rebuilt_relative_path);
  if (!RebuiltData.Open(rebuilt_path, static_cast<std::uint64_t>(kMaxByteStringLength) - filler)) {
    FailRepack(Say("错误: %1 不存在或为空, 未生成任何文件.", {rebuilt_path}));
    return;
  }
  // The prefix is the mapped file's, in front of its first header. The
  // payloads are views of the rebuilt image behind `filler` zero bytes;
  // only the blocks holding zeros and the padded tail are copies.
  const std::size_t prefix_length = *Layout.prefix_length;
  const std::string_view prefix = ImageData.bytes().substr(0, prefix_length);
  const HeaderBuilder build = [this, uda](std::string_view payload, std::string_view address, std::int32_t length) {
    return HexToBytes(uda ? createhederfat(payload, address, length) : createheder(payload, address, length));
  };
  // The check values are computed over the file's bytes read block by block
  // into one buffer; the writer has the system copy the payloads from file to
  // file where it can, so the mapping's pages are never brought in.
  const PayloadReader read = [this](std::string_view part, char* to) { RebuiltData.CopyOut(part, to); };
  const Reassembly blocks = CutIntoBlocks(filler, RebuiltData.bytes(), prefix, StartAddress, cutting, build, read);
  FirstBlockDone = FirstBlockDone || blocks.short_first_block_written;

  // Each block is a header and a payload piece, after the prefix: the
  // writer's pieces tell how many blocks are on disk.
  const std::size_t lead_pieces = prefix.empty() ? 0 : 1;
  const std::size_t block_count = blocks.headers.size();
  port::WriteFileReplacing(ProgramPath("REB-" + SourceFileName), blocks.pieces,
                           [&](std::size_t written, std::size_t) {
                             const std::size_t done = written > lead_pieces ? (written - lead_pieces) / 2 : 0;
                             Progress(Say("进度: %1", {"blocks " + std::to_string(done) + " of " +
                                                           std::to_string(block_count)}));
                           },
                           RebuiltData);
  Progress("");

  // The phone's partition does not grow with the image: a bigger one may not
  // fit, and only the user can know.
  // Counted as the blocks carry it: the zeros in front left out, the padded
  // tail in.
  std::uint64_t rebuilt_size = 0;
  for (std::size_t i = 2; i < blocks.pieces.size(); i += 2) rebuilt_size += blocks.pieces[i].size();
  rebuilt_size -= std::min<std::uint64_t>(filler, rebuilt_size);
  if (rebuilt_size > original_partition_size_) {
    const std::size_t new_blocks = blocks.headers.size();
    const std::size_t added = new_blocks > Layout.blocks.size() ? new_blocks - Layout.blocks.size() : 0;
    Log(Say("警告: 新的分区比原来的大 (the rebuilt partition is %1 bytes, the original %2 bytes; %3 blocks added), "
            "请确认手机的分区装得下.",
            {std::to_string(rebuilt_size), std::to_string(original_partition_size_), std::to_string(added)}));
  }

  Log(kSeparatorLine);
  Log(Say("完成! 完成! 完成!          "));
  Log(kSeparatorLine);
  // A program folder given on the command line is named: "the program's
  // folder" would send the user to the wrong one.
  Log(ProgramFolderGiven
          ? Say("REB-%1 文件生成在 %2, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
                {SourceFileName, program_folder_})
          : Say("REB-%1 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
                {SourceFileName}));
  Log(kSeparatorLine);
  // rofsbuild reports the image in the tool folder; the log says where it is
  // now.
  if (!uda) Log(Say("rofs2r.img 文件: %1", {rebuilt_path}));
  Log(Say("REB 文件: %1", {ProgramPath("REB-" + SourceFileName)}));
  FinishRun(Outcome::kDone);
}

}  // namespace larkspur
