#include "pipeline/opened_file.h"

#include "base/hex.h"
#include "format/byte_string.h"
#include "format/firmware_check.h"

namespace larkspur::pipeline {
namespace {

void ReadLayout(OpenedFile& file, std::string_view bytes, int model) {
  const BlockFormat& format = BlockFormatOf(model, file.kind);
  file.model = model;
  file.layout = ReadFirmwareLayout(bytes, format);
  // Without a header the address is read where a header at the file's
  // start would hold it; Extract and Repack refuse such a file anyway.
  const std::int64_t found = file.layout.prefix_length ? static_cast<std::int64_t>(*file.layout.prefix_length) + 1 : 0;
  file.start_address = std::string(Take(bytes, found + format.address_offset, 4));
}


}  // namespace

OpenedFile OpenFirmware(const std::string& path, std::optional<PartitionKind> kind, int model, Reporter& reporter) {
  port::FileView view;
  if (!view.Open(path, kMaxFirmwareSize)) {
    throw NoFileError(path, port::IsRegularFile(path) ? "The file is empty"
                            : port::IsDirectory(path) ? "It is a folder, not a file"
                                                      : "The file does not exist");
  }
  OpenedFile file;
  file.path = path;
  file.name = port::FileNamePart(path);
  file.stamp = port::StampOfFile(path);
  // The kind comes from the file's own name, never from its folders (a
  // folder named "Budapest" says nothing about the file); Extract then
  // checks it against the content.
  file.kind = kind.value_or(KindOfPath(file.name));
  reporter.Log(Text("正在打开文件...  "));
  ReadLayout(file, view.bytes(), model);
  reporter.Log(Text("文件: %1", {path}));
  reporter.Log(Text(""));
  return file;
}

std::optional<Text> MapOpenedFile(const OpenedFile& file, port::FileView& view) {
  if (!view.Open(file.path, kMaxFirmwareSize)) {
    return Text("错误: 输入文件 %1 不存在或为空, 未生成任何文件.", {file.path});
  }
  // Stamped once mapped: a file replaced before the mapping shows another
  // stamp, so the bytes mapped are the bytes opened.
  if (port::StampOfFile(file.path) != file.stamp) {
    view.Close();
    return Text(
        "错误: 输入文件 %1 在打开后已被修改, 请重新打开并解包. 未生成任何文件.",
        {file.path});
  }
  return std::nullopt;
}

void EnsureLayout(OpenedFile& file, std::string_view bytes, int model) {
  const BlockFormat& format = BlockFormatOf(model, file.kind);
  if (file.layout.signature == format.signature && file.layout.header_size == format.header_size) {
    file.model = model;
    return;
  }
  // Headers of another signature or size are stripped afresh from the file.
  file.stripped = false;
  ReadLayout(file, bytes, model);
}

std::optional<Outcome> CheckModel(const OpenedFile& file, std::string_view bytes, int model, Reporter& reporter) {
  const BlockFormat& format = BlockFormatOf(model, file.kind);
  if (!file.layout.HasHeader()) {
    // The headers of another model are named with it: "check the model"
    // alone leaves the user to try them all.
    const std::vector<int> fitting = ModelsThatFit(bytes, file.kind);
    if (fitting.empty()) {
      return Outcome::Refused(
          Text("错误: 文件 %1 中没有块头 (没有找到标识 %2), 请检查所选手机型号. 未生成任何文件.",
               {file.path, BytesToHex(file.layout.signature)}));
    }
    return Outcome::Refused(
        Text("错误: 文件 %1 中没有所选手机型号的块头 (没有找到标识 %2; 这个文件适合 %3), 请选择正确的手机型号. 未生成任何文件.",
             {file.path, BytesToHex(file.layout.signature), ModelNames(fitting)}),
        fitting);
  }
  const BlockSizeVerdict verdict = JudgeBlockSizes(file.layout, format);
  if (verdict.other_model) {
    const std::vector<int> fitting = ModelsThatFit(bytes, file.kind);
    const Text reason =
        fitting.empty()
            ? Text("块长度为 %1 字节, 所选手机型号的块长度为 %2 字节; 没有已知的手机型号使用这种块",
                   {HexNumber(*verdict.regular_length), HexNumber(format.block_size)})
            : Text("块长度为 %1 字节, 所选手机型号的块长度为 %2 字节; 这个文件适合 %3",
                   {HexNumber(*verdict.regular_length), HexNumber(format.block_size), ModelNames(fitting)});
    return Outcome::Refused(
        Text("错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.", {file.path, reason}),
        fitting);
  }
  if (!verdict.irregular_blocks.empty()) {
    std::vector<Text> blocks;
    constexpr std::size_t kNamedAtMost = 8;
    for (std::size_t i = 0; i < verdict.irregular_blocks.size() && i < kNamedAtMost; ++i) {
      const LayoutBlock& block = file.layout.blocks[verdict.irregular_blocks[i]];
      blocks.push_back(
          Text("块 %1: %2", {std::to_string(verdict.irregular_blocks[i]), HexNumber(block.payload_length)}));
    }
    Text named = JoinedTexts(std::move(blocks));
    if (verdict.irregular_blocks.size() > kNamedAtMost) {
      named = Text("%1, 另外还有 %2 个", {named, std::to_string(verdict.irregular_blocks.size() - kNamedAtMost)});
    }
    reporter.Log(Text("警告: 块的长度不一致 (%1), 请检查所选手机型号.", {named}));
  }
  return std::nullopt;
}

}  // namespace larkspur::pipeline
