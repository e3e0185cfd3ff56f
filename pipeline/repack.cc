#include "pipeline/repack.h"

#include <algorithm>
#include <cstdlib>

#include "base/hex.h"
#include "extract/carve.h"
#include "extract/strip.h"
#include "fat/fat_writer.h"
#include "format/block_header.h"
#include "format/table_of_contents.h"
#include "pipeline/difference_report.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/folders.h"
#include "repack/obey_file.h"
#include "repack/obey_names.h"
#include "repack/reassemble.h"
#include "rofs/kept_entries.h"
#include "rofs/symbian_time.h"
#include "vpl/file_crc.h"
#include "vpl/package_folder.h"
#include "vpl/vpl_writer.h"
#include "workspace/transaction.h"

namespace larkspur::pipeline {
namespace {

constexpr int kBuildPauseMilliseconds = 500;

// The program's path strings, and so the names below rofs2, are UTF-8 on
// every system (on Windows too, whatever the ANSI code page).
constexpr bool kUtf8Names = true;

// "0x00040000-0x00FFFFFF"
std::string EraseAreaText(const EraseArea& area) { return HexNumber(area.start, 8) + "-" + HexNumber(area.end, 8); }

class Repacking {
 public:
  Repacking(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
            const RepackOptions& options)
      : file_(file), model_(model), workspace_(workspace), tools_(tools), reporter_(reporter), options_(options) {}

  RepackResult Run() {
    RepackResult result;
    const PartitionKind kind = file_.kind;
    result.outcome = CheckInputs(kind);
    if (!result.outcome.done()) return result;
    // Every file the Repack changes goes aside first: a refusal or a
    // failure on the way puts them all back as they were.
    Transaction transaction(workspace_);
    transaction_ = &transaction;
    if (kind == PartitionKind::kRofs) {
      result.outcome = WriteObeyFile(workspace_, reporter_, result.obey, transaction, &record_);
      if (!result.outcome.done()) return result;
      if (!BuildRofsImage(workspace_, tools_, reporter_, transaction).done()) {
        result.outcome = Outcome::Refused(
            Text("错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件."));
        return result;
      }
      reporter_.Log(Text("正在重建 rofs2....."));
      reporter_.Log(Text("请稍等...       "));
      // The ROFS header goes back where it was in the payload (3072 bytes in,
      // in the phone's own files).
      result.outcome = ReassembleAndWrite(work::kRebuiltRofsImage, static_cast<std::size_t>(original_lead_), result);
    } else {
      result.outcome = ChooseFatImage();
      if (!result.outcome.done()) return result;
      reporter_.Log(Text("正在重建 fat16 文件. "));
      reporter_.Log(Text("请稍等...       "));
      // Zero sectors that stood in front of the FAT image go back in front
      // of it.
      result.outcome = ReassembleAndWrite(work::kFatImage, static_cast<std::size_t>(original_lead_), result);
    }
    return result;
  }

