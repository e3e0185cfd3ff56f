// The Extract command: header stripping on Tfix, then carving (and for ROFS
// unpacking) on Trofs3 or Tfat.
#include "app/tform1.h"

#include <cstdio>
#include <filesystem>
#include <span>

#include "app/texts.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "jobs/tool_runner.h"
#include "format/block_chain.h"
#include "format/hex_text.h"
#include "format/load_file_bytes.h"
#include "format/partition.h"
#include "port/errors.h"
#include "port/files.h"
#include "fat/fat_extract.h"
#include "fat/fat_reader.h"
#include "fat/folder_record.h"
#include "rofs/kept_entries.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;

constexpr char kUnpackCommand[] = "readimage.exe -z ../rofs2 ../temp/rofs2.img";

// The tree the unpacker writes into is always a fresh folder: the earlier
// tree waits beside it until the unpack has succeeded, and is then kept
// once as rofs2.previous.
constexpr char kTreeFolder[] = "rofs2";
constexpr char kHeldTreeFolder[] = "rofs2.held";
constexpr char kPreviousTreeFolder[] = "rofs2.previous";
constexpr char kKeptRecord[] = "temp/rofs2.kept";
constexpr char kFreshUdaFolder[] = "uda.new";
constexpr char kPreviousUdaFolder[] = "uda.previous";

bool FolderHasEntries(const std::string& folder) {
  std::error_code error;
  return fs::is_directory(folder, error) && !fs::is_empty(folder, error) && !error;
}

// Throws the system's reason for a folder that cannot be moved, naming it.
void MoveFolder(const std::string& from, const std::string& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (error) throw Error("Cannot move folder \"" + from + "\" to \"" + to + "\". " + error.message());
}

void RemoveTree(const std::string& folder) {
  std::error_code error;
  fs::remove_all(folder, error);
  if (error) throw Error("Cannot remove folder \"" + folder + "\". " + error.message());
}

}  // namespace

void TForm1::Extract1Click() {
  DisableForRun();
  if (!TakeRunLock()) return;
  // The run works with the profile in force when it started (the selector
  // is off until it ends).
  extract_profile_ = Profile();
  extract_model_ = ProfileIndex();
  outcome_ = Outcome::kRunning;
  try {
    if (const auto refused = MapImageData()) {
      FailExtract(*refused);
      return;
    }
    EnsureLayout(extract_profile_);
  } catch (...) {
    FinishRun(Outcome::kFailed);
    throw;
  }
  StartWorker(*tfix_);
}

void TForm1::FailExtract(const std::string& line) {
  Log(line);
  FinishRun(Outcome::kFailed);
}

