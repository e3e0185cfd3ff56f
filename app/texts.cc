#include "app/texts.h"

#include <atomic>
#include <unordered_map>

#include "port/language.h"

namespace larkspur {
namespace {

// Each text the program shows in Chinese, with its English form. Texts with
// values carry %1..%9 in both forms; English reasons in parentheses stay.
constexpr CatalogEntry kCatalog[] = {
    {"打开(&O)",
     "&Open"},
    {"解包(&E)",
     "&Extract"},
    {"打包(&R)",
     "&Repack"},
    {"如果你喜欢本程序，请点击旁边的“Donate”按钮捐赠我们，这将帮助我们创造更好的程序以及支持更多的手机型号. 谢谢！ :)",
     "If you like this program, please click the “Donate” button beside this text: your gift helps us make better programs and support more phone models. Thank you! :)"},
    {"文件名:    ",
     "File name:    "},
    {"类型: ",
     "Type: "},
    {"手机型号(5530, 5800, N97, N86)",
     "Phone model (5530, 5800, N97, N86)"},
    {"手机型号(N96)",
     "Phone model (N96)"},
    {"手机型号(5320)",
     "Phone model (5320)"},
    {"手机型号(N78)",
     "Phone model (N78)"},
    {"本程序文件夹: %1 (REB- 文件和工作文件夹都在这里)",
     "Program folder: %1 (the REB- files and the working folders are there)"},
    {"这个文件是为%1制作的. 要选择%1吗?",
     "This file was made for %1. Choose %1?"},
    {"已选择%1, 请再运行一次.",
     "%1 is chosen now; run the command again."},
    {"仍然打开的文件: %1 (the earlier file is still open)",
     "Still open: %1 (the earlier file is still open)"},
    {"正在打开文件...  ",
     "Opening the file...  "},
    {"文件: %1",
     "File: %1"},
    {"错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.",
     "Error: the file %1 was not made for the phone model chosen (%2); choose the right model. Nothing was written."},
    {"警告: 块的长度不一致 (blocks of irregular lengths: %1), 请检查所选手机型号.",
     "Warning: the blocks have irregular lengths (blocks of irregular lengths: %1); check the phone model chosen."},
    {"错误: 本程序文件夹 %1 正被另一个解包或打包使用 (%2), 请等它结束后再试. 未生成任何文件.",
     "Error: the program folder %1 is in use by another Extract or Repack (%2); try again when it has ended. Nothing was written."},
    {"错误: 上一次中断的运行留下的文件无法恢复 (%1), 未生成任何文件.",
     "Error: what an interrupted run left cannot be put back (%1). Nothing was written."},
    {"错误: 输入文件 %1 不存在或为空, 未生成任何文件.",
     "Error: the input file %1 does not exist or is empty. Nothing was written."},
    {"正在定位文件.   ",
     "Locating the blocks.   "},
    {"错误: 文件 %1 中没有块头 (no block header: signature %2 not found), 请检查所选手机型号. 未生成任何文件.",
     "Error: the file %1 has no block header (no block header: signature %2 not found); check the phone model chosen. Nothing was written."},
    {"错误: 文件 %1 中没有所选手机型号的块头 (no block header of the model chosen: signature %2 not found; the file fits %3), 请选择正确的手机型号. 未生成任何文件.",
     "Error: the file %1 has no block header of the phone model chosen (no block header of the model chosen: signature %2 not found; the file fits %3); choose the right model. Nothing was written."},
    {"错误: 文件 %1 不完整 (cut short inside the %2 of %3). 未生成任何文件.",
     "Error: the file %1 is incomplete (cut short inside the %2 of %3). Nothing was written."},
    {"警告: 块链不完整 (block chain broken), 已在每个标识处删除块头, 请检查所选手机型号.",
     "Warning: the block chain is broken (block chain broken); a header was removed at every signature; check the phone model chosen."},
    {"定位成功-偏移        %1 标识   ",
     "Located: %1 block headers   "},
    {"错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (the name says ROFS, the payload starts with a FAT boot sector: a user data file; rename it to *.uda.* or use --kind uda). 未生成任何文件.",
     "Error: the file %1 is named as a ROFS file but holds a FAT image (the name says ROFS, the payload starts with a FAT boot sector: a user data file; rename it to *.uda.* or use --kind uda). Nothing was written."},
    {"错误: 文件 %1 中没有 ROFS 头 (no ROFS header in the payload). 未生成任何文件.",
     "Error: the file %1 holds no ROFS header (no ROFS header in the payload). Nothing was written."},
    {"错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (the name says UDA, the payload starts with a ROFS header: a ROFS file; rename it without \"uda\" or use --kind rofs). 未生成任何文件.",
     "Error: the file %1 is named as a UDA file but holds a ROFS image (the name says UDA, the payload starts with a ROFS header: a ROFS file; rename it without \"uda\" or use --kind rofs). Nothing was written."},
    {"警告: 没有找到 FAT 引导扇区 (no FAT boot sector at the start of the payload), fat16.img 从载荷开头开始, 请检查.",
     "Warning: no FAT boot sector was found (no FAT boot sector at the start of the payload); fat16.img begins where the payload begins; check it."},
    {"警告: 没有找到 FAT 引导扇区 (no FAT boot sector at the start of the payload), fat16.img 从第一个 E9 00 90开始, 请检查.",
     "Warning: no FAT boot sector was found (no FAT boot sector at the start of the payload); fat16.img begins at the first E9 00 90; check it."},
    {"注意: ROFS 头前面的 %1 字节不全是零 (the %1 bytes in front of the ROFS header begin %2; Repack writes zeros there, or these bytes with --keep-lead).",
     "Note: the %1 bytes in front of the ROFS header are not all zero (the %1 bytes in front of the ROFS header begin %2; Repack writes zeros there, or these bytes with --keep-lead)."},
    {"错误: 文件 %1 已损坏 (%2%3), 未生成任何文件.",
     "Error: the file %1 is damaged (%2%3). Nothing was written."},
    {"警告: 文件已损坏, 按要求仍然解包 (%1).",
     "Warning: the file is damaged and is extracted anyway, as asked (%1)."},
    {"注意: 块头中有配置文件之外的字节, 打包时保留 (header bytes the profile does not give: %1 in %2 of %3 blocks, from block %4 to %5; Repack keeps them).",
     "Note: the block headers hold bytes the profile does not give; Repack keeps them (header bytes the profile does not give: %1 in %2 of %3 blocks, from block %4 to %5; Repack keeps them)."},
    {"擦除区 %1 还有 %2 字节空闲 (bytes free after the partition).",
     "The erase area %1 has %2 bytes free (bytes free after the partition)."},
    {"rofs2.img 文件创建成功",
     "rofs2.img has been created"},
    {"正在解包 rofs2.img 文件. ",
     "Unpacking rofs2.img. "},
    {"请稍等...       ",
     "Please wait...       "},
    {"上一次解包的文件已保存在 %1 (the earlier tree was kept there).",
     "The files of the earlier Extract are kept in %1 (the earlier tree was kept there)."},
    {"警告: 无法读取隐藏项和文件属性 (%1), 打包时将使用默认属性.",
     "Warning: the hidden entries and file attributes cannot be read (%1); Repack will use the default attributes."},
    {"已记录 %1 个隐藏项和 %2 个文件属性 (hidden entries and file attributes a folder cannot show, kept for Repack).",
     "Recorded %1 hidden entries and %2 file attributes (hidden entries and file attributes a folder cannot show, kept for Repack)."},
    {"rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ",
     "rofs2.img has been unpacked into the folder rofs2; do not close this program while you make changes.                         "},
    {"rofs2.img 文件解包失败: readimage exit status 0 but wrote nothing into %1.",
     "Unpacking rofs2.img failed: readimage exit status 0 but wrote nothing into %1."},
    {"rofs2.img 文件解包失败: readimage %1.",
     "Unpacking rofs2.img failed: readimage %1."},
    {"rofs2 文件夹保持不变 (%1 was left as it was before this Extract).",
     "The folder rofs2 is unchanged (%1 was left as it was before this Extract)."},
    {"rofs2 文件夹: %1",
     "Folder rofs2: %1"},
    {"上一次解包的文件已保存在 %1 (the earlier uda folder was kept there).",
     "The files of the earlier Extract are kept in %1 (the earlier uda folder was kept there)."},
    {"fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (edit them there, or edit fat16.img with a disk-image tool).",
     "%1 files and %2 folders of fat16.img have been unpacked into %3 (edit them there, or edit fat16.img with a disk-image tool)."},
    {"警告: fat16.img 无法解包到 uda 文件夹 (%1); 请用磁盘映像工具修改 fat16.img.",
     "Warning: fat16.img cannot be unpacked into the folder uda (%1); change fat16.img with a disk-image tool."},
    {"fat16.img 文件创建成功",
     "fat16.img has been created"},
    {"fat16.img 文件已解压到fat16文件夹, 可用magiciso或winimage工具修改.  ",
     "fat16.img has been put into the folder fat16; it can be changed with the MagicISO or WinImage tools.  "},
    {"fat16.img 文件: %1",
     "File fat16.img: %1"},
    {"uda 文件夹: %1",
     "Folder uda: %1"},
    {"正在创建 obey 文件.    ",
     "Creating the obey file.    "},
    {"错误: 无法读取文件夹 %1 (the folder cannot be listed; its files would be missing from the image). 未生成任何文件.",
     "Error: the folder %1 cannot be read (the folder cannot be listed; its files would be missing from the image). Nothing was written."},
    {"错误: 链接无法打包: %1",
     "Error: a link cannot be packed: %1"},
    {"错误: rofs2 中有 %1 个链接 (links cannot go into the image; put the files themselves there), 未生成任何文件.",
     "Error: rofs2 holds %1 links (links cannot go into the image; put the files themselves there). Nothing was written."},
    {"错误: 文件名无法写入 obey 文件: %1",
     "Error: a file name the obey file cannot carry: %1"},
    {"错误: %1 个文件名无法写入 obey 文件 (rename the files named above), 未生成任何文件.",
     "Error: %1 file names cannot go into the obey file (rename the files named above). Nothing was written."},
    {"错误: %1 (the record of hidden entries is damaged; extract again). 未生成任何文件.",
     "Error: %1 (the record of hidden entries is damaged; extract again). Nothing was written."},
    {"保留了 %1 个隐藏项和 %2 个文件属性 (hidden entries and file attributes carried over from the extracted image).",
     "Kept %1 hidden entries and %2 file attributes (hidden entries and file attributes carried over from the extracted image)."},
    {"隐藏项 %1 已被 rofs2 中的文件取代, 不再隐藏 (a real file now stands there).",
     "The hidden entry %1 is no longer hidden: a file in rofs2 takes its place (a real file now stands there)."},
    {"警告: 隐藏项无法写入 obey 文件, 已丢失 (hidden entry dropped: %1).",
     "Warning: a hidden entry cannot go into the obey file and is lost (hidden entry dropped: %1)."},
    {"警告: %1 的属性只能部分保留 (attribute bits the obey file cannot give were dropped).",
     "Warning: the attributes of %1 are kept only in part (attribute bits the obey file cannot give were dropped)."},
    {"完成!    ",
     "Done!    "},
    {"完成!   ",
     "Done!   "},
    {"正在重建 rofs 文件.       ",
     "Rebuilding the rofs image.       "},
    {"rofsbuild %1: rofs 文件重建失败.",
     "rofsbuild %1: rebuilding the rofs image failed."},
    {"错误: 输入文件 %1 在打开后已被修改 (the file changed since it was opened), 请重新打开并解包. 未生成任何文件.",
     "Error: the input file %1 has changed since it was opened (the file changed since it was opened); open and extract it again. Nothing was written."},
    {"错误: 起始地址不是 4 字节 (%1), 未生成任何文件.",
     "Error: the start address is not 4 bytes long (%1). Nothing was written."},
    {"错误: 不知道 %1 是从哪个文件解包的 (no record of an Extract), 请先解包 %2. 未生成任何文件.",
     "Error: it is not known which file %1 was extracted from (no record of an Extract); extract %2 first. Nothing was written."},
    {"错误: %1 是从另一个文件解包的 (extracted from %2), 请先解包 %3. 未生成任何文件.",
     "Error: %1 was extracted from another file (extracted from %2); extract %3 first. Nothing was written."},
    {"错误: %1 是空的 (nothing to pack), 请先解包 %2. 未生成任何文件.",
     "Error: %1 is empty (nothing to pack); extract %2 first. Nothing was written."},
    {"错误: rofs 文件重建失败 (rofsbuild failed; its last lines are above), 未生成任何文件.",
     "Error: rebuilding the rofs image failed (rofsbuild failed; its last lines are above). Nothing was written."},
    {"错误: uda 文件夹和 fat16.img 都已被修改 (both %1 and %2 changed since the Extract; keep the changes of one, or extract again), 未生成任何文件.",
     "Error: both the folder uda and fat16.img have been changed (both %1 and %2 changed since the Extract; keep the changes of one, or extract again). Nothing was written."},
    {"使用 fat16.img (edited with another tool since the Extract).",
     "Using fat16.img (edited with another tool since the Extract)."},
    {"使用 fat16.img (nothing in uda changed).",
     "Using fat16.img (nothing in uda changed)."},
    {"错误: %1 不存在或为空, 未生成任何文件.",
     "Error: %1 does not exist or is empty. Nothing was written."},
    {"错误: 无法从 uda 文件夹重建 fat16.img (%1), 未生成任何文件.",
     "Error: fat16.img cannot be rebuilt from the folder uda (%1). Nothing was written."},
    {"使用 uda 文件夹: fat16.img 已从 %1 重建 (the folder changed; same geometry as the original image).",
     "Using the folder uda: fat16.img has been rebuilt from %1 (the folder changed; same geometry as the original image)."},
    {"正在重建 fat16 文件. ",
     "Rebuilding the fat16 image. "},
    {"警告: 新的分区比原来的大 (the rebuilt partition is %1 bytes, the original %2 bytes; %3 blocks added), 请确认手机的分区装得下.",
     "Warning: the rebuilt partition is larger than the original (the rebuilt partition is %1 bytes, the original %2 bytes; %3 blocks added); make sure the phone's partition holds it."},
    {"错误: 输入文件的载荷比记录的短 (the payload is shorter than the bytes in front of the ROFS header). 未生成任何文件.",
     "Error: the input file's payload is shorter than recorded (the payload is shorter than the bytes in front of the ROFS header). Nothing was written."},
    {"新的分区比擦除区 %1 长 %2 字节. 要延长这个擦除区吗?",
     "The rebuilt partition is %2 bytes longer than the erase area %1. Extend the erase area?"},
    {"错误: 新的分区超出了擦除区 %1 %2 字节 (the rebuilt payload runs %2 bytes past the end of the erase area that holds it; --extend-erase-area moves its end), 未生成任何文件.",
     "Error: the rebuilt partition runs past the erase area %1 by %2 bytes (the rebuilt payload runs %2 bytes past the end of the erase area that holds it; --extend-erase-area moves its end). Nothing was written."},
    {"错误: 擦除区 %1 不能延长 %2 字节 (it would reach another erase area, or past the last address), 未生成任何文件.",
     "Error: the erase area %1 cannot be extended by %2 bytes (it would reach another erase area, or past the last address). Nothing was written."},
    {"目录表 (之前):",
     "Table of contents (before):"},
    {"目录表 (之后):",
     "Table of contents (after):"},
    {"错误: 文件 %1 的代码块之间有命名块 (a named block stands between the blocks of the partition), 无法打包. 未生成任何文件.",
     "Error: the file %1 has a named block between its code blocks (a named block stands between the blocks of the partition) and cannot be repacked. Nothing was written."},
    {"最大大小 %1",
     "maximum size %1"},
    {"版本 %1",
     "version %1"},
    {"时间戳 %1",
     "time stamp %1"},
    {"新的 ROFS 映像保留原映像的%1.",
     "The rebuilt ROFS image keeps the extracted one's %1."},
    {"错误: 不知道 %1 是从哪个文件解包的 (no Extract made this folder; move it away, or extract again), 未生成任何文件.",
     "Error: it is not known which file %1 was extracted from (no Extract made this folder; move it away, or extract again). Nothing was written."},
    {"警告: 没有生成 uda 文件夹 (%1); fat16.img 已写好, 请用磁盘映像工具修改 fat16.img.",
     "Warning: no folder uda was made (%1); fat16.img has been written: change it with a disk-image tool."},
    {"没有校验清单 (.vpl) 列出 %1, 未写入校验清单.",
     "No checksum list (.vpl) beside it lists %1; no list was written."},
    {"警告: 未写入校验清单 (%1).",
     "Warning: no checksum list was written (%1)."},
    {"校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, 然后把它们一起复制到刷机文件目录下.",
     "The checksum list %1 gives %2 the checksum %3; the new list %4 gives the REB- file its own, %5. Remove “REB-” from both names and copy both into the flashing folder."},
    {"刷机文件夹已写好: %1 (%2 和刷机包的其他文件: %3 个; 可以直接用来刷机).",
     "The flashable folder is written: %1 (%2 and the other files of the package: %3; ready for the flasher)."},
    {"没有复制 %1 (不是文件).",
     "Not copied: %1 (not a file)."},
    {"错误: 无法生成刷机文件夹 %1 (%2), 未生成任何文件.",
     "Error: the flashable folder %1 cannot be written (%2). Nothing was written."},
    {"错误: 文件夹 %1 已经存在且不是空的, 未生成任何文件.",
     "Error: the folder %1 exists and is not empty. Nothing was written."},
    {"完成! 完成! 完成!          ",
     "Done! Done! Done!          "},
    {"REB-%1 文件生成在本程序根目录, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
     "REB-%1 has been made in the program's folder; remove “REB-” from its name and copy it into the flashing folder, and it can be flashed!  "},
    {"REB-%1 文件生成在 %2, 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!  ",
     "REB-%1 has been made in %2; remove “REB-” from its name and copy it into the flashing folder, and it can be flashed!  "},
    {"进度: %1",
     "Progress: %1"},
    {"rofs2r.img 文件: %1",
     "File rofs2r.img: %1"},
    {"REB 文件: %1",
     "REB file: %1"},
    {"打开本程序文件夹(&F)",
     "Open the program &folder"},
};

std::atomic<Language> language{Language::kChinese};

const std::unordered_map<std::string_view, std::string_view>& EnglishForms() {
  static const auto* forms = [] {
    auto* map = new std::unordered_map<std::string_view, std::string_view>;
    for (const CatalogEntry& entry : kCatalog) map->emplace(entry.chinese, entry.english);
    return map;
  }();
  return *forms;
}

}  // namespace

void SetLanguage(Language chosen) { language = chosen; }

Language CurrentLanguage() { return language.load(); }

Language LanguageForName(std::string_view name) {
  if (name.empty() || name == "C" || name.rfind("C.", 0) == 0 || name == "POSIX" || name.rfind("zh", 0) == 0) {
    return Language::kChinese;
  }
  return Language::kEnglish;
}

Language SystemLanguage() { return LanguageForName(port::SystemLanguageName()); }

std::optional<Language> ParseLanguageOption(std::string_view option) {
  if (option == "zh") return Language::kChinese;
  if (option == "en") return Language::kEnglish;
  return std::nullopt;
}

namespace {

template <typename Values>
std::string SayWith(std::string_view chinese, const Values& values) {
  std::string_view text = chinese;
  if (language.load() == Language::kEnglish) {
    const auto found = EnglishForms().find(chinese);
    if (found != EnglishForms().end()) text = found->second;
  }
  std::string said;
  said.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const std::size_t index = i + 1 < text.size() ? static_cast<std::size_t>(text[i + 1] - '1') : values.size();
    if (text[i] == '%' && index < values.size() && index < 9) {
      said += std::string_view(values.begin()[index]);
      ++i;
    } else {
      said += text[i];
    }
  }
  return said;
}

}  // namespace

std::string Say(std::string_view chinese, std::initializer_list<std::string_view> values) {
  return SayWith(chinese, values);
}

std::string Say(std::string_view chinese, std::span<const std::string> values) { return SayWith(chinese, values); }

std::span<const CatalogEntry> Catalog() { return kCatalog; }

}  // namespace larkspur