 private:
  // The checks before anything is built: the input file is the one opened,
  // it has block headers of the model, and the tree came from it.
  Outcome CheckInputs(PartitionKind kind) {
    // The file must still be the one opened: its prefix and layout were
    // read from it then, and the tree's record names it as it was.
    if (auto refused = MapOpenedFile(file_, image_data_)) return Outcome::Refused(std::move(*refused));
    EnsureLayout(file_, image_data_.bytes(), model_);
    // Without a block header the file has no prefix and no start address:
    // what Open took for the address is any four bytes, and a file built on
    // them would not flash.
    if (!file_.layout.HasHeader()) return *CheckModel(file_, image_data_.bytes(), model_, reporter_);
    // The package folder to write must be a new one (or empty): nothing of
    // another is ever written over.
    if (!options_.package_to.empty() && port::PathExists(options_.package_to) &&
        (!port::IsDirectory(options_.package_to) || port::FolderHasEntries(options_.package_to))) {
      return Outcome::Refused(Text("错误: 文件夹 %1 已经存在且不是空的, 未生成任何文件.", {options_.package_to}));
    }
    // The checksum list is read once, before anything is built. A package
    // folder with a list the flasher would hold against the new file is no
    // package: refused while nothing is written yet.
    listing_ = vpl::FindVplListing(file_.path);
    if (!options_.package_to.empty()) {
      std::string reason;
      if (listing_.kind == vpl::VplListing::Kind::kAmbiguous || listing_.kind == vpl::VplListing::Kind::kUnreadable) {
        reason = listing_.reason;
      } else if (listing_.kind == vpl::VplListing::Kind::kListed) {
        try {
          (void)vpl::RewriteCrc(listing_.vpl_bytes, listing_.vpl, listing_.entry(), 0, listing_.vpl_path);
        } catch (const Error& error) {
          reason = error.what();
        }
      }
      if (!reason.empty()) {
        return Outcome::Refused(
            Text("错误: 无法生成刷机文件夹 %1 (%2), 未生成任何文件.", {options_.package_to, reason}));
      }
    }
    // The partition image is cut into one run of blocks: a named block in
    // the middle of them has no place in the rebuilt file.
    if (file_.layout.named_between_code) {
      return Outcome::Refused(
          Text("错误: 文件 %1 的代码块之间有命名块, 无法打包. 未生成任何文件.",
               {file_.path}));
    }
    if (file_.start_address.size() != 4) {
      return Outcome::Refused(
          Text("错误: 起始地址不是 4 字节 (%1), 未生成任何文件.", {BytesToHex(file_.start_address)}));
    }
    if (auto refused = CheckModel(file_, image_data_.bytes(), model_, reporter_)) return std::move(*refused);

    const std::string tree = workspace_.Path(kind == PartitionKind::kRofs ? work::kRofsTree : work::kFatImage);
    const std::optional<TreeSource> record = workspace_.ReadTreeSource(kind);
    TreeSource opened;
    opened.path = file_.path;
    opened.size = file_.stamp.size;
    opened.write_time = file_.stamp.write_time;
    if (!record) {
      return Outcome::Refused(
          Text("错误: 不知道 %1 是从哪个文件解包的 (没有解包的记录), 请先解包 %2. 未生成任何文件.",
               {tree, file_.path}));
    }
    if (!record->SameFile(opened)) {
      return Outcome::Refused(
          Text("错误: %1 是从另一个文件解包的 (%2), 请先解包 %3. 未生成任何文件.",
               {tree,
               record->path == file_.path ? Text("从改动之前的 %1 解包", {record->path})
                                          : Text("从 %1 解包", {record->path}),
               file_.path}));
    }
    // A missing or empty FAT image is named when it is read.
    if (kind == PartitionKind::kRofs && !port::FolderHasEntries(tree)) {
      return Outcome::Refused(
          Text("错误: %1 是空的 (没有可打包的文件), 请先解包 %2. 未生成任何文件.", {tree, file_.path}));
    }
    original_partition_size_ = record->partition_size;
    original_lead_ = record->lead;
    record_ = *record;
    return Outcome::Done();
  }

  // Decides between the folder uda and fat16.img for a UDA Repack and, when
  // the folder changed, rebuilds fat16.img from it.
  Outcome ChooseFatImage() {
    // The user edits either the folder uda or fat16.img with another tool.
    // Neither changed: fat16.img as it is, so the round trip is identical.
    const std::string image_path = workspace_.Path(work::kFatImage);
    const std::string uda = workspace_.Path(work::kUdaTree);
    // A folder uda that no Extract made (or one it could not finish) is
    // nobody's to pack: its edits would be dropped without a word.
    const bool has_record = workspace_.HasUdaRecord();
    if (!has_record && port::FolderHasEntries(uda)) {
      return Outcome::Refused(Text("错误: 不知道 %1 是从哪个文件解包的 (这个文件夹不是解包生成的; 请把它移走, 或重新解包), 未生成任何文件.",
                                   {uda}));
    }
    const bool uda_changed = has_record && !workspace_.UdaFolderMatchesRecord();
    const bool image_changed = workspace_.FatImageChangedSinceStamp();
    if (uda_changed && image_changed) {
      return Outcome::Refused(
          Text("错误: uda 文件夹和 fat16.img 都已被修改 (解包后 %1 和 %2 都有改动; 请只保留其中一个的修改, 或重新解包), 未生成任何文件.",
               {uda, image_path}));
    }
    if (!uda_changed) {
      reporter_.Log(image_changed ? Text("使用 fat16.img (解包后已用其他工具修改).")
                                  : Text("使用 fat16.img (uda 文件夹中没有改动)."));
      return Outcome::Done();
    }
    std::vector<std::uint8_t> rebuilt;
    {
      port::FileView original;
      if (!original.Open(image_path, kMaxFirmwareSize)) {
        return Outcome::Refused(Text("错误: %1 不存在或为空, 未生成任何文件.", {image_path}));
      }
      try {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(original.bytes().data());
        rebuilt = fat::BuildFatImage({bytes, original.size()}, image_path, uda);
      } catch (const rofs::RofsError& error) {
        return Outcome::Refused(Text("错误: 无法从 uda 文件夹重建 fat16.img (%1), 未生成任何文件.", {std::string(error.what())}));
      }
      // Dropped before the new image replaces the file (Windows holds a
      // mapped file open).
    }
    // The rebuilt image takes fat16.img's place, and the records follow it
    // in the same transaction: a second Repack then finds nothing changed,
    // and a failure before the end leaves all three as they were.
    transaction_->Replace(work::kFatImage);
    transaction_->Replace(work::kFatStamp);
    transaction_->Replace(work::kUdaRecord);
    port::WriteFileReplacing(image_path,
                             {std::string_view(reinterpret_cast<const char*>(rebuilt.data()), rebuilt.size())});
    workspace_.RecordFatImageStamp();
    workspace_.RecordUdaFolder();
    reporter_.Log(Text(
        "使用 uda 文件夹: fat16.img 已从 %1 重建 (文件夹有改动; 几何参数与原映像相同).", {uda}));
    return Outcome::Done();
  }