void TForm1::TfixExecute() {
  Log(Say("正在定位文件.   "));
  const ModelProfile& profile = extract_profile_;
  StripResult result;
  const bool has_kind = ImageKind == "ROFS" || ImageKind == "UDA";
  const bool rofs = ImageKind == "ROFS";
  if (has_kind && !ImageStripped) {
    const std::string& signature = Layout.signature;
    // Without a header, or with its last block cut short, the file would
    // give a partition image that looks finished and is not; nothing is
    // stripped or written then.
    if (!Layout.HasHeader()) {
      FailExtract(Say("错误: 文件 %1 中没有块头 (no block header: signature %2 not found), 请检查所选手机型号. "
                      "未生成任何文件.",
                      {SourcePath, BytesToHex(signature)}));
      return;
    }
    if (!Layout.chain_intact) {
      if (const auto cut = FindChainCut(ImageData.bytes(), signature, Layout.header_size)) {
        char where[64];
        std::snprintf(where, sizeof where, "block %zu at file offset 0x%08zX", cut->block_index, cut->header_offset);
        FailExtract(Say("错误: 文件 %1 不完整 (cut short inside the %2 of %3). 未生成任何文件.",
                        {SourcePath, cut->inside_header ? "header" : "payload", where}));
        return;
      }
    }
    if (const auto refused = OtherModelLine(profile, extract_model_)) {
      FailExtract(*refused);
      return;
    }
    if (Layout.chain_intact) {
      // The payloads stay where they are in the file: StrippedStream gives
      // them as views, in place of moving them down over the headers.
      if (!Layout.blocks.empty()) result = {static_cast<std::int64_t>(Layout.blocks.size()), true};
    } else {
      // Without a chain every signature counts, in a copy of the file; the
      // mapping is not needed after it.
      scanned_copy_.assign(ImageData.bytes());
      ImageData.Close();
      result = {StripEveryOccurrence(scanned_copy_, signature, Layout.header_size), false};
      stripped_by_scan_ = true;
    }
    ImageStripped = true;
  }
  CarvedImage = {};
  if (has_kind && !result.chain_intact && result.headers_removed > 0) {
    Log(Say("警告: 块链不完整 (block chain broken), 已在每个标识处删除块头, 请检查所选手机型号."));
  }
  Log(Say("定位成功-偏移        %1 标识   ", {std::to_string(result.headers_removed)}));
  if (!has_kind) {
    ReleaseRunViews();
    return;
  }

  // Where the partition starts, decided by the payload's content: the
  // prefix in front of the first header never belongs to it.
  const std::vector<std::string_view> stream = StrippedStream();
  const std::uint64_t payload_start =
      std::min<std::uint64_t>(Layout.prefix_length.value_or(0), SpansSize(stream));
  if (rofs) {
    const auto rofs_header = FindInSpans(stream, HexToBytes(kRofsMagicHex), payload_start);
    if (!rofs_header) {
      FailExtract(FindFatBootSectorInSpans(stream, payload_start)
                      ? Say("错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (the name says ROFS, the payload "
                            "starts with a FAT boot sector: a user data file; rename it to *.uda.* or use --kind uda). "
                            "未生成任何文件.",
                            {SourcePath})
                      : Say("错误: 文件 %1 中没有 ROFS 头 (no ROFS header in the payload). 未生成任何文件.", {SourcePath}));
      return;
    }
    carve_offset_ = *rofs_header;
    StartWorker(*trofs3_);
    return;
  }
  // StartsWithRofsHeader looks no further than a 64 KiB lead and the header.
  constexpr std::uint64_t kRofsLeadBytes = 0x20000;
  std::string lead_copy;
  if (const auto boot_sector = FindFatBootSectorInSpans(stream, payload_start)) {
    carve_offset_ = payload_start + *boot_sector;
  } else if (StartsWithRofsHeader(BytesOfSpans(stream, payload_start, kRofsLeadBytes, lead_copy))) {
    FailExtract(Say("错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (the name says UDA, the payload starts "
                    "with a ROFS header: a ROFS file; rename it without \"uda\" or use --kind rofs). 未生成任何文件.",
                    {SourcePath}));
    return;
  } else {
    const auto magic = FindInSpans(stream, HexToBytes(kFat16MagicHex), payload_start);
    carve_offset_ = magic.value_or(payload_start);
    Log(!magic
            ? Say("警告: 没有找到 FAT 引导扇区 (no FAT boot sector at the start of the payload), fat16.img "
                  "从载荷开头开始, 请检查.")
            : Say("警告: 没有找到 FAT 引导扇区 (no FAT boot sector at the start of the payload), fat16.img "
                  "从第一个 E9 00 90开始, 请检查."));
  }
  StartWorker(*tfat_);
}

std::vector<std::string_view> TForm1::StrippedStream() const {
  if (stripped_by_scan_) return {scanned_copy_};
  std::vector<std::string_view> stream = PayloadSpans(ImageData.bytes(), Layout);
  // A layout without blocks strips nothing.
  if (stream.empty()) stream.push_back(ImageData.bytes());
  return stream;
}

void TForm1::CarveInto(std::uint64_t offset, std::string_view relative_path) {
  const std::vector<std::string_view> carved = CarveSpans(StrippedStream(), offset);
  // The payloads go from the firmware file to the image file inside the
  // system where it can: their pages never come into this process.
  port::WriteFileReplacing(ProgramPath(relative_path), carved, nullptr, ImageData);
  carved_size_ = SpansSize(carved);
  CarvedImage = {};
  // A partition cut across payloads is read back from its file when it is
  // needed whole; the file's mapping goes now, so the run never holds the
  // firmware file and the image at once.
  if (carved.size() > 1) {
    ImageData.Close();
  } else if (!carved.empty()) {
    CarvedImage = carved.front();
  }
}

void TForm1::MapCarvedImage(std::string_view relative_path) {
  if (!CarvedImage.empty() || carved_size_ == 0) return;
  // The image was written just now: its pages are still in the system's
  // cache, so mapping it costs no read.
  const std::string path = ProgramPath(relative_path);
  if (!carved_view_.Open(path, static_cast<std::uint64_t>(kMaxByteStringLength)) ||
      carved_view_.size() != carved_size_) {
    carved_view_.Close();
    throw FileOpenError(path, "the partition image just written cannot be read back whole");
  }
  CarvedImage = carved_view_.bytes();
}

