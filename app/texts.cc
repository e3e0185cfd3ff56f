#include "app/texts.h"

#include <atomic>
#include <unordered_map>
#include <utility>
#include <vector>

#include "base/hex.h"
#include "port/language.h"

namespace larkspur {
namespace {

// Each text the program shows in Chinese, with its English form. Texts with
// values carry %1..%9 in both forms. Each form is in its own language
// throughout: reasons are texts of their own (values), and only paths,
// numbers, names and the details of a lower library's error are put in as
// they are. The texts the program had from the start keep their Chinese
// byte for byte (texts_test.cc lists them). English forms say counts with
// "{N|one|more}".
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
    {"仍然打开的是之前的文件: %1",
     "The earlier file is still open: %1"},
    {"正在打开文件...  ",
     "Opening the file...  "},
    {"文件: %1",
     "File: %1"},
    {"错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.",
     "Error: the file %1 was not made for the phone model chosen (%2); choose the right model. Nothing was written."},
    {"警告: 块的长度不一致 (%1), 请检查所选手机型号.",
     "Warning: the blocks have irregular lengths (%1); check the phone model chosen."},
    {"错误: 本程序文件夹 %1 正被另一个解包或打包使用 (%2), 请等它结束后再试. 未生成任何文件.",
     "Error: the program folder %1 is in use by another Extract or Repack (%2); try again when it has ended. Nothing was written."},
    {"错误: 上一次中断的运行留下的文件无法恢复 (%1), 未生成任何文件.",
     "Error: what an interrupted run left cannot be put back (%1). Nothing was written."},
    {"错误: 输入文件 %1 不存在或为空, 未生成任何文件.",
     "Error: the input file %1 does not exist or is empty. Nothing was written."},
    {"正在定位文件.   ",
     "Locating the blocks.   "},
    {"错误: 文件 %1 中没有块头 (没有找到标识 %2), 请检查所选手机型号. 未生成任何文件.",
     "Error: the file %1 has no block header (no block header: signature %2 not found); check the phone model chosen. Nothing was written."},
    {"错误: 文件 %1 中没有所选手机型号的块头 (没有找到标识 %2; 这个文件适合 %3), 请选择正确的手机型号. 未生成任何文件.",
     "Error: the file %1 has no block header of the phone model chosen (no block header of the model chosen: signature %2 not found; the file fits %3); choose the right model. Nothing was written."},
    {"错误: 文件 %1 不完整 (%3: %2被截断). 未生成任何文件.",
     "Error: the file %1 is incomplete (cut short inside the %2 of %3). Nothing was written."},
    {"警告: 块链不完整, 已在每个标识处删除块头, 请检查所选手机型号.",
     "Warning: the block chain is broken; a header was removed at every signature; check the phone model chosen."},
    {"定位成功-偏移        %1 标识   ",
     "Located: %1 block headers   "},
    {"错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (载荷以 FAT 引导扇区开头, 是用户数据文件; 请把它改名为 %2 或使用 %3). 未生成任何文件.",
     "Error: the file %1 is named as a ROFS file but holds a FAT image (the name says ROFS, the payload starts with a FAT boot sector: a user data file; rename it to %2 or use %3). Nothing was written."},
    {"错误: 文件 %1 中没有 ROFS 头 (载荷中没有 ROFS 头). 未生成任何文件.",
     "Error: the file %1 holds no ROFS header (no ROFS header in the payload). Nothing was written."},
    {"错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (载荷以 ROFS 头开头, 是 ROFS 文件; 请把名称中的 %2 去掉或使用 %3). 未生成任何文件.",
     "Error: the file %1 is named as a UDA file but holds a ROFS image (the name says UDA, the payload starts with a ROFS header: a ROFS file; rename it without %2 or use %3). Nothing was written."},
    {"警告: 载荷开头没有找到 FAT 引导扇区, fat16.img 从载荷开头开始, 请检查.",
     "Warning: no FAT boot sector was found at the start of the payload; fat16.img begins where the payload begins; check it."},
    {"警告: 载荷开头没有找到 FAT 引导扇区, fat16.img 从第一个 E9 00 90开始, 请检查.",
     "Warning: no FAT boot sector was found at the start of the payload; fat16.img begins at the first E9 00 90; check it."},
    {"注意: ROFS 头前面的 %1 字节不全是零 (开头是 %2; 打包时在那里写零, 使用 %3 则写这些字节).",
     "Note: the %1 {1|byte|bytes} in front of the ROFS header {1|is|are} not all zero (the %1 {1|byte|bytes} in front of the ROFS header begin %2; Repack writes zeros there, or these bytes with %3)."},
    {"错误: 文件 %1 已损坏 (%2%3), 未生成任何文件.",
     "Error: the file %1 is damaged (%2%3). Nothing was written."},
    {"警告: 文件已损坏, 按要求仍然解包 (%1).",
     "Warning: the file is damaged and is extracted anyway, as asked (%1)."},
    {"注意: 块头中有配置文件之外的字节, 打包时保留 (%3 个块中有 %2 个是 %1, 从块 %4 到块 %5).",
     "Note: the block headers hold bytes the profile does not give; Repack keeps them (header bytes the profile does not give: %1 in %2 of %3 {3|block|blocks}, from block %4 to %5)."},
    {"擦除区 %1 在分区之后还有 %2 字节空闲.",
     "The erase area %1 has %2 {2|byte|bytes} free after the partition."},
    {"rofs2.img 文件创建成功",
     "rofs2.img has been created"},
    {"正在解包 rofs2.img 文件. ",
     "Unpacking rofs2.img. "},
    {"请稍等...       ",
     "Please wait...       "},
    {"上一次解包的文件已保存在 %1.",
     "The files of the earlier Extract are kept in %1."},
    {"警告: 无法读取隐藏项和文件属性 (%1), 打包时将使用默认属性.",
     "Warning: the hidden entries and file attributes cannot be read (%1); Repack will use the default attributes."},
    {"已记录 %1 个隐藏项和 %2 个文件属性 (文件夹无法显示它们, 打包时使用).",
     "Recorded %1 hidden {1|entry|entries} and %2 file {2|attribute|attributes} (a folder cannot show them; they are kept for Repack)."},
    {"rofs2.img 文件已解包在 rofs2 文件夹, 修改时请不要关闭本程序.                         ",
     "rofs2.img has been unpacked into the folder rofs2; do not close this program while you make changes.                         "},
    {"rofs2.img 文件解包失败: readimage 退出状态为 0, 但没有在 %1 中写入任何文件.",
     "Unpacking rofs2.img failed: readimage exit status 0 but wrote nothing into %1."},
    {"rofs2.img 文件解包失败: readimage %1.",
     "Unpacking rofs2.img failed: readimage %1."},
    {"rofs2 文件夹保持不变 (%1 仍是这次解包之前的样子).",
     "The folder rofs2 is unchanged (%1 was left as it was before this Extract)."},
    {"rofs2 文件夹: %1",
     "Folder rofs2: %1"},
    {"上一次解包的 uda 文件夹已保存在 %1.",
     "The earlier folder uda is kept in %1."},
    {"fat16.img 中的 %1 个文件和 %2 个文件夹已解包到 %3 (请在那里修改, 或用磁盘映像工具修改 fat16.img).",
     "%1 {1|file|files} and %2 {2|folder|folders} of fat16.img have been unpacked into %3 (edit them there, or edit fat16.img with a disk-image tool)."},
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
    {"错误: 无法读取文件夹 %1 (无法列出它的内容, 映像中会缺少它的文件). 未生成任何文件.",
     "Error: the folder %1 cannot be read (the folder cannot be listed; its files would be missing from the image). Nothing was written."},
    {"错误: 链接无法打包: %1",
     "Error: a link cannot be packed: %1"},
    {"错误: rofs2 中有 %1 个链接 (链接不能放进映像, 请放入文件本身), 未生成任何文件.",
     "Error: rofs2 holds %1 {1|link|links} (links cannot go into the image; put the files themselves there). Nothing was written."},
    {"错误: 文件名无法写入 obey 文件: %1 (%2)",
     "Error: a file name the obey file cannot carry: %1 (%2)"},
    {"错误: %1 个文件名无法写入 obey 文件 (请给上面列出的文件改名), 未生成任何文件.",
     "Error: %1 file {1|name|names} cannot go into the obey file (rename the files named above). Nothing was written."},
    {"错误: %1 (隐藏项的记录已损坏, 请重新解包). 未生成任何文件.",
     "Error: %1 (the record of hidden entries is damaged; extract again). Nothing was written."},
    {"保留了 %1 个隐藏项和 %2 个文件属性 (来自解包的映像).",
     "Kept %1 hidden {1|entry|entries} and %2 file {2|attribute|attributes} (carried over from the extracted image)."},
    {"隐藏项 %1 已被 rofs2 中的文件取代, 不再隐藏.",
     "The hidden entry %1 is no longer hidden: a file in rofs2 takes its place."},
    {"警告: 隐藏项无法写入 obey 文件, 已丢失: %1",
     "Warning: a hidden entry cannot go into the obey file and is lost: %1"},
    {"警告: %1 的属性只能部分保留 (obey 文件无法表示的属性位已丢弃).",
     "Warning: the attributes of %1 are kept only in part (attribute bits the obey file cannot give were dropped)."},
    {"完成!    ",
     "Done!    "},
    {"完成!   ",
     "Done!   "},
    {"正在重建 rofs 文件.       ",
     "Rebuilding the rofs image.       "},
    {"rofsbuild %1: rofs 文件重建失败.",
     "rofsbuild %1: rebuilding the rofs image failed."},
    {"错误: 输入文件 %1 在打开后已被修改, 请重新打开并解包. 未生成任何文件.",
     "Error: the input file %1 has changed since it was opened; open and extract it again. Nothing was written."},
    {"错误: 起始地址不是 4 字节 (%1), 未生成任何文件.",
     "Error: the start address is not 4 bytes long (%1). Nothing was written."},
    {"错误: 不知道 %1 是从哪个文件解包的 (没有解包的记录), 请先解包 %2. 未生成任何文件.",
     "Error: it is not known which file %1 was extracted from (no record of an Extract); extract %2 first. Nothing was written."},
    {"错误: %1 是从另一个文件解包的 (%2), 请先解包 %3. 未生成任何文件.",
     "Error: %1 was extracted from another file (%2); extract %3 first. Nothing was written."},
    {"错误: %1 是空的 (没有可打包的文件), 请先解包 %2. 未生成任何文件.",
     "Error: %1 is empty (nothing to pack); extract %2 first. Nothing was written."},
    {"错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件.",
     "Error: rebuilding the rofs image failed (rofsbuild failed; its last lines are above). Nothing was written."},
    {"错误: uda 文件夹和 fat16.img 都已被修改 (解包后 %1 和 %2 都有改动; 请只保留其中一个的修改, 或重新解包), 未生成任何文件.",
     "Error: both the folder uda and fat16.img have been changed (both %1 and %2 changed since the Extract; keep the changes of one, or extract again). Nothing was written."},
    {"使用 fat16.img (解包后已用其他工具修改).",
     "Using fat16.img (edited with another tool since the Extract)."},
    {"使用 fat16.img (uda 文件夹中没有改动).",
     "Using fat16.img (nothing in uda changed)."},
    {"错误: %1 不存在或为空, 未生成任何文件.",
     "Error: %1 does not exist or is empty. Nothing was written."},
    {"错误: 无法从 uda 文件夹重建 fat16.img (%1), 未生成任何文件.",
     "Error: fat16.img cannot be rebuilt from the folder uda (%1). Nothing was written."},
    {"使用 uda 文件夹: fat16.img 已从 %1 重建 (文件夹有改动; 几何参数与原映像相同).",
     "Using the folder uda: fat16.img has been rebuilt from %1 (the folder changed; same geometry as the original image)."},
    {"正在重建 fat16 文件. ",
     "Rebuilding the fat16 image. "},
    {"警告: 新的分区比原来的大 (新的 %1 字节, 原来的 %2 字节; 增加了 %3 个块), 请确认手机的分区装得下.",
     "Warning: the rebuilt partition is larger than the original (the rebuilt partition is %1 bytes, the original %2 bytes; %3 {3|block|blocks} added); make sure the phone's partition holds it."},
    {"错误: 输入文件的载荷比记录的短 (比 ROFS 头前面的字节还短). 未生成任何文件.",
     "Error: the input file's payload is shorter than recorded (the payload is shorter than the bytes in front of the ROFS header). Nothing was written."},
    {"新的分区比擦除区 %1 长 %2 字节. 要延长这个擦除区吗?",
     "The rebuilt partition is %2 bytes longer than the erase area %1. Extend the erase area?"},
    {"错误: 新的分区超出了擦除区 %1 %2 字节 (%3 可以移动擦除区的结尾), 未生成任何文件.",
     "Error: the rebuilt partition runs past the erase area %1 by %2 {2|byte|bytes} (the rebuilt payload runs %2 {2|byte|bytes} past the end of the erase area that holds it; %3 moves its end). Nothing was written."},
    {"错误: 擦除区 %1 不能延长 %2 字节 (会碰到另一个擦除区, 或超过最后的地址), 未生成任何文件.",
     "Error: the erase area %1 cannot be extended by %2 {2|byte|bytes} (it would reach another erase area, or past the last address). Nothing was written."},
    {"目录表 (之前):",
     "Table of contents (before):"},
    {"目录表 (之后):",
     "Table of contents (after):"},
    {"错误: 文件 %1 的代码块之间有命名块, 无法打包. 未生成任何文件.",
     "Error: the file %1 has a named block between the code blocks of its partition and cannot be repacked. Nothing was written."},
    {"最大大小 %1",
     "maximum size %1"},
    {"版本 %1",
     "version %1"},
    {"时间戳 %1",
     "time stamp %1"},
    {"新的 ROFS 映像保留原映像的%1.",
     "The rebuilt ROFS image keeps the extracted one's %1."},
    {"错误: 不知道 %1 是从哪个文件解包的 (这个文件夹不是解包生成的; 请把它移走, 或重新解包), 未生成任何文件.",
     "Error: it is not known which file %1 was extracted from (no Extract made this folder; move it away, or extract again). Nothing was written."},
    {"警告: 没有生成 uda 文件夹 (%1); fat16.img 已写好, 请用磁盘映像工具修改 fat16.img.",
     "Warning: no folder uda was made (%1); fat16.img has been written: change it with a disk-image tool."},
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
    // Reasons and counts said inside other texts, and the lines of info and
    // verify.
    {"块头",
     "header"},
    {"载荷",
     "payload"},
    {"文件偏移 %1 处的命名块",
     "named block at file offset %1"},
    {"文件偏移 %2 处的块 %1",
     "block %1 at file offset %2"},
    {"文件偏移 %2 处的命名块 %1",
     "named block %1 at file offset %2"},
    {"第一个块结束于文件偏移 %1, 那里没有块头 (实为 %2)",
     "the first block ends at file offset %1, where no block header begins (found %2)"},
    {"块 %1 结束于文件偏移 %2, 那里没有块头 (实为 %3)",
     "block %1 ends at file offset %2, where no block header begins (found %3)"},
    {"%1: %2应为 %3, 实为 %4",
     "%1: %2 expected %3, found %4"},
    {"校验值",
     "check value"},
    {"块头校验和",
     "header checksum"},
    {"; 另外还有 %1 处",
     "; and %1 more"},
    {"这是 FAT32 卷; 只有 FAT12 和 FAT16 卷能解包到文件夹",
     "a FAT32 volume; only FAT12 and FAT16 are unpacked into a folder"},
    {"块长度为 %1 字节, 所选手机型号的块长度为 %2 字节; 没有已知的手机型号使用这种块",
     "blocks of %1 bytes, the model chosen has blocks of %2 bytes; no model Larkspur knows has such blocks"},
    {"块长度为 %1 字节, 所选手机型号的块长度为 %2 字节; 这个文件适合 %3",
     "blocks of %1 bytes, the model chosen has blocks of %2 bytes; the file fits %3"},
    {"块 %1: %2",
     "block %1: %2"},
    {"%1, 另外还有 %2 个",
     "%1 and %2 more"},
    {"另一个解包或打包持有它的锁",
     "another Extract or Repack holds its lock"},
    {"从 %1 解包",
     "extracted from %1"},
    {"从改动之前的 %1 解包",
     "extracted from %1 before it changed"},
    {"名称中不能有反斜杠",
     "a backslash cannot stand in a name"},
    {"obey 文件的行中不能有双引号",
     "a double quote cannot stand in a line of the obey file"},
    {"obey 文件的行中不能有控制字符",
     "a control character cannot stand in a line of the obey file"},
    {"名称不是 UTF-8 文本",
     "the name is not UTF-8 text"},
    {"ROFS 映像中不能存放超过 255 个字符的名称",
     "a name longer than 255 characters cannot be stored in a ROFS image"},
    {"退出状态 %1",
     "exit status %1"},
    {"无法启动 (%1)",
     "could not be started (%1)"},
    {"没有等待它结束",
     "was not waited for"},
    {"被信号 %1 终止",
     "ended by signal %1"},
    {"字节 %1/%2",
     "bytes %1 of %2"},
    {"文件 %1/%2",
     "files %1 of %2"},
    {"块 %1/%2",
     "blocks %1 of %2"},
    {"%1 %2/%3",
     "%1 %2 of %3"},
    {"擦除区",
     "erase area"},
    {"分区信息",
     "partition info"},
    {"格式化分区",
     "format partition"},
    {"%1 类型",
     "%1 type"},
    {"%1 算法",
     "%1 algorithm"},
    {"%1 手机类型",
     "%1 phone type"},
    {"日期",
     "date"},
    {"描述",
     "description"},
    {"数组",
     "array"},
    {"标签 %1",
     "tag %1"},
    {"设备 %1",
     "device %1"},
    {"%1 项",
     "%1 {1|entry|entries}"},
    {"(空)",
     "(empty)"},
    {"这个块结束的地方 (文件偏移 %1) 没有块头 (实为 %2)",
     "no block header where this block ends, at file offset %1 (found %2)"},
    {"配置文件的块头长度没有已知的布局",
     "the profile's header size has no known layout"},
    {"块头校验和应为 %1, 实为 %2",
     "header checksum expected %1, found %2"},
    {"块头被截断: 只有 %1 字节, 共 %2 字节",
     "header cut short: %1 of %2 bytes"},
    {"块头被截断: 只有 %1 字节",
     "header cut short: %1 {1|byte|bytes}"},
    {"载荷长度 %1 超出了文件末尾 (只剩 %2 字节)",
     "payload length %1 runs past the end of the file (%2 {2|byte|bytes} left)"},
    {"目录表结束的地方 (文件偏移 %1) 没有块头 (实为 %2)",
     "no block header where the table of contents ends, at file offset %1 (found %2)"},
    {"%1; 读取文件时没有使用它",
     "%1; the file was read without it"},
    {"文件中没有块头 (标识 %1)",
     "no block header (signature %1) in the file"},
    {"块长度为 %1 字节, 这个手机型号的块长度为 %2: 这个文件不适合任何已知的手机型号",
     "blocks of %1 bytes, the model has blocks of %2: the file fits no known model"},
    {"块长度为 %1 字节, 这个手机型号的块长度为 %2: 这个文件是为%3制作的",
     "blocks of %1 bytes, the model has blocks of %2: the file was made for %3"},
    {"文件偏移 %1 处的块头已损坏, 在块 0 之前: 标识应为 %2, 实为 %3",
     "damaged block header at file offset %1, before block 0: signature expected %2, found %3"},
    {"加载地址应为 %1, 实为 %2",
     "load address expected %1, found %2"},
    {"载荷长度 %1 超过了块长度 %2",
     "payload length %1 is more than the block size %2"},
    {"校验值应为 %1, 实为 %2",
     "check value expected %1, found %2"},
    {"文件偏移 %2 处的%1",
     "%1 at file offset %2"},
    {"文件:           %1",
     "file:           %1"},
    {"类型:           %1",
     "kind:           %1"},
    {"大小:           %1 字节",
     "size:           %1 {1|byte|bytes}"},
    {"块头布局:       %1 字节的块头, 块长度 %2",
     "header layout:  %1-byte headers, block size %2"},
    {"目录表:         未读取: %1",
     "table of contents: not read: %1"},
    {"目录表:         %1 字节, %2 项",
     "table of contents: %1 bytes, %2 {2|entry|entries}"},
    {"目录表 (%1 字节)",
     "table of contents (%1 bytes)"},
    {"前缀:           %1 字节: %2",
     "prefix:         %1 {1|byte|bytes}: %2"},
    {"前缀:           %1 字节",
     "prefix:         %1 {1|byte|bytes}"},
    {"%1 字节的 FF",
     "%1 {1|byte|bytes} of FF"},
    {"命名块 %1",
     "named block %1"},
    {"命名块 %1 (%2)",
     "named block %1 (%2)"},
    {"命名块:         %1",
     "named blocks:   %1"},
    {"块头被截断",
     "header cut short"},
    {"%1 字节的块头, 载荷 %2 字节, 地址 %3",
     "%1-byte header, payload %2 bytes, address %3"},
    {"  %1: %2, 位于文件偏移 %3",
     "  %1: %2, at file offset %3"},
    {"起始地址:       %1",
     "start address:  %1"},
    {"块:             %1",
     "blocks:         %1"},
    {"加载地址:       %1 .. %2",
     "load addresses: %1 .. %2"},
    {"载荷长度:      %1",
     "payload lengths:%1"},
    {"擦除区:         %1",
     "erase area:     %1"},
    {"目录表中没有擦除区",
     "the table of contents gives none"},
    {"表中没有一个包含载荷的起点 %1",
     "none of the table's holds the payload's start %1"},
    {"%1-%2 包含载荷 %3-%4, %5",
     "%1-%2 holds the payload %3-%4, %5"},
    {"%1 字节空闲",
     "%1 {1|byte|bytes} free"},
    {"超出 %1 字节",
     "over by %1 {1|byte|bytes}"},
    {"块 %2",
     "{1|block|blocks} %2"},
    {"%2 之后 %1 字节",
     "%1 after %2"},
    {"填充:           %1",
     "padding:        %1"},
    {"代码块之间没有",
     "none between the code blocks"},
    {"代码块之间有 %1 字节的 FF (%2)",
     "%1 {1|byte|bytes} of FF between the code blocks (%2)"},
    {"块之后:         %1",
     "after the blocks: %1"},
    {"什么也没有",
     "nothing"},
    {"%2 中的 %1",
     "%1 in %2"},
    {"配置文件之外的块头字节: %1",
     "header bytes the profile does not give: %1"},
    {"ROFS 头:        %1",
     "ROFS header:    %1"},
    {"在载荷中没有找到",
     "not found in the payloads"},
    {"在载荷的偏移 %1 处%2",
     "at offset %1 of the payloads%2"},
    {", 前面没有任何字节",
     ", nothing in front of it"},
    {"; 前面的字节: 全是零 (%1 字节)",
     "; the bytes in front of it: all zero (%1 {1|byte|bytes})"},
    {"; 前面的字节: 不全是零 (%1 字节, 开头是 %2)",
     "; the bytes in front of it: not zero (%1 {1|byte|bytes}, beginning %2)"},
    {"FAT 卷:         %1",
     "FAT volume:     %1"},
    {"引导扇区在载荷的偏移 %1 处%2",
     "boot sector at offset %1 of the payloads%2"},
    {", 前面有 %1 个零字节",
     ", after %1 zero {1|byte|bytes}"},
    {"载荷开头没有 FAT 引导扇区; 解包时取第一个 E9 00 90, 在偏移 %1 处",
     "no FAT boot sector at the start of the payloads; Extract takes the first E9 00 90, at offset %1"},
    {"载荷开头没有 FAT 引导扇区, 载荷中也没有 E9 00 90",
     "no FAT boot sector at the start of the payloads, and no E9 00 90 in them"},
    {"块头:           全部 %1 个正确 (标识, 校验值, 校验和, 长度, 地址链)",
     "headers:        all %1 right (signature, check value, checksum, length, address chain)"},
    {"命名块头:       全部 %1 个正确 (校验和; 它们的校验值没有检查: 算法未知)",
     "named headers:  all %1 right (the checksum; their check values are not checked: the algorithm is not known)"},
    {"块头:           下面是有错误的",
     "headers:        wrong ones follow"},
    {"适合的手机型号: %1",
     "models that fit: %1"},
    {"无",
     "none"},
    {"文件是空的",
     "the file is empty"},
    {"是文件夹, 不是文件",
     "is a folder, not a file"},
    {"没有这个文件",
     "no such file"},
    {"文件系统:       没有找到 (载荷开头没有 FAT 引导扇区)",
     "file system:    none found (no FAT boot sector at the start of the payload)"},
    {"文件系统:       已损坏: %1",
     "file system:    damaged: %1"},
    {"文件系统:       %1, %2 个簇, 每簇 %3 字节, %4 个 FAT%5",
     "file system:    %1, %2 clusters of %3 bytes, %4 {4|FAT|FATs}%5"},
    {" (副本不一致)",
     " (the copies differ)"},
    {"卷标:           %1, 序列号 %2",
     "volume label:   %1, serial %2"},
    {"空间:           %1 字节, 已用 %2, 空闲 %3%4",
     "space:          %1 bytes, %2 used, %3 free%4"},
    {", 坏簇中 %1",
     ", %1 in bad clusters"},
    {"文件夹:         根目录下 %1 个",
     "folders:        %1 below the root"},
    {"文件数:         %1",
     "files:          %1"},
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

using Values = std::vector<std::string_view>;

// The Nth value (N a digit 1..9 at `at`), or nothing.
const std::string_view* ValueAt(std::string_view text, std::size_t at, const Values& values) {
  if (at >= text.size() || text[at] < '1' || text[at] > '9') return nullptr;
  const auto index = static_cast<std::size_t>(text[at] - '1');
  return index < values.size() ? &values[index] : nullptr;
}

// A plural choice "{N|one|more}" at `at`: the word it gives and the length
// of the choice; nothing when `at` holds none.
std::optional<std::pair<std::string_view, std::size_t>> PluralAt(std::string_view text, std::size_t at,
                                                                 const Values& values) {
  if (text[at] != '{' || at + 2 >= text.size() || text[at + 2] != '|') return std::nullopt;
  const std::string_view* value = ValueAt(text, at + 1, values);
  const std::size_t bar = text.find('|', at + 3);
  const std::size_t end = bar == std::string_view::npos ? bar : text.find('}', bar + 1);
  if (value == nullptr || end == std::string_view::npos) return std::nullopt;
  const std::string_view one = text.substr(at + 3, bar - at - 3), more = text.substr(bar + 1, end - bar - 1);
  return std::pair{*value == "1" ? one : more, end + 1 - at};
}

template <typename Given>
std::string SayWith(std::string_view chinese, const Given& given) {
  std::string_view text = chinese;
  if (language.load() == Language::kEnglish) {
    const auto found = EnglishForms().find(chinese);
    if (found != EnglishForms().end()) text = found->second;
  }
  const Values values(given.begin(), given.end());
  std::string said;
  said.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%') {
      if (const std::string_view* value = ValueAt(text, i + 1, values)) {
        said += ControlCharactersEscaped(*value);
        ++i;
        continue;
      }
    } else if (const auto plural = PluralAt(text, i, values)) {
      said += plural->first;
      i += plural->second - 1;
      continue;
    }
    said += text[i];
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