  Outcome ReassembleAndWrite(std::string_view rebuilt_relative_path, std::size_t filler, RepackResult& result) {
    const BlockFormat& format = BlockFormatOf(model_, file_.kind);
    const FirmwareLayout& layout = file_.layout;
    const std::string_view source = image_data_.bytes();
    const std::string rebuilt_path = workspace_.Path(rebuilt_relative_path);
    port::FileView rebuilt;
    if (!rebuilt.Open(rebuilt_path, kMaxFirmwareSize - filler)) {
      return Outcome::Refused(Text("错误: %1 不存在或为空, 未生成任何文件.", {rebuilt_path}));
    }
    // Everything in front of the first code block (the prefix, or the table
    // of contents and the named blocks) goes out as it is, and so does
    // everything after the last one. The payloads are views of the rebuilt
    // image behind `filler` bytes; only the blocks holding those and the
    // padded tail are copies.
    std::string prefix(source.substr(0, *layout.prefix_length));
    const std::string_view trail = source.substr(layout.code_end);
    // Each header is the source's block of the same number (its last for
    // blocks beyond them), with its check value, length, address and
    // checksum made anew: bytes the profile does not give stay as they were.
    const auto header_bytes = static_cast<std::size_t>(format.header_size);
    const HeaderBuilder build = [&](std::size_t block, std::string_view payload, std::string_view address,
                                    std::int32_t length) {
      const LayoutBlock& from = layout.blocks[std::min(block, layout.blocks.size() - 1)];
      std::string header(source.substr(from.header_offset, header_bytes));
      header.replace(kCheckValueOffset, 2, CheckValueBytes(payload));
      header.replace(static_cast<std::size_t>(format.length_offset), 4,
                     BigEndian32(length != 0 ? static_cast<std::uint32_t>(length) : format.block_size));
      header.replace(static_cast<std::size_t>(format.address_offset), 4, address);
      header.back() = HeaderChecksum(header);
      return header;
    };
    // The bytes in front of the ROFS header: zeros, or the source's own.
    std::string lead_copy;
    std::string_view lead;
    if (options_.keep_lead && filler > 0) {
      lead = BytesOfSpans(PayloadSpans(source, layout), *layout.prefix_length, filler, lead_copy);
      if (lead.size() != filler)
        return Outcome::Refused(
            Text("错误: 输入文件的载荷比记录的短 (比 ROFS 头前面的字节还短). 未生成任何文件."));
    }
    // The check values are computed over the file's bytes read block by
    // block into one buffer; the writer has the system copy the payloads
    // from file to file where it can, so the mapping's pages are never
    // brought in.
    const PayloadReader read = [&rebuilt](std::string_view part, char* to) { rebuilt.CopyOut(part, to); };
    const BlockCutting cutting{static_cast<std::int32_t>(format.block_size), format.short_first_block,
                               format.padding_byte};
    const Reassembly blocks =
        CutIntoBlocks(filler, rebuilt.bytes(), "", file_.start_address, cutting, build, read, lead);
    result.short_first_block_written = blocks.short_first_block_written;
    std::uint64_t payload_bytes = 0;
    for (std::size_t i = 2; i < blocks.pieces.size(); i += 2) payload_bytes += blocks.pieces[i].size();

    // The erase area the payload lies in is what the flasher erases for it:
    // a payload that runs past its end would be written over flash that is
    // not erased, or over another partition.
    std::optional<EraseBudget> budget;
    if (layout.toc) {
      const std::vector<EraseArea> areas = EraseAreasOf(*layout.toc);
      budget = EraseBudgetOf(areas, ReadBigEndian32(file_.start_address, 0), payload_bytes);
      if (budget && budget->free < 0) {
        const Text area(EraseAreaText(budget->area));
        const std::string over = std::to_string(-budget->free);
        const bool extend =
            options_.extend_erase_area == ExtendEraseArea::kYes ||
            (options_.extend_erase_area == ExtendEraseArea::kAsk &&
             reporter_.Confirm(Text("新的分区比擦除区 %1 长 %2 字节. 要延长这个擦除区吗?", {area, over})));
        if (!extend) {
          return Outcome::Refused(
              Text("错误: 新的分区超出了擦除区 %1 %2 字节 (%3 可以移动擦除区的结尾), 未生成任何文件.",
                   {area, over, std::string("--extend-erase-area")}));
        }
        const std::optional<std::uint32_t> new_end = ExtendedAreaEnd(areas, budget->area, budget->payload_end);
        if (!new_end) {
          return Outcome::Refused(
              Text("错误: 擦除区 %1 不能延长 %2 字节 (会碰到另一个擦除区, 或超过最后的地址), 未生成任何文件.",
                   {area, over}));
        }
        LogTable(Text("目录表 (之前):"), *layout.toc);
        prefix.replace(budget->area.end_offset, 4, BigEndian32(*new_end));
        const TocReading changed = ReadTableOfContents(prefix);
        LogTable(Text("目录表 (之后):"), *changed.toc);
        budget = EraseBudgetOf(EraseAreasOf(*changed.toc), ReadBigEndian32(file_.start_address, 0), payload_bytes);
      }
    }

    // The file: the prefix, each block with the padding that followed the
    // source's block of its number (none after the last), then the trail.
    std::vector<std::string_view> pieces;
    std::vector<std::size_t> blocks_done;  // of the pieces written so far
    pieces.reserve(blocks.pieces.size() + layout.blocks.size() + 2);
    pieces.push_back(prefix);
    blocks_done.push_back(0);
    const std::size_t block_count = blocks.headers.size();
    for (std::size_t i = 0; i < block_count; ++i) {
      pieces.push_back(blocks.pieces[1 + 2 * i]);
      pieces.push_back(blocks.pieces[2 + 2 * i]);
      blocks_done.insert(blocks_done.end(), {i, i + 1});
      if (i + 1 < block_count && i < layout.blocks.size() && layout.blocks[i].padding_after > 0) {
        const LayoutBlock& from = layout.blocks[i];
        pieces.push_back(source.substr(from.header_offset + header_bytes + from.payload_length, from.padding_after));
        blocks_done.push_back(i + 1);
      }
    }
    pieces.push_back(trail);
    blocks_done.push_back(block_count);
    const std::string output = workspace_.OutputPath(file_.name);
    transaction_->Replace(std::string(work::kOutputPrefix) + file_.name);
    port::WriteFileReplacing(
        output, pieces,
        [&](std::size_t written, std::size_t) {
          const std::size_t done = written == 0 ? 0 : blocks_done[written - 1];
          reporter_.Progress(
              Text("进度: %1", {Text("块 %1/%2", {std::to_string(done), std::to_string(block_count)})}));
        },
        rebuilt);
    reporter_.Progress(std::nullopt);
    rebuilt.Close();
    image_data_.Close();
    WriteChecksumList(output);
    WritePackageFolder(output);
    try {
      transaction_->Commit();
    } catch (...) {
      // The REB- file went back: so does the copy of the package made of it.
      if (!options_.package_to.empty()) port::RemoveTree(options_.package_to);
      throw;
    }

    if (budget) {
      reporter_.Log(Text("擦除区 %1 在分区之后还有 %2 字节空闲.",
                         {Text(EraseAreaText(budget->area)), std::to_string(budget->free)}));
    } else {
      // Without a table of contents the phone's partition is not known: a
      // bigger one may not fit, and only the user can know. Counted as the
      // blocks carry it: the bytes in front left out, the padded tail in.
      const std::uint64_t rebuilt_size = payload_bytes - std::min<std::uint64_t>(filler, payload_bytes);
      if (rebuilt_size > original_partition_size_) {
        const std::size_t old_blocks = layout.blocks.size();
        const std::size_t added = block_count > old_blocks ? block_count - old_blocks : 0;
        reporter_.Log(
            Text("警告: 新的分区比原来的大 (新的 %1 字节, 原来的 %2 字节; 增加了 %3 个块), 请确认手机的分区装得下.",
                 {std::to_string(rebuilt_size), std::to_string(original_partition_size_), std::to_string(added)}));
      }
    }

    // What the REB- file changes against the input, before anything is
    // flashed: a tree emptied by mistake shows here.
    for (const Text& line : RepackSummary(file_.path, output, file_.name, file_.kind, model_)) reporter_.Log(line);

    reporter_.Log(Text(kSeparatorLine));
    reporter_.Log(Text("完成! 完成! 完成!          "));
    reporter_.Log(Text(kSeparatorLine));
    // A program folder given on the command line is named: "the program's
    // folder" would send the user to the wrong one.
    reporter_.Log(options_.name_program_folder
                      ? Text("REB-%1 文件生成在 %2, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
                             {file_.name, workspace_.folder()})
                      : Text("REB-%1 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
                             {file_.name}));
    reporter_.Log(Text(kSeparatorLine));
    // rofsbuild reports the image in the tool folder; the log says where it
    // is now.
    if (file_.kind == PartitionKind::kRofs) reporter_.Log(Text("rofs2r.img 文件: %1", {rebuilt_path}));
    reporter_.Log(Text("REB 文件: %1", {output}));
    return Outcome::Done();
  }