void TForm1::WriteTreeSource(const std::string& record_relative) {
  TreeSource source;
  source.path = SourcePath;
  source.size = SourceStamp.size;
  source.write_time = SourceStamp.write_time;
  source.partition_size = carved_size_;
  source.model = extract_model_;
  source.lead = carve_offset_ - std::min<std::size_t>(Layout.prefix_length.value_or(0), carve_offset_);
  const std::string text = FormatTreeSource(source);
  port::WriteFileReplacing(ProgramPath(record_relative), {text});
}

void TForm1::LogToolOutput(const std::string& tool, const port::ProcessOutcome& outcome) {
  // Each line names the tool once: most of them already start with its name.
  for (const std::string& line : LastOutputLines(outcome, kToolLinesLogged)) {
    Log("    " + (line.rfind(tool + ":", 0) == 0 ? line : tool + ": " + line));
  }
}

void TForm1::Trofs3Execute() {
  CarveInto(carve_offset_, "./temp/rofs2.img");
  Log(Say("rofs2.img 文件创建成功"));
  Log(Say("正在解包 rofs2.img 文件. "));
  Log(Say("请稍等...       "));

  const std::string tree = ProgramPath(kTreeFolder);
  const std::string held = ProgramPath(kHeldTreeFolder);
  const std::string previous = ProgramPath(kPreviousTreeFolder);
  const std::string record = ProgramPath("temp/rofs2.source");
  // A run that was ended half way left the earlier tree held aside: it goes
  // back first, so it is never lost.
  if (fs::exists(held)) {
    RemoveTree(tree);
    MoveFolder(held, tree);
  }
  // The record names the tree's firmware; while the tree is being replaced
  // there is none, so a run ended half way leaves a tree Repack refuses.
  // The record of the image's hidden entries and attributes belongs to the
  // tree as well.
  ByteString earlier_record;
  const bool had_record = LoadFileBytes(record, earlier_record);
  if (had_record && !port::DeleteFile(record)) throw FileCreateError(record, "the earlier record cannot be removed");
  const std::string kept_record = ProgramPath(kKeptRecord);
  ByteString earlier_kept;
  const bool had_kept = LoadFileBytes(kept_record, earlier_kept);
  const bool had_tree = fs::exists(tree);
  if (had_tree) MoveFolder(tree, held);
  std::error_code error;
  fs::create_directory(tree, error);
  if (error) {
    if (had_tree) MoveFolder(held, tree);
    throw FileCreateError(tree, error.message());
  }

  const port::ProcessOutcome outcome =
      RunInToolFolder(program_folder_, kUnpackCommand, [this](const std::string& text) { ShowUnableToRun(text); },
                      [this](const port::ProgressReport& report) { ReportProgress(report); });
  Progress("");  // the report was the tool's; it has ended
  // A tool that reports success but writes nothing has unpacked nothing
  // (every ROFS image holds at least one file).
  const bool unpacked = Succeeded(outcome) && FolderHasEntries(tree);
  // What a folder cannot show (hidden entries, attributes) is read from the
  // image itself and kept for Repack.
  // An image the unpacker took but our reader does not (another unpacker
  // in exebat) keeps nothing, and the log says so.
  rofs::KeptEntries kept;
  std::string kept_error;
  if (unpacked) {
    try {
      MapCarvedImage("temp/rofs2.img");
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(CarvedImage.data());
      kept = rofs::KeptEntriesFromImage({bytes, CarvedImage.size()}, ProgramPath("temp/rofs2.img"));
    } catch (const std::exception& error) {
      kept_error = error.what();
    }
  }
  // What the closing lines do not say (the earlier tree kept, what the image
  // holds beyond its files, why the unpack failed) follows them.
  std::vector<std::string> notes;
  if (unpacked) {
    RemoveTree(previous);
    if (had_tree && FolderHasEntries(held)) {
      MoveFolder(held, previous);
      notes.push_back(Say("上一次解包的文件已保存在 %1 (the earlier tree was kept there).", {previous}));
    } else if (had_tree) {
      RemoveTree(held);
    }
    const std::string kept_text = rofs::FormatKeptEntries(kept);
    port::WriteFileReplacing(kept_record, {kept_text});
    if (!kept_error.empty()) {
      notes.push_back(Say("警告: 无法读取隐藏项和文件属性 (%1), 打包时将使用默认属性.", {kept_error}));
    }
    if (!kept.empty()) {
      notes.push_back(Say("已记录 %1 个隐藏项和 %2 个文件属性 (hidden entries and file attributes a folder cannot "
                          "show, kept for Repack).",
                          {std::to_string(kept.hidden.size()), std::to_string(kept.attributes.size())}));
    }
    WriteTreeSource("temp/rofs2.source");
  } else {
    // The half-written tree goes; the earlier one, and its records, come
    // back exactly as they were.
    RemoveTree(tree);
    if (had_tree) {
      MoveFolder(held, tree);
    } else {
      fs::create_directory(tree, error);
    }
    if (had_record) port::WriteFileReplacing(record, {earlier_record});
    if (had_kept) {
      port::WriteFileReplacing(kept_record, {earlier_kept});
    } else {
      port::DeleteFile(kept_record);
    }
  }
  Log(kSeparatorLine);
  if (unpacked) {
    Log(Say("rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         "));
  } else if (Succeeded(outcome)) {
    Log(Say("rofs2.img 文件解包失败: readimage exit status 0 but wrote nothing into %1.", {tree}));
  } else {
    Log(Say("rofs2.img 文件解包失败: readimage %1.", {DescribeOutcome(outcome)}));
    LogToolOutput("readimage", outcome);
  }
  if (!unpacked) Log(Say("rofs2 文件夹保持不变 (%1 was left as it was before this Extract).", {tree}));
  Log(kSeparatorLine);
  for (const std::string& note : notes) Log(note);
  if (unpacked) Log(Say("rofs2 文件夹: %1", {tree}));
  FinishRun(unpacked ? Outcome::kDone : Outcome::kFailed);
}

