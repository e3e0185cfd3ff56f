#include "pipeline/extract.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/hex.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "fat/fat_extract.h"
#include "fat/fat_reader.h"
#include "format/block_damage.h"
#include "format/hex_text.h"
#include "format/partition.h"
#include "format/table_of_contents.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/folders.h"
#include "rofs/kept_entries.h"
#include "rofs/rofs_reader.h"
#include "workspace/transaction.h"

namespace larkspur::pipeline {
namespace {

// One Extract: the file mapped, what its steps found, and the image
// written. Lives for one call of Extract, on the caller's thread.
class Extraction {
 public:
  Extraction(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
             const ExtractOptions& options);

  // Maps the file. Refused when it is gone, empty or changed since Open.
  Outcome Begin();
  // Checks the blocks, strips the headers and finds where the partition
  // starts by its content.
  Outcome Locate();
  // Writes the partition image and unpacks it, with its closing lines.
  Outcome Unpack();

 private:
  // The stripped file: the prefix, then each payload, as views into the
  // mapped file (or into the copy a file with a broken chain was stripped
  // in).
  std::vector<std::string_view> StrippedStream() const;
  // Strips the mapped file at every signature, in a copy that then stands
  // for the stripped file; returns the count. The mapping goes.
  std::int64_t StripCopyAtEverySignature();
  void CarveInto(std::string_view relative_path);
  // The carved image in one piece, for the readers that need it so: the
  // payload it lies in, or the image file just written, mapped back.
  std::string_view CarvedImage(std::string_view relative_path);
  void WriteTreeSource(PartitionKind kind);
  void LogToolLines(const std::string& tool, const ToolResult& result);
  // The refusal of a damaged file, or the warnings when it is taken anyway.
  std::optional<Outcome> CheckDamage();
  // The line that says which header bytes differ from the profile's.
  void NoteKeptHeaderBytes();
  // The line that says how much of its erase area the partition leaves.
  std::optional<Text> EraseBudgetNote() const;
  Outcome UnpackRofs();
  Outcome UnpackFat();
  // Keeps the earlier content of `tree` as its ".previous" when it held
  // anything; returns where.
  std::optional<std::string> KeepEarlierTree(Transaction& transaction, std::string_view tree);