  // The flasher compares each file of the package with the checksum list
  // (.vpl) of its folder: when one lists the input, its copy with the REB-
  // file's CRC goes beside the REB- file, in the same transaction. A list
  // that cannot be read is named; the REB- file stands all the same.
  void WriteChecksumList(const std::string& output) {
    const vpl::VplListing& listing = listing_;
    if (listing.kind == vpl::VplListing::Kind::kNotListed) {
      reporter_.Log(Text("没有校验清单 (.vpl) 列出 %1, 未写入校验清单.", {file_.name}));
      return;
    }
    if (listing.kind != vpl::VplListing::Kind::kListed) {
      reporter_.Log(Text("警告: 未写入校验清单 (%1).", {listing.reason}));
      return;
    }
    const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(output);
    if (!crc) throw FileOpenError(output, "the file just written cannot be read back");
    std::string rewritten;
    try {
      rewritten = vpl::RewriteCrc(listing.vpl_bytes, listing.vpl, listing.entry(), *crc, listing.vpl_path);
    } catch (const Error& error) {
      reporter_.Log(Text("警告: 未写入校验清单 (%1).", {std::string(error.what())}));
      return;
    }
    const std::string vpl_name = port::FileNamePart(listing.vpl_path);
    const std::string relative = work::kOutputPrefix + vpl_name;
    package_vpl_name_ = vpl_name;
    package_vpl_bytes_ = rewritten;
    transaction_->Replace(relative);
    port::WriteFileReplacing(workspace_.Path(relative), {rewritten});
    reporter_.Log(
        Text("校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, "
             "然后把它们一起复制到刷机文件目录下.",
             {listing.vpl_path, file_.name, listing.entry().crc_text, workspace_.Path(relative), vpl::CrcText(*crc)}));
  }