void TForm1::TfatExecute() {
  // The old record goes first: an image written without its record is
  // refused by Repack, never taken for the earlier file's.
  const std::string record = ProgramPath("temp/fat16.source");
  if (port::IsRegularFile(record) && !port::DeleteFile(record)) {
    throw FileCreateError(record, "the earlier record cannot be removed");
  }
  const std::string folder_record = ProgramPath(kUdaRecord);
  port::DeleteFile(folder_record);
  CarveInto(carve_offset_, "./fat16/fat16.img");
  const std::string image_path = ProgramPath("fat16/fat16.img");
  WriteTreeSource("temp/fat16.source");
  RecordFatImageStamp();

  // The FAT image's files go into the folder uda as well, a fresh folder put
  // in place only once every file is out.
  const std::string uda = ProgramPath(kUdaFolder);
  const std::string fresh = ProgramPath(kFreshUdaFolder);
  const std::string previous = ProgramPath(kPreviousUdaFolder);
  std::vector<std::string> notes;
  bool unpacked = false;
  try {
    RemoveTree(fresh);
    MapCarvedImage("fat16/fat16.img");
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(CarvedImage.data());
    const std::span<const std::uint8_t> image(bytes, CarvedImage.size());
    const fat::FatVolume volume = fat::ParseFatImage(image, image_path);
    fs::create_directory(fresh);
    const fat::FatExtractStats stats = fat::ExtractFatImage(image, volume, image_path, fresh);
    RemoveTree(previous);
    if (FolderHasEntries(uda)) {
      MoveFolder(uda, previous);
      notes.push_back(Say("上一次解包的文件已保存在 %1 (the earlier uda folder was kept there).", {previous}));
    } else {
      RemoveTree(uda);
    }
    MoveFolder(fresh, uda);
    const std::string state = fat::RecordFolderState(uda);
    port::WriteFileReplacing(folder_record, {state});
    notes.push_back(Say("fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (edit them there, or edit fat16.img with a "
                        "disk-image tool).",
                        {std::to_string(stats.files), std::to_string(stats.folders), uda}));
    unpacked = true;
  } catch (const std::exception& error) {
    std::error_code ignored;
    fs::remove_all(fresh, ignored);
    notes.push_back(Say("警告: fat16.img 无法解包到 uda 文件夹 (%1); 请用磁盘映像工具修改 fat16.img.", {error.what()}));
  }
  Log(Say("fat16.img 文件创建成功"));
  Log(kSeparatorLine);
  Log(Say("fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  "));
  Log(kSeparatorLine);
  for (const std::string& note : notes) Log(note);
  Log(Say("fat16.img 文件: %1", {image_path}));
  if (unpacked) Log(Say("uda 文件夹: %1", {uda}));
  FinishRun(Outcome::kDone);
}

}  // namespace larkspur