  OpenedFile& file_;
  const int model_;
  const Workspace& workspace_;
  RofsTools& tools_;
  Reporter& reporter_;
  const ExtractOptions& options_;
  port::FileView image_data_;
  // The stripped copy of a file whose chain of blocks broke; for this run
  // only.
  std::optional<std::string> scanned_copy_;
  port::FileView carved_view_;
  std::string_view carved_in_place_;
  std::uint64_t carve_offset_ = 0;
  std::uint64_t carved_size_ = 0;
  // The unpacked ROFS image's header, when our reader reads it.
  std::optional<rofs::RofsHeader> rofs_header_;
};

}  // namespace

Extraction::Extraction(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                       const ExtractOptions& options)
    : file_(file), model_(model), workspace_(workspace), tools_(tools), reporter_(reporter), options_(options) {}

Outcome Extraction::Begin() {
  if (auto refused = MapOpenedFile(file_, image_data_)) return Outcome::Refused(std::move(*refused));
  EnsureLayout(file_, image_data_.bytes(), model_);
  return Outcome::Done();
}

Outcome Extraction::Locate() {
  reporter_.Log(Text("正在定位文件.   "));
  const FirmwareLayout& layout = file_.layout;
  std::int64_t headers_removed = 0;
  bool chain_intact = false;
  if (!file_.stripped) {
    // Without a header of the model, or with its last block cut short, the
    // file would give a partition image that looks finished and is not;
    // nothing is stripped or written then.
    if (layout.end == ChainEnd::kCutShort && (layout.HasHeader() || layout.end_in_named_block)) {
      const std::string offset = HexNumber(layout.end_offset, 8);
      const Text where = layout.end_in_named_block
                             ? Text("文件偏移 %1 处的命名块", {offset})
                             : Text("文件偏移 %2 处的块 %1", {std::to_string(layout.blocks.size()), offset});
      return Outcome::Refused(Text("错误: 文件 %1 不完整 (%3: %2被截断). 未生成任何文件.",
                                   {file_.path, layout.ends_inside_header ? "块头" : "载荷", where}));
    }
    if (!layout.HasHeader()) return *CheckModel(file_, image_data_.bytes(), model_, reporter_);
    if (auto refused = CheckModel(file_, image_data_.bytes(), model_, reporter_)) return std::move(*refused);
    if (auto refused = CheckDamage()) return std::move(*refused);
    if (layout.chain_intact) {
      // The payloads stay where they are in the file: StrippedStream gives
      // them as views, in place of moving them down over the headers.
      headers_removed = static_cast<std::int64_t>(layout.blocks.size());
      chain_intact = true;
      NoteKeptHeaderBytes();
    } else {
      // Without a chain (damaged, and taken as it is on request) every
      // signature counts, in a copy of the file.
      headers_removed = StripCopyAtEverySignature();
    }
    file_.stripped = true;
  } else if (!layout.chain_intact) {
    // An earlier Extract stripped the file at every signature and counted
    // the headers then: the same bytes again, none left to count.
    StripCopyAtEverySignature();
  }
  if (!chain_intact && headers_removed > 0) {
    reporter_.Log(Text("警告: 块链不完整, 已在每个标识处删除块头, 请检查所选手机型号."));
  }
  reporter_.Log(Text("定位成功-偏移        %1 标识   ", {std::to_string(headers_removed)}));

  // Where the partition starts, decided by the payload's content: the
  // prefix in front of the first header never belongs to it.
  const std::vector<std::string_view> stream = StrippedStream();
  const std::uint64_t payload_start = std::min<std::uint64_t>(layout.prefix_length.value_or(0), SpansSize(stream));
  if (file_.kind == PartitionKind::kRofs) {
    const auto rofs_header = FindInSpans(stream, HexToBytes(kRofsMagicHex), payload_start);
    if (!rofs_header) {
      return Outcome::Refused(
          FindFatBootSectorInSpans(stream, payload_start)
              ? Text("错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (载荷以 FAT 引导扇区开头, 是用户数据文件; 请把它改名为 %2 或使用 %3). 未生成任何文件.",
                     {file_.path, std::string("*.uda.*"), std::string("--kind uda")})
              : Text("错误: 文件 %1 中没有 ROFS 头 (载荷中没有 ROFS 头). 未生成任何文件.", {file_.path}));
    }
    carve_offset_ = *rofs_header;
    // What stands in front of the ROFS header in the payloads goes back in
    // front of the rebuilt image: zeros, as the phone's own files have, or
    // on request these bytes. A signed image's header is no zeros.
    std::string lead_copy;
    const std::string_view lead =
        BytesOfSpans(stream, payload_start, carve_offset_ - std::min(payload_start, carve_offset_), lead_copy);
    if (lead.find_first_not_of('\0') != std::string_view::npos) {
      reporter_.Log(
          Text("注意: ROFS 头前面的 %1 字节不全是零 (开头是 %2; 打包时在那里写零, 使用 %3 则写这些字节).",
               {std::to_string(lead.size()), SpacedHex(lead.substr(0, 4)), std::string("--keep-lead")}));
    }
    return Outcome::Done();
  }
  // StartsWithRofsHeader looks no further than a 64 KiB lead and the header.
  constexpr std::uint64_t kRofsLeadBytes = 0x20000;
  std::string lead_copy;
  if (const auto boot_sector = FindFatBootSectorInSpans(stream, payload_start)) {
    carve_offset_ = payload_start + *boot_sector;
  } else if (StartsWithRofsHeader(BytesOfSpans(stream, payload_start, kRofsLeadBytes, lead_copy))) {
    return Outcome::Refused(
        Text("错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (载荷以 ROFS 头开头, 是 ROFS 文件; 请把名称中的 %2 去掉或使用 %3). 未生成任何文件.",
             {file_.path, std::string("\"uda\""), std::string("--kind rofs")}));
  } else {
    const auto magic = FindInSpans(stream, HexToBytes(kFat16MagicHex), payload_start);
    carve_offset_ = magic.value_or(payload_start);
    reporter_.Log(!magic
                      ? Text("警告: 载荷开头没有找到 FAT 引导扇区, fat16.img 从载荷开头开始, 请检查.")
                      : Text("警告: 载荷开头没有找到 FAT 引导扇区, fat16.img 从第一个 E9 00 90开始, 请检查."));
  }
  return Outcome::Done();
}

Outcome Extraction::Unpack() { return file_.kind == PartitionKind::kRofs ? UnpackRofs() : UnpackFat(); }

std::optional<Outcome> Extraction::CheckDamage() {
  const FirmwareLayout& layout = file_.layout;
  std::vector<Text> problems;
  if (layout.end == ChainEnd::kBroken) {
    const std::size_t at = layout.end_offset;
    const std::string offset = HexNumber(at, 8), found = SpacedHex(image_data_.bytes().substr(at, 4));
    problems.push_back(layout.blocks.empty()
                           ? Text("第一个块结束于文件偏移 %1, 那里没有块头 (实为 %2)", {offset, found})
                           : Text("块 %1 结束于文件偏移 %2, 那里没有块头 (实为 %3)",
                                  {std::to_string(layout.blocks.size() - 1), offset, found}));
  }
  // The check values are read through the file, not the mapping, so the
  // payloads' pages never come into the process (see FileView::CopyOut).
  for (const BlockDamage& damage : FindBlockDamage(
           image_data_.bytes(), layout, [this](std::string_view part, char*to) { image_data_.CopyOut(part, to); })) {
    problems.push_back(DescribeDamage(damage));
  }
  if (problems.empty()) return std::nullopt;
  if (!options_.accept_damaged) {
    const Text more = problems.size() > 1 ? Text("; 另外还有 %1 处", {std::to_string(problems.size() - 1)}) : Text("");
    return Outcome::Refused(Text("错误: 文件 %1 已损坏 (%2%3), 未生成任何文件.", {file_.path, problems.front(), more}));
  }
  for (const Text& problem : problems) {
    reporter_.Log(Text("警告: 文件已损坏, 按要求仍然解包 (%1).", {problem}));
  }
  return std::nullopt;
}

void Extraction::NoteKeptHeaderBytes() {
  // Bytes of the headers that the profile does not give (the type field of
  // real files, say) go back into the rebuilt headers as they are: the log
  // says where they differ, once.
  const BlockFormat& format = BlockFormatOf(model_, file_.kind);
  const std::string_view bytes = image_data_.bytes();
  std::string first_different;
  std::size_t count = 0, first = 0, last = 0;
  for (std::size_t i = 0; i < file_.layout.blocks.size(); ++i) {
    const std::string_view field =
        bytes.substr(file_.layout.blocks[i].header_offset + kTypeFieldOffset, format.type_field.size());
    if (field == format.type_field) continue;
    if (count++ == 0) first_different = std::string(field), first = i;
    last = i;
  }
  if (count == 0) return;
  reporter_.Log(
      Text("注意: 块头中有配置文件之外的字节, 打包时保留 (%3 个块中有 %2 个是 %1, 从块 %4 到块 %5).",
           {SpacedHex(first_different), std::to_string(count), std::to_string(file_.layout.blocks.size()),
            std::to_string(first), std::to_string(last)}));
}

std::optional<Text> Extraction::EraseBudgetNote() const {
  const FirmwareLayout& layout = file_.layout;
  if (!layout.toc || layout.blocks.empty()) return std::nullopt;
  std::uint64_t payload_bytes = 0;
  for (const LayoutBlock& block : layout.blocks) payload_bytes += block.payload_length;
  const std::optional<EraseBudget> budget =
      EraseBudgetOf(EraseAreasOf(*layout.toc), layout.blocks.front().address, payload_bytes);
  if (!budget) return std::nullopt;
  return Text("擦除区 %1 在分区之后还有 %2 字节空闲.",
              {HexNumber(budget->area.start, 8) + "-" + HexNumber(budget->area.end, 8), std::to_string(budget->free)});
}

std::int64_t Extraction::StripCopyAtEverySignature() {
  // The mapping is not needed after the copy.
  scanned_copy_.emplace(image_data_.bytes());
  image_data_.Close();
  return StripEveryOccurrence(*scanned_copy_, file_.layout.signature, file_.layout.header_size);
}

std::vector<std::string_view> Extraction::StrippedStream() const {
  if (scanned_copy_) return {*scanned_copy_};
  std::vector<std::string_view> stream = PayloadSpans(image_data_.bytes(), file_.layout);
  // A layout without blocks strips nothing.
  if (stream.empty()) stream.push_back(image_data_.bytes());
  return stream;
}

void Extraction::CarveInto(std::string_view relative_path) {
  const std::vector<std::string_view> carved = CarveSpans(StrippedStream(), carve_offset_);
  // The payloads go from the firmware file to the image file inside the
  // system where it can: their pages never come into this process.
  port::WriteFileReplacing(workspace_.Path(relative_path), carved, nullptr, image_data_);
  carved_size_ = SpansSize(carved);
  carved_in_place_ = {};
  // A partition cut across payloads is read back from its file when it is
  // needed whole; the file's mapping goes now, so the run never holds the
  // firmware file and the image at once.
  if (carved.size() > 1) {
    image_data_.Close();
  } else if (!carved.empty()) {
    carved_in_place_ = carved.front();
  }
}

std::string_view Extraction::CarvedImage(std::string_view relative_path) {
  if (!carved_in_place_.empty() || carved_size_ == 0) return carved_in_place_;
  if (!carved_view_.empty()) return carved_view_.bytes();
  // The image was written just now: its pages are still in the system's
  // cache, so mapping it costs no read.
  const std::string path = workspace_.Path(relative_path);
  if (!carved_view_.Open(path, kMaxFirmwareSize) || carved_view_.size() != carved_size_) {
    carved_view_.Close();
    throw FileOpenError(path, "the partition image just written cannot be read back whole");
  }
  return carved_view_.bytes();
}

void Extraction::WriteTreeSource(PartitionKind kind) {
  TreeSource source;
  source.path = file_.path;
  source.size = file_.stamp.size;
  source.write_time = file_.stamp.write_time;
  source.partition_size = carved_size_;
  source.model = model_;
  source.lead = carve_offset_ - std::min<std::uint64_t>(file_.layout.prefix_length.value_or(0), carve_offset_);
  // What the ROFS header says that Repack keeps.
  if (rofs_header_) {
    const rofs::ImageVersion& version = rofs_header_->version;
    // The obey file's version= takes no negative numbers.
    if (version.major >= 0 && version.minor >= 0 && version.build >= 0) {
      source.rofs_version = std::to_string(version.major) + "." + std::to_string(version.minor) + "(" +
                            std::to_string(version.build) + ")";
    }
    source.rofs_max_size = rofs_header_->max_image_size;
    source.rofs_time = rofs_header_->time;
  }
  workspace_.WriteTreeSource(kind, source);
}

void Extraction::LogToolLines(const std::string& tool, const ToolResult& result) {
  // Each line names the tool once: most of them already start with its name.
  for (const std::string& line : result.last_lines) {
    reporter_.Log(Text("    " + (line.rfind(tool + ":", 0) == 0 ? line : tool + ": " + line)));
  }
}

Outcome Extraction::UnpackRofs() {
  // Every file and folder the Extract changes goes aside first: until the
  // commit at its end, any failure puts them all back as they were.
  Transaction transaction(workspace_);
  transaction.Replace(work::kRofsImage);
  CarveInto(work::kRofsImage);
  reporter_.Log(Text("rofs2.img 文件创建成功"));
  reporter_.Log(Text("正在解包 rofs2.img 文件. "));
  reporter_.Log(Text("请稍等...       "));

  // The records that tie the tree to its firmware go with the tree.
  transaction.Replace(work::kRofsSource);
  transaction.Replace(work::kKeptEntries);
  transaction.Replace(work::kRofsTree);
  const std::string tree = workspace_.Path(work::kRofsTree);
  port::CreateFolder(tree);

  const ToolResult result = tools_.Unpack(workspace_, reporter_);
  // A tool that reports success but writes nothing has unpacked nothing
  // (every ROFS image holds at least one file).
  const bool unpacked = result.succeeded && port::FolderHasEntries(tree);
  // What a folder cannot show (hidden entries, attributes) is read from the
  // image itself and kept for Repack. An image the unpacker took but our
  // reader does not (another unpacker in exebat) keeps nothing, and the log
  // says so.
  rofs::KeptEntries kept;
  std::string kept_error;
  if (unpacked) {
    try {
      const std::string_view image = CarvedImage(work::kRofsImage);
      const auto* bytes = reinterpret_cast<const std::uint8_t*>(image.data());
      kept = rofs::KeptEntriesFromImage({bytes, image.size()}, workspace_.Path(work::kRofsImage));
      rofs_header_ = rofs::ParseRofsHeader({bytes, image.size()}, workspace_.Path(work::kRofsImage));
    } catch (const std::exception& error) {
      kept_error = error.what();
    }
  }
  // What the closing lines do not say (the earlier tree kept, what the image
  // holds beyond its files, why the unpack failed) follows them.
  std::vector<Text> notes;
  if (unpacked) {
    workspace_.WriteRecord(work::kKeptEntries, rofs::FormatKeptEntries(kept));
    if (!kept_error.empty()) {
      notes.push_back(Text("警告: 无法读取隐藏项和文件属性 (%1), 打包时将使用默认属性.", {kept_error}));
    }
    if (!kept.empty()) {
      notes.push_back(
          Text("已记录 %1 个隐藏项和 %2 个文件属性 (文件夹无法显示它们, 打包时使用).",
               {std::to_string(kept.hidden.size()), std::to_string(kept.attributes.size())}));
    }
    WriteTreeSource(PartitionKind::kRofs);
    if (const auto previous = KeepEarlierTree(transaction, work::kRofsTree)) {
      notes.insert(notes.begin(), Text("上一次解包的文件已保存在 %1.", {*previous}));
    }
    transaction.Commit();
  } else {
    // The half-written tree goes; the earlier one, its records and its
    // image come back exactly as they were.
    transaction.Rollback();
  }
  reporter_.Log(Text(kSeparatorLine));
  if (unpacked) {
    reporter_.Log(Text("rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         "));
  } else if (result.succeeded) {
    reporter_.Log(Text("rofs2.img 文件解包失败: readimage 退出状态为 0, 但没有在 %1 中写入任何文件.", {tree}));
  } else {
    reporter_.Log(Text("rofs2.img 文件解包失败: readimage %1.", {result.description}));
    LogToolLines("readimage", result);
  }
  if (!unpacked) reporter_.Log(Text("rofs2 文件夹保持不变 (%1 仍是这次解包之前的样子).", {tree}));
  reporter_.Log(Text(kSeparatorLine));
  for (const Text& note : notes) reporter_.Log(note);
  if (unpacked) {
    if (const auto budget = EraseBudgetNote()) reporter_.Log(*budget);
    reporter_.Log(Text("rofs2 文件夹: %1", {tree}));
  }
  return unpacked ? Outcome::Done() : Outcome::Failed();
}

std::optional<std::string> Extraction::KeepEarlierTree(Transaction& transaction, std::string_view tree) {
  // The earlier tree is kept once, when it held anything; the one kept
  // before it goes.
  const std::string previous = std::string(tree) + work::kPreviousSuffix;
  const std::optional<std::string> earlier = transaction.Earlier(tree);
  if (!earlier || !port::FolderHasEntries(*earlier)) {
    transaction.Replace(previous);
    return std::nullopt;
  }
  transaction.KeepEarlierAs(tree, previous);
  return workspace_.Path(previous);
}

Outcome Extraction::UnpackFat() {
  // Every file and folder the Extract changes goes aside first: until the
  // commit at its end, any failure of the disk puts them all back.
  Transaction transaction(workspace_);
  transaction.Replace(work::kFatSource);
  transaction.Replace(work::kUdaRecord);
  transaction.Replace(work::kFatStamp);
  transaction.Replace(work::kFatImage);
  CarveInto(work::kFatImage);
  const std::string image_path = workspace_.Path(work::kFatImage);
  WriteTreeSource(PartitionKind::kUda);
  workspace_.RecordFatImageStamp();

  // The FAT image's files go into the folder uda as well. What the image
  // holds may keep it from being made (a name the folder cannot hold, a
  // loop in the FAT, a FAT32 volume): then there is no folder uda at all,
  // never one holding another firmware's files, and fat16.img is the one
  // to edit.
  transaction.Replace(work::kUdaTree);
  const std::string uda = workspace_.Path(work::kUdaTree);
  std::vector<Text> notes;
  std::optional<Text> left_out;
  fat::FatExtractStats stats;
  const std::string_view carved = CarvedImage(work::kFatImage);
  const std::span<const std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(carved.data()), carved.size());
  if (IsFat32BootSector(carved)) {
    left_out = Text("这是 FAT32 卷; 只有 FAT12 和 FAT16 卷能解包到文件夹");
  } else {
    try {
      const fat::FatVolume volume = fat::ParseFatImage(image, image_path);
      port::CreateFolder(uda);
      stats = fat::ExtractFatImage(image, volume, image_path, uda);
      workspace_.RecordUdaFolder();
    } catch (const rofs::FormatError& error) {
      // What the image holds, not a failure of the disk: the image stands,
      // the folder does not.
      port::RemoveTree(uda);
      left_out = Text(std::string(error.what()));
    }
  }
  if (const auto previous = KeepEarlierTree(transaction, work::kUdaTree)) {
    notes.push_back(Text("上一次解包的 uda 文件夹已保存在 %1.", {*previous}));
  }
  if (left_out) {
    notes.push_back(Text("警告: 没有生成 uda 文件夹 (%1); fat16.img 已写好, 请用磁盘映像工具修改 fat16.img.", {*left_out}));
  } else {
    notes.push_back(Text("fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (请在那里修改, 或用磁盘映像工具修改 fat16.img).",
                         {std::to_string(stats.files), std::to_string(stats.folders), uda}));
  }
  transaction.Commit();
  reporter_.Log(Text("fat16.img 文件创建成功"));
  reporter_.Log(Text(kSeparatorLine));
  reporter_.Log(Text("fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  "));
  reporter_.Log(Text(kSeparatorLine));
  for (const Text& note : notes) reporter_.Log(note);
  if (const auto budget = EraseBudgetNote()) reporter_.Log(*budget);
  reporter_.Log(Text("fat16.img 文件: %1", {image_path}));
  if (!left_out) reporter_.Log(Text("uda 文件夹: %1", {uda}));
  Outcome done = Outcome::Done();
  done.folder_left_out = left_out.has_value();
  return done;
}

Outcome Extract(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                const ExtractOptions& options) {
  Extraction run(file, model, workspace, tools, reporter, options);
  Outcome outcome = run.Begin();
  if (!outcome.done()) return outcome;
  if (options.work_begins) options.work_begins();
  outcome = run.Locate();
  if (outcome.done()) outcome = run.Unpack();
  return outcome;
}

}  // namespace larkspur::pipeline