  // With --package-to: a copy of the input's package folder that the
  // flasher takes, the REB- file under the input's name and the checksum
  // list that gives its CRC.
  void WritePackageFolder(const std::string& output) {
    if (options_.package_to.empty()) return;
    vpl::FlashableFolderSources sources;
    sources.package_folder = port::FolderPart(file_.path);
    sources.firmware_name = file_.name;
    sources.repacked_path = output;
    sources.vpl_name = package_vpl_name_;
    sources.vpl_bytes = package_vpl_bytes_;
    const vpl::FlashableFolderWritten written = vpl::WriteFlashableFolder(sources, options_.package_to);
    reporter_.Log(Text("刷机文件夹已写好: %1 (%2 和刷机包的其他文件: %3 个; 可以直接用来刷机).",
                       {written.folder, written.firmware_name, std::to_string(written.copied.size())}));
    for (const std::string& name : written.left_out) {
      reporter_.Log(Text("没有复制 %1 (不是文件).", {name}));
    }
  }

  // The table's lines under `heading`.
  void LogTable(const Text& heading, const TableOfContents& toc) {
    reporter_.Log(heading);
    for (Text& line : DescribeTableOfContents(toc)) reporter_.Log(Text("    %1", {std::move(line)}));
  }

  OpenedFile& file_;
  const int model_;
  const Workspace& workspace_;
  RofsTools& tools_;
  Reporter& reporter_;
  const RepackOptions options_;
  Transaction* transaction_ = nullptr;
  // How the checksum lists beside the input list it, and that list
  // rewritten for the REB- file.
  vpl::VplListing listing_;
  std::string package_vpl_name_, package_vpl_bytes_;
  port::FileView image_data_;
  // The partition size and the zero bytes in front of it, recorded with the
  // tree.
  std::uint64_t original_partition_size_ = 0;
  std::uint64_t original_lead_ = 0;
  TreeSource record_;
};

void LogToolLines(Reporter& reporter, const std::string& tool, const ToolResult& result) {
  // Each line names the tool once: most of them already start with its name.
  for (const std::string& line : result.last_lines) {
    reporter.Log(Text("    " + (line.rfind(tool + ":", 0) == 0 ? line : tool + ": " + line)));
  }
}

}  // namespace

RepackResult Repack(OpenedFile& file, int model, const Workspace& workspace, RofsTools& tools, Reporter& reporter,
                    const RepackOptions& options) {
  return Repacking(file, model, workspace, tools, reporter, options).Run();
}

Outcome WriteObeyFile(const Workspace& workspace, Reporter& reporter, ObeyListing& listing, Transaction& transaction,
                      const TreeSource* source) {
  reporter.Log(Text("正在创建 obey 文件.    "));
  listing = {};
  // Paths in the list are relative to the program folder, with backslashes
  // as the obey file writes them, whatever the platform's separator.
  std::vector<std::string> backslash_names, links;
  try {
    ListFilesDepthFirst(workspace.Path(work::kRofsTree), "*.*", true, std::string(work::kRofsTree) + "\\",
                        listing.files, &backslash_names, &links);
  } catch (const FolderListError& error) {
    return Outcome::Refused(
        Text("错误: 无法读取文件夹 %1 (无法列出它的内容, 映像中会缺少它的文件). 未生成任何文件.",
             {error.folder()}));
  }
  // A name the obey file cannot carry would fail deep in the build, or end
  // up in the image under another name: each one is named, and nothing is
  // built.
  // A link would put its target (any file of the host) into the image, or
  // a folder's files nowhere: each is named, and nothing is built.
  if (!links.empty()) {
    for (const std::string& link : links) reporter.Log(Text("错误: 链接无法打包: %1", {link}));
    return Outcome::Refused(Text("错误: rofs2 中有 %1 个链接 (链接不能放进映像, 请放入文件本身), 未生成任何文件.",
                                 {std::to_string(links.size())}));
  }
  std::vector<std::pair<std::string, Text>> refused;
  for (const std::string& path : backslash_names) refused.emplace_back(path, Text("名称中不能有反斜杠"));
  for (const std::string& relative_path : listing.files) {
    if (std::optional<Text> problem = ObeyPathProblem(relative_path, kUtf8Names)) {
      refused.emplace_back(workspace.Path(relative_path), std::move(*problem));
    }
  }
  if (!refused.empty()) {
    for (const auto& [path, problem] : refused) {
      reporter.Log(Text("错误: 文件名无法写入 obey 文件: %1 (%2)", {path, problem}));
    }
    return Outcome::Refused(Text("错误: %1 个文件名无法写入 obey 文件 (请给上面列出的文件改名), 未生成任何文件.",
                                 {std::to_string(refused.size())}));
  }
  // Hidden entries and attributes of the extracted image go back into the
  // obey file, except where the user put a real file.
  rofs::KeptEntries kept;
  try {
    kept = workspace.ReadKeptEntries();
  } catch (const rofs::KeptEntriesError& error) {
    return Outcome::Refused(
        Text("错误: %1 (隐藏项的记录已损坏, 请重新解包). 未生成任何文件.", {std::string(error.what())}));
  }
  const ObeyFileLines file_lines = BuildObeyFileLines(listing.files, kept);
  listing.lines.push_back(kObeyNameLine);
  // The extracted image's header fields that the user did not change go
  // into the rebuilt one: its maximum size, version and time stamp.
  std::vector<Text> kept_fields;
  const auto keep = [&kept_fields](Text field) { kept_fields.push_back(std::move(field)); };
  if (source && source->rofs_max_size != 0) {
    listing.lines.push_back("rofssize=" + HexNumber(source->rofs_max_size));
    keep(Text("最大大小 %1", {HexNumber(source->rofs_max_size)}));
  } else {
    listing.lines.push_back(kObeySizeLine);
  }
  if (source && !source->rofs_version.empty()) {
    listing.lines.push_back("version=" + source->rofs_version);
    keep(Text("版本 %1", {source->rofs_version}));
  }
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  const bool time_given = epoch != nullptr && *epoch != '\0';
  if (source && source->rofs_time && !time_given) {
    if (const std::optional<std::string> time = rofs::FormatObeyTime(*source->rofs_time)) {
      listing.lines.push_back("time=" + *time);
      keep(Text("时间戳 %1", {rofs::FormatSymbianTime(*source->rofs_time)}));
    }
  }
  listing.lines.insert(listing.lines.end(), file_lines.lines.begin(), file_lines.lines.end());
  transaction.Replace(work::kObeyFile);
  port::WriteFileReplacing(workspace.Path(work::kObeyFile), {JoinObeyLines(listing.lines)});
  if (!kept_fields.empty()) reporter.Log(Text("新的 ROFS 映像保留原映像的%1.", {JoinedTexts(std::move(kept_fields))}));
  if (!kept.empty()) {
    reporter.Log(
        Text("保留了 %1 个隐藏项和 %2 个文件属性 (来自解包的映像).",
             {std::to_string(file_lines.hidden_kept), std::to_string(file_lines.attributes_kept)}));
  }
  for (const std::string& path : file_lines.hidden_replaced) {
    reporter.Log(Text("隐藏项 %1 已被 rofs2 中的文件取代, 不再隐藏.", {path}));
  }
  for (const std::string& entry : file_lines.hidden_unwritable) {
    reporter.Log(Text("警告: 隐藏项无法写入 obey 文件, 已丢失: %1", {entry}));
  }
  for (const std::string& path : file_lines.attributes_partial) {
    reporter.Log(Text("警告: %1 的属性只能部分保留 (obey 文件无法表示的属性位已丢弃).", {path}));
  }
  reporter.Log(Text("完成!    "));
  return Outcome::Done();
}

Outcome BuildRofsImage(const Workspace& workspace, RofsTools& tools, Reporter& reporter, Transaction& transaction) {
  reporter.Log(Text("正在重建 rofs 文件.       "));
  reporter.Log(Text("请稍等...       "));
  // What an earlier build left in the tool folder goes aside: the image
  // there afterwards is this build's, and goes again if the run fails.
  transaction.Replace(work::kBuiltRofsImage);
  const ToolResult result = tools.Build(workspace, reporter);
  if (result.succeeded) {
    reporter.Log(Text("完成!   "));
  } else {
    reporter.Log(Text("rofsbuild %1: rofs 文件重建失败.", {result.description}));
    LogToolLines(reporter, "rofsbuild", result);
  }

  const std::string built = workspace.Path(work::kBuiltRofsImage);
  const std::string target = workspace.Path(work::kRebuiltRofsImage);
  // The move never overwrites: the earlier image goes aside first.
  transaction.Replace(work::kRebuiltRofsImage);
  tools.Pause(kBuildPauseMilliseconds);
  // An image the tool left although it failed is not taken for a good one;
  // a tool that made none is refused when the image is read.
  if (result.succeeded && port::IsRegularFile(built) && !port::MoveFileNoReplace(built, target)) {
    throw FileCreateError(target, "the image the build tool made cannot be moved here from \"" + built + "\"");
  }
  tools.Pause(kBuildPauseMilliseconds);
  tools.Pause(kBuildPauseMilliseconds);
  return result.succeeded ? Outcome::Done() : Outcome::Failed();
}

}  // namespace larkspur::pipeline
