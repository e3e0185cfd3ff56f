// Open, Extract and Repack through the pipeline alone: generated firmware
// files, a scratch program folder, and ROFS tools that are fakes or the
// ROFS library's work in this process. No window, no processes, no sleeps.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "base/hex.h"
#include "format/model_profile.h"
#include "pipeline/extract.h"
#include "pipeline/opened_file.h"
#include "pipeline/repack.h"
#include "pipeline/run_lock.h"
#include "workspace/transaction.h"
#include "rofs/rofs_reader.h"
#include "testing/firmware_fixture.h"
#include "testing/firmware_read_back.h"
#include "pipeline/tool_runner.h"
#include "testing/rofs_images.h"
#include "testing/said_in_english.h"
#include "testing/scratch_folder.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

namespace larkspur::pipeline {
namespace {

namespace fs = std::filesystem;

const std::string kRofsMagic = "ROFS0\xFF";
const std::string kFatMagic("\xE9\x00\x90", 3);

class RecordingReporter : public Reporter {
 public:
  void Log(const Text& line) override { lines.push_back(line); }
  void Progress(const std::optional<Text>&) override {}
  void UnableToRun(const std::string& text) override { boxes.push_back(text); }
  bool Confirm(const Text& question) override {
    questions.push_back(question);
    return answer;
  }

  bool Logged(std::string_view key) const {
    for (const Text& line : lines) {
      if (line.key == key) return true;
    }
    return false;
  }

  std::vector<Text> lines;
  std::vector<std::string> boxes;
  std::vector<Text> questions;
  bool answer = false;
};

// Values as the Chinese catalog says them, joined by '|'; the pipeline
// cannot say them itself.
std::string Said(const std::vector<Text>& values) {
  std::string said;
  for (const Text& value : values) said += (said.empty() ? "" : "|") + testing::SaidInEnglish(value);
  return said;
}

// The tools as a test wants them: by default the unpacker copies the image
// into rofs2 as image.bin and the builder writes "ROFS0" FF and the obey
// file's bytes, as the stand-in programs do.
class FakeRofsTools : public RofsTools {
 public:
  std::function<ToolResult(const Workspace&)> unpack = [](const Workspace& workspace) {
    fs::copy_file(workspace.Path(work::kRofsImage), workspace.Path("rofs2/image.bin"));
    return ToolResult{true, ExitStatusText(0), {}};
  };
  std::function<ToolResult(const Workspace&)> build = [](const Workspace& workspace) {
    std::ifstream obey(workspace.Path(work::kObeyFile), std::ios::binary);
    std::ofstream(workspace.Path(work::kBuiltRofsImage), std::ios::binary) << kRofsMagic << obey.rdbuf();
    return ToolResult{true, ExitStatusText(0), {}};
  };
  int pauses = 0;

  ToolResult Unpack(const Workspace& workspace, Reporter&) override { return unpack(workspace); }
  ToolResult Build(const Workspace& workspace, Reporter&) override { return build(workspace); }
  void Pause(int) override { ++pauses; }
};

// A program folder with the working folders, and the firmware files in it.
struct Home {
  testing::ScratchFolder folder;
  Workspace workspace{folder.path()};
  RecordingReporter reporter;
  FakeRofsTools tools;

  Home() {
    for (const char* name : {"exebat", "temp", "rofs2", "fat16"}) fs::create_directories(folder.Path(name));
  }
  OpenedFile Open(const std::string& name, const std::string& bytes, int model = 0) {
    return OpenFirmware(folder.Write(name, bytes), std::nullopt, model, reporter);
  }
};

TEST(PipelineTest, OpenReadsTheLayoutAndStartAddressInTheModelsFormat) {
  Home home;
  const std::string file = testing::MakeFirmware({.model = 1, .uda = true, .prefix = "PP", .start_address = 0xABCDEF01},
                                                 kFatMagic + testing::PatternBytes(0x9000));
  const OpenedFile opened = home.Open("RM-1.uda.fpsx", file, 1);
  EXPECT_EQ(opened.kind, PartitionKind::kUda);
  EXPECT_EQ(opened.name, "RM-1.uda.fpsx");
  EXPECT_EQ(opened.layout.blocks.size(), 2u);
  EXPECT_EQ(opened.layout.prefix_length, 2u);
  EXPECT_EQ(opened.start_address, testing::BigEndian(0xABCDEF01));
  EXPECT_EQ(home.reporter.lines, (std::vector<Text>{Text("正在打开文件...  "),
                                                    Text("文件: %1", {home.folder.Path("RM-1.uda.fpsx")}), Text("")}));
  // Missing, empty and folder are no files to open.
  fs::create_directory(home.folder.Path("folder.uda.bin"));
  for (const char* name : {"missing.uda.bin", "folder.uda.bin"}) {
    EXPECT_THROW(OpenFirmware(home.folder.Path(name), std::nullopt, 0, home.reporter), NoFileError) << name;
  }
  EXPECT_THROW(home.Open("empty.uda.bin", ""), NoFileError);
}

// Each refusal of Extract names the file and the cause, and nothing in the
// program folder changes.
TEST(PipelineTest, ExtractRefusesWhatWouldGiveAWrongImage) {
  const std::string rofs = testing::MakeFirmware({}, kRofsMagic + testing::PatternBytes(0x50000));
  const std::string uda = testing::MakeFirmware({.uda = true}, kFatMagic + testing::PatternBytes(0x50000));
  const struct {
    const char* label;
    std::string name;
    std::string file;
    int model;
    std::string key;                // the refusal's text
    std::string said;               // its values, said, after the file's path
    std::vector<int> fitting = {};  // the models the refusal offers
  } cases[] = {
      {"no header", "a.uda.bin", kFatMagic + "no header here", 0,
       "错误: 文件 %1 中没有块头 (没有找到标识 %2), 请检查所选手机型号. 未生成任何文件.",
       "5401170E000300"},
      {"cut inside a header", "a.rofs2.bin", rofs.substr(0, 19 + 0x40000 + 11), 0,
       "错误: 文件 %1 不完整 (%3: %2被截断). 未生成任何文件.",
       "header|block 1 at file offset 0x00040013"},
      {"cut inside a payload", "a.uda.bin", uda.substr(0, uda.size() - 1), 0,
       "错误: 文件 %1 不完整 (%3: %2被截断). 未生成任何文件.",
       "payload|block 1 at file offset 0x00040013"},
      {"another model's blocks",
       "a.rofs2.bin",
       testing::MakeFirmware({.model = 2}, kRofsMagic + testing::PatternBytes(0x50000)),
       0,
       "错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.",
       "blocks of 0x20000 bytes, the model chosen has blocks of 0x40000 bytes; the file fits Phone model (5320), "
       "Phone model (N78)",
       {2, 3}},
      {"another model's headers",
       "a.uda.bin",
       testing::MakeFirmware({.model = 1, .uda = true}, kFatMagic + "abc"),
       0,
       "错误: 文件 %1 中没有所选手机型号的块头 (没有找到标识 %2; 这个文件适合 %3), 请选择正确的手机型号. 未生成任何文件.",
       "5401170E000300|Phone model (N96)",
       {1}},
      {"named ROFS, holds FAT",
       "a.rofs2.bin",
       testing::MakeFirmware({}, testing::FatBootSector(0x100) + testing::PatternBytes(0x1FE00)),
       0,
       "错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (载荷以 FAT 引导扇区开头, 是用户数据文件; 请把它改名为 %2 或使用 %3). 未生成任何文件.",
       "*.uda.*|--kind uda"},
      {"named UDA, holds ROFS",
       "a.uda.bin",
       testing::MakeFirmware({.uda = true}, kRofsMagic + testing::PatternBytes(0x100)),
       0,
       "错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (载荷以 ROFS 头开头, 是 ROFS 文件; 请把名称中的 %2 去掉或使用 %3). 未生成任何文件.",
       "\"uda\"|--kind rofs"},
      {"no ROFS header", "a.rofs2.bin", testing::MakeFirmware({}, testing::PatternBytes(0x100)), 0,
       "错误: 文件 %1 中没有 ROFS 头 (载荷中没有 ROFS 头). 未生成任何文件.", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    home.folder.Write("temp/rofs2.img", "earlier");
    home.folder.Write("rofs2/earlier.txt", "earlier");
    OpenedFile opened = home.Open(c.name, c.file, c.model);
    const auto before = testing::TreeOf(home.folder.root());
    const Outcome outcome = Extract(opened, c.model, home.workspace, home.tools, home.reporter);
    EXPECT_EQ(outcome.status, Status::kRefused);
    ASSERT_TRUE(outcome.refusal);
    EXPECT_EQ(outcome.refusal->key, c.key);
    EXPECT_EQ(Said(outcome.refusal->values), home.folder.Path(c.name) + (c.said.empty() ? "" : "|" + c.said));
    EXPECT_EQ(outcome.models_that_fit, c.fitting);
    EXPECT_EQ(testing::TreeOf(home.folder.root()), before);
  }
}

TEST(PipelineTest, AFileChangedOrGoneSinceOpenIsRefusedByEveryCommand) {
  for (const bool repack : {false, true}) {
    Home home;
    OpenedFile opened = home.Open("a.uda.bin", testing::MakeFirmware({.uda = true}, kFatMagic + "abc"));
    home.folder.Write("a.uda.bin", "changed");
    const Outcome outcome = repack ? Repack(opened, 0, home.workspace, home.tools, home.reporter).outcome
                                   : Extract(opened, 0, home.workspace, home.tools, home.reporter);
    ASSERT_TRUE(outcome.refusal) << repack;
    EXPECT_EQ(
        outcome.refusal->key,
        "错误: 输入文件 %1 在打开后已被修改, 请重新打开并解包. 未生成任何文件.");
    fs::remove(home.folder.Path("a.uda.bin"));
    const Outcome gone = repack ? Repack(opened, 0, home.workspace, home.tools, home.reporter).outcome
                                : Extract(opened, 0, home.workspace, home.tools, home.reporter);
    ASSERT_TRUE(gone.refusal) << repack;
    EXPECT_EQ(gone.refusal->key, "错误: 输入文件 %1 不存在或为空, 未生成任何文件.");
  }
}

// Extract of each kind under each model writes the partition image and the
// record that ties it to the file; an unchanged Repack gives the file back.
TEST(PipelineTest, UdaOfEveryModelRoundTripsAndIsRecorded) {
  for (int model = 0; model < kModelCount; ++model) {
    SCOPED_TRACE(model);
    Home home;
    // Zero sectors in front of the boot sector are no part of the image,
    // and go back in front of it.
    const std::string image = testing::FatBootSector(0x100) + testing::PatternBytes(0x1FE00, model);
    const std::string input =
        testing::MakeFirmware({.model = model, .uda = true, .prefix = "HEAD"}, std::string(1024, '\0') + image);
    OpenedFile opened = home.Open("RM-9.uda.fpsx", input, model);
    ASSERT_TRUE(Extract(opened, model, home.workspace, home.tools, home.reporter).done());
    EXPECT_TRUE(home.folder.Read("fat16/fat16.img") == image);
    const auto source = home.workspace.ReadTreeSource(PartitionKind::kUda);
    ASSERT_TRUE(source);
    EXPECT_EQ(source->path, opened.path);
    EXPECT_EQ(source->partition_size, image.size());
    EXPECT_EQ(source->lead, 1024u);
    EXPECT_EQ(source->model, model);
    EXPECT_TRUE(home.reporter.Logged("定位成功-偏移        %1 标识   "));
    const RepackResult repacked = Repack(opened, model, home.workspace, home.tools, home.reporter);
    ASSERT_TRUE(repacked.outcome.done());
    EXPECT_TRUE(home.folder.Read("REB-RM-9.uda.fpsx") == input);
    EXPECT_EQ(home.reporter.lines.back(), Text("REB 文件: %1", {home.folder.Path("REB-RM-9.uda.fpsx")}));
  }
}

// A failed unpack leaves the earlier tree and its records exactly as they
// were; an unpacker that says it succeeded but wrote nothing has failed.
TEST(PipelineTest, AFailedUnpackLeavesTheEarlierTreeAndRecords) {
  const struct {
    const char* label;
    std::function<ToolResult(const Workspace&)> unpack;
    Text line;  // the failure line
  } cases[] = {
      {"the tool fails",
       [](const Workspace&) {
         return ToolResult{false, ExitStatusText(2), {"readimage: bad image"}};
       },
       Text("rofs2.img 文件解包失败: readimage %1.", {ExitStatusText(2)})},
      {"the tool writes nothing",
       [](const Workspace&) {
         return ToolResult{true, ExitStatusText(0), {}};
       },
       Text("rofs2.img 文件解包失败: readimage 退出状态为 0, 但没有在 %1 中写入任何文件.", {"<tree>"})},
      {"the tool writes half a tree, then fails",
       [](const Workspace& workspace) {
         std::ofstream(workspace.Path("rofs2/half.txt")) << "half";
         return ToolResult{false, ExitStatusText(1), {"disk full"}};
       },
       Text("rofs2.img 文件解包失败: readimage %1.", {ExitStatusText(1)})},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    home.tools.unpack = c.unpack;
    home.folder.Write("rofs2/earlier.txt", "earlier tree");
    home.folder.Write("temp/rofs2.source", "earlier record");
    home.folder.Write("temp/rofs2.kept", "earlier kept");
    OpenedFile opened = home.Open("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
    const Outcome outcome = Extract(opened, 0, home.workspace, home.tools, home.reporter);
    EXPECT_EQ(outcome.status, Status::kFailed);
    EXPECT_EQ(testing::TreeOf(home.folder.Path("rofs2")),
              (std::map<std::string, std::string>{{"earlier.txt", "earlier tree"}}));
    EXPECT_FALSE(fs::exists(home.folder.Path("rofs2.held")));
    EXPECT_FALSE(fs::exists(home.folder.Path("rofs2.previous")));
    EXPECT_EQ(home.folder.Read("temp/rofs2.source"), "earlier record");
    EXPECT_EQ(home.folder.Read("temp/rofs2.kept"), "earlier kept");
    Text expected = c.line;
    for (Text& value : expected.values) {
      if (value.key == "<tree>") value = home.folder.Path("rofs2");
    }
    EXPECT_TRUE(std::find(home.reporter.lines.begin(), home.reporter.lines.end(), expected) !=
                home.reporter.lines.end());
  }
}

// Repack refuses a tree it cannot tie to the file opened, and writes
// nothing.
TEST(PipelineTest, RepackRefusesATreeItCannotTieToTheFile) {
  const std::string rofs = testing::MakeFirmware({.prefix = "HEAD"}, std::string(3072, '\0') + kRofsMagic + "abc");
  const struct {
    const char* label;
    std::function<void(Home&, const OpenedFile&)> arrange;
    std::string key;
  } cases[] = {
      {"no record", [](Home&, const OpenedFile&) {},
       "错误: 不知道 %1 是从哪个文件解包的 (没有解包的记录), 请先解包 %2. 未生成任何文件."},
      {"the record of another file",
       [](Home& home, const OpenedFile& file) {
         TreeSource other{file.path + ".other", file.stamp.size, file.stamp.write_time, 100, 0, 0};
         home.workspace.WriteTreeSource(PartitionKind::kRofs, other);
       },
       "错误: %1 是从另一个文件解包的 (%2), 请先解包 %3. 未生成任何文件."},
      {"an empty tree",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         fs::remove_all(home.folder.Path("rofs2"));
         fs::create_directory(home.folder.Path("rofs2"));
       },
       "错误: %1 是空的 (没有可打包的文件), 请先解包 %2. 未生成任何文件."},
      {"a damaged record of hidden entries",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         home.folder.Write("temp/rofs2.kept", "not a record\n");
       },
       "错误: %1 (隐藏项的记录已损坏, 请重新解包). 未生成任何文件."},
#ifndef _WIN32
      {"links in rofs2",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         fs::create_symlink("/etc/hostname", home.folder.Path("rofs2/hostname"));
         fs::create_directory_symlink("/etc", home.folder.Path("rofs2/etc"));
       },
       "错误: rofs2 中有 %1 个链接 (链接不能放进映像, 请放入文件本身), 未生成任何文件."},
#endif
      {"a builder that fails",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         home.tools.build = [](const Workspace&) { return ToolResult{false, ExitStatusText(1), {"rofsbuild: no"}}; };
       },
       "错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    home.folder.Write("rofs2/readme.txt", "edited");
    home.folder.Write("REB-fw.rofs2.bin", "earlier output");
    OpenedFile opened = home.Open("fw.rofs2.bin", rofs);
    c.arrange(home, opened);
    const Outcome outcome = Repack(opened, 0, home.workspace, home.tools, home.reporter).outcome;
    ASSERT_TRUE(outcome.refusal);
    EXPECT_EQ(outcome.refusal->key, c.key);
    EXPECT_EQ(home.folder.Read("REB-fw.rofs2.bin"), "earlier output");
  }
}

// The ROFS round trip with the ROFS library's own work in this process: the
// reference image as an N96 file, extracted, edited and repacked; the REB-
// file's blocks carry 3072 zero bytes and the rebuilt image, which holds the
// edit.
TEST(PipelineTest, RofsExtractEditRepackInProcess) {
  Home home;
  InProcessRofsTools tools;
  const std::vector<std::uint8_t> reference = testing::ReadBytes(testing::ReferenceRofsFolder() / "case1_rofs2r.img");
  std::string stream = std::string(3072, '\0') + std::string(reference.begin(), reference.end());
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  OpenedFile opened =
      home.Open("RM-596.rofs2.V1",
                testing::MakeFirmware(
                    {.model = 1, .prefix = "HEAD", .start_address = 0xFFFF0000, .n96_short_first_block = true}, stream),
                1);
  ASSERT_TRUE(Extract(opened, 1, home.workspace, tools, home.reporter).done());
  home.folder.Write("rofs2/added note.txt", "added");
  const RepackResult result = Repack(opened, 1, home.workspace, tools, home.reporter);
  ASSERT_TRUE(result.outcome.done());
  EXPECT_TRUE(result.short_first_block_written);
  EXPECT_EQ(home.tools.pauses, 0);
  const std::string output = home.folder.Read("REB-RM-596.rofs2.V1");
  const auto blocks = testing::ReadBackBlocks(output, 4, BlockFormatOf(1, PartitionKind::kRofs).signature, 19);
  ASSERT_GT(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].length, 0x400u);
  EXPECT_EQ(blocks[0].address, 0xFFFF0000u);
  const std::string payload = testing::JoinedPayloads(blocks);
  EXPECT_EQ(payload.substr(0, 3072), std::string(3072, '\0'));
  const std::string rebuilt = home.folder.Read("temp/rofs2r.img");
  EXPECT_EQ(payload.substr(3072, rebuilt.size()), rebuilt);
  const std::span<const std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(rebuilt.data()), rebuilt.size());
  const rofs::RofsImage parsed = rofs::ParseRofsImage(image, "rofs2r.img");
  bool found = false;
  for (const rofs::RofsFile& file : parsed.root.files) found = found || file.name == u"added note.txt";
  EXPECT_TRUE(found);
  // The header fields the user did not change are the extracted image's.
  const rofs::RofsHeader before = rofs::ParseRofsHeader(reference, "case1_rofs2r.img");
  EXPECT_EQ(parsed.header.max_image_size, before.max_image_size);
  EXPECT_EQ(parsed.header.version.major, before.version.major);
  EXPECT_EQ(parsed.header.version.build, before.version.build);
  if (std::getenv("SOURCE_DATE_EPOCH") == nullptr) {
    EXPECT_EQ(parsed.header.time, before.time);
  }
  EXPECT_TRUE(home.reporter.Logged("新的 ROFS 映像保留原映像的%1."));
}

TEST(PipelineTest, OneRunAtATimeInAProgramFolder) {
  Home home;
  const TakenLock first = TakeRunLock(home.workspace);
  ASSERT_TRUE(first.lock);
  const TakenLock second = TakeRunLock(home.workspace);
  EXPECT_FALSE(second.lock);
  ASSERT_TRUE(second.refusal);
  EXPECT_EQ(second.refusal->key,
            "错误: 本程序文件夹 %1 正被另一个解包或打包使用 (%2), 请等它结束后再试. 未生成任何文件.");
}

// The line after a run that ended on an error says what became of the
// program folder: as it was, or (a rollback that left its journal) put
// back by the next run.
TEST(PipelineTest, AFailedRunSaysWhatBecameOfTheProgramFolder) {
  Home home;
  const Text rolled_back = FailedRunText(home.workspace, "No space left on device.");
  EXPECT_EQ(rolled_back.key, "错误: %1 程序文件夹已恢复到本次运行之前的样子, 未生成任何文件.");
  EXPECT_EQ(Said(rolled_back.values), "No space left on device.");
  home.folder.Write(kJournalName, "aside fat16/fat16.img\n");
  const Text left = FailedRunText(home.workspace, "I/O error.");
  EXPECT_EQ(left.key, "错误: %1 本次运行的改动没能全部撤销, 下次解包或打包开始时会先恢复 (%2). 未生成任何文件.");
  EXPECT_EQ(Said(left.values), "I/O error.|" + home.folder.Path(kJournalName));
}

// --- Files as flashers' packages have them ----------------------------------

// A builder whose image is the one Extract carved (for a byte-identical
// round trip), or that with `grow` bytes more.
void RebuildTheCarvedImage(FakeRofsTools& tools, std::size_t grow = 0) {
  tools.build = [grow](const Workspace& workspace) {
    std::ifstream carved(workspace.Path(work::kRofsImage), std::ios::binary);
    std::ofstream(workspace.Path(work::kBuiltRofsImage), std::ios::binary)
        << carved.rdbuf() << testing::PatternBytes(grow, 11);
    return ToolResult{true, ExitStatusText(0), {}};
  };
}

std::string RofsStream(std::size_t lead, const std::string& lead_bytes, std::size_t image_size) {
  std::string stream = (lead_bytes.empty() ? std::string(lead, '\0') : lead_bytes) + kRofsMagic +
                       testing::PatternBytes(image_size - kRofsMagic.size(), 2);
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  return stream;
}

struct RealShape {
  const char* label;
  bool uda;
  int model;
  testing::FirmwareSpec spec;  // model, kind and the parts around the blocks
  std::string partition;
  std::size_t lead = 0;  // ROFS: where the ROFS header stands in the payload
  bool keep_lead = false;
};

std::vector<RealShape> RealShapes() {
  using testing::EraseAreaEntry;
  using testing::NamedBlockBytes;
  using testing::TableOfContentsBytes;
  using testing::TocEntryBytes;
  const std::string every_tag = TableOfContentsBytes(
      {EraseAreaEntry({{0x01000000, 0x017FFFFF}}), TocEntryBytes(0xE6, testing::BigEndian(1300000000)),
       TocEntryBytes(0xF4, std::string("RM-596\0uda\0", 11)), TocEntryBytes(0xE4, std::string(300, 'w')),
       TocEntryBytes(0xEE, std::string(1, '\x01') + TocEntryBytes(0xC2, "\x01")), TocEntryBytes(0x2F, "\x11")},
      "extra");
  const std::string signature_in_value =
      TableOfContentsBytes({EraseAreaEntry({{0x01000000, 0x017FFFFF}}),
                            TocEntryBytes(0xF4, "x" + BlockFormatOf(0, PartitionKind::kRofs).signature + "y")});
  const std::string named = NamedBlockBytes("NOLO", testing::PatternBytes(0x400, 3), 0x000C0000) +
                            NamedBlockBytes("CERT", testing::PatternBytes(0x80, 4), 0, true);
  const std::string fat = std::string(512, '\0') + testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 6);
  const std::string signed_lead = std::string("\xA3\x95\x97\x80", 4) + testing::PatternBytes(0x400 - 4, 8);
  return {
      {"a table of every tag kind", true, 0, {.prefix = every_tag}, fat},
      {"a table holding the signature in a value",
       false,
       0,
       {.prefix = signature_in_value},
       RofsStream(3072, "", 0x50000),
       3072},
      {"named blocks 5D 27 and 5D 28 before the code blocks, the ROFS header at 0",
       false,
       0,
       {.prefix = signature_in_value + named},
       RofsStream(0, "", 0x50000),
       0},
      {"26-byte headers with a real file's middle bytes",
       true,
       1,
       {.prefix = every_tag, .type_field = std::string("\x00\x00\x00\x08\xFF\xFF\xFF\xFF", 8)},
       fat},
      {"FF padding after the table, between the blocks and after them",
       true,
       2,
       {.prefix = every_tag + std::string(0x20, '\xFF'),
        .padding_between = 0x10,
        .trail = std::string(0x30, '\xFF') + named},
       fat},
      {"a signed image's header in front of the ROFS header",
       false,
       1,
       {.prefix = signature_in_value, .n96_short_first_block = true},
       RofsStream(0x400, signed_lead, 0x50000),
       0x400,
       true},
  };
}

// The unchanged round trip of each shape gives the file back byte for
// byte; with its partition grown, every byte outside the payload stays and
// the ROFS header keeps its flash address.
TEST(PipelineTest, RealFilesRoundTripAndKeepEverythingOutsideThePayload) {
  for (const RealShape& shape : RealShapes()) {
    SCOPED_TRACE(shape.label);
    testing::FirmwareSpec spec = shape.spec;
    spec.model = shape.model;
    spec.uda = shape.uda;
    const std::string input = testing::MakeFirmware(spec, shape.partition);
    const PartitionKind kind = shape.uda ? PartitionKind::kUda : PartitionKind::kRofs;
    const FirmwareLayout source = ReadFirmwareLayout(input, BlockFormatOf(shape.model, kind));
    ASSERT_TRUE(source.chain_intact);
    const std::string name = shape.uda ? "RM-596.uda.fpsx" : "RM-596.rofs2.V1";
    for (const std::size_t grow : {std::size_t{0}, std::size_t{0x9000}}) {
      Home home;
      RebuildTheCarvedImage(home.tools, grow);
      OpenedFile opened = home.Open(name, input, shape.model);
      ASSERT_TRUE(Extract(opened, shape.model, home.workspace, home.tools, home.reporter).done());
      if (grow > 0 && shape.uda) {
        home.folder.Write("fat16/fat16.img", home.folder.Read("fat16/fat16.img") + testing::PatternBytes(grow, 11));
      }
      RepackOptions options;
      options.keep_lead = shape.keep_lead;
      const RepackResult result = Repack(opened, shape.model, home.workspace, home.tools, home.reporter, options);
      ASSERT_TRUE(result.outcome.done()) << (result.outcome.refusal ? result.outcome.refusal->key : "");
      const std::string output = home.folder.Read("REB-" + name);
      EXPECT_EQ(home.reporter.Logged("注意: ROFS 头前面的 %1 字节不全是零 (开头是 %2; 打包时在那里写零, 使用 %3 则写这些字节)."),
                shape.keep_lead);
      if (grow == 0) {
        EXPECT_TRUE(output == input) << "the unchanged round trip differs";
        continue;
      }
      // Read back by hand: the same prefix and trail, the image where it
      // was in the payload.
      const std::size_t prefix = *source.prefix_length;
      const std::size_t trail = input.size() - source.code_end;
      EXPECT_EQ(output.substr(0, prefix), input.substr(0, prefix));
      EXPECT_EQ(output.substr(output.size() - trail), input.substr(source.code_end));
      const auto blocks = testing::ReadBackBlocks(
          output.substr(0, output.size() - trail), prefix, BlockFormatOf(shape.model, kind).signature,
          shape.uda && shape.model == 1 ? 26 : 19, shape.spec.padding_between > 0);
      ASSERT_FALSE(blocks.empty());
      EXPECT_EQ(blocks.front().address, source.blocks.front().address);
      const std::string payload = testing::JoinedPayloads(blocks);
      if (!shape.uda) {
        EXPECT_EQ(payload.find(kRofsMagic), shape.lead) << "the ROFS header moved in flash";
        EXPECT_EQ(payload.substr(0, shape.lead), shape.partition.substr(0, shape.lead));
      }
      // Header bytes the profile does not give are the source's.
      if (!shape.spec.type_field.empty()) {
        EXPECT_EQ(output.substr(prefix + kTypeFieldOffset, 8), shape.spec.type_field);
      }
    }
  }
}

// A damaged file is refused before anything is written, naming the block,
// its offset and the values; on request it is extracted with a warning.
TEST(PipelineTest, DamagedFilesAreRefusedUnlessAccepted) {
  const std::string named = testing::NamedBlockBytes("NOLO", testing::PatternBytes(0x400, 3), 0x000C0000);
  const std::string toc = testing::TableOfContentsBytes({testing::EraseAreaEntry({{0x01000000, 0x017FFFFF}})});
  const std::string good = testing::MakeFirmware({.uda = true, .prefix = toc + named},
                                                 testing::FatBootSector(0x200) + testing::PatternBytes(0x4FE00, 6));
  const std::size_t first = toc.size() + named.size();  // block 0's header
  const std::size_t second = first + 19 + 0x40000;      // block 1's header
  const struct {
    const char* label;
    std::size_t at;
    std::string problem;
  } cases[] = {
      {"a payload byte flipped", second + 19 + 5,
       "block 1 at file offset " + HexNumber(second, 8) + ": check value expected "},
      {"a header checksum off by one", first + 18,
       "block 0 at file offset " + HexNumber(first, 8) + ": header checksum expected "},
      {"a named block's checksum off by one", toc.size() + 49,
       "named block 0 at file offset " + HexNumber(toc.size(), 8) + ": header checksum expected "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    std::string file = good;
    ASSERT_LT(c.at, file.size());
    file[c.at] = static_cast<char>(file[c.at] + 1);
    for (const bool accept : {false, true}) {
      Home home;
      OpenedFile opened = home.Open("RM-1.uda.fpsx", file);
      ExtractOptions options;
      options.accept_damaged = accept;
      const Outcome outcome = Extract(opened, 0, home.workspace, home.tools, home.reporter, options);
      if (!accept) {
        ASSERT_TRUE(outcome.refusal);
        EXPECT_EQ(outcome.refusal->key, "错误: 文件 %1 已损坏 (%2%3), 未生成任何文件.");
        EXPECT_EQ(Said(outcome.refusal->values).rfind(home.folder.Path("RM-1.uda.fpsx") + "|" + c.problem, 0), 0u)
            << Said(outcome.refusal->values);
        EXPECT_FALSE(home.folder.Exists("fat16/fat16.img"));
        continue;
      }
      EXPECT_TRUE(outcome.done());
      EXPECT_TRUE(home.reporter.Logged("警告: 文件已损坏, 按要求仍然解包 (%1)."));
    }
  }
}

// A second Extract of the same opened file finds no headers left: it carves
// the same image again and counts none, also where the headers were
// stripped at every signature of a file whose chain broke (nothing of the
// first run is kept for it).
TEST(PipelineTest, ASecondExtractWithoutANewOpenCarvesTheSameImage) {
  const std::string image = testing::FatBootSector(0x200) + testing::PatternBytes(0x4FE00, 6);
  const std::string intact = testing::MakeFirmware({.uda = true, .prefix = "PP"}, image);
  std::string broken = intact;
  broken[2 + 19 + 0x40000] ^= 1;  // block 1's signature
  const struct {
    const char* label;
    std::string file;
    std::string first_count;
  } cases[] = {
      {"an intact chain", intact, "2"},
      {"a broken chain, taken as damaged", broken, "1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    OpenedFile opened = home.Open("RM-1.uda.fpsx", c.file);
    ExtractOptions options;
    options.accept_damaged = true;
    std::vector<std::string> counts, images;
    for (int run = 0; run < 2; ++run) {
      home.reporter.lines.clear();
      ASSERT_TRUE(Extract(opened, 0, home.workspace, home.tools, home.reporter, options).done());
      for (const Text& line : home.reporter.lines) {
        if (line.key == "定位成功-偏移        %1 标识   ") counts.push_back(line.values.at(0).key);
      }
      images.push_back(home.folder.Read("fat16/fat16.img"));
    }
    EXPECT_EQ(counts, (std::vector<std::string>{c.first_count, "0"}));
    ASSERT_EQ(images.size(), 2u);
    EXPECT_TRUE(images[0] == images[1]);
    EXPECT_EQ(images[0].size(), c.first_count == "2" ? image.size() : image.size() + 19);
  }
}

// A partition that grows past the end of its erase area is refused, or with
// the user's word the area's end moves, to the granularity its start and end share; growth inside
// the area leaves the table as it was.
TEST(PipelineTest, TheEraseAreaIsABudget) {
  const std::string fat = testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 6);
  const std::string toc = testing::TableOfContentsBytes(
      {testing::EraseAreaEntry({{0x01040000, 0x010BFFFF}}), testing::EraseAreaEntry({{0x02000000, 0x020FFFFF}})});
  const std::string input = testing::MakeFirmware({.uda = true, .prefix = toc, .start_address = 0x01040000}, fat);
  const std::size_t end_at = 9 + 2 + 3 + 4;  // the first area's end in the file
  const struct {
    const char* label;
    std::size_t grow;
    ExtendEraseArea extend;
    bool answer;
    bool written;
    std::uint32_t end;  // the first area's end in the REB- file
  } cases[] = {
      {"growth inside the area", 0x10000, ExtendEraseArea::kNo, false, true, 0x010BFFFF},
      // Grown to the granularity its start and end share (0x40000).
      {"past its end, refused", 0x50000, ExtendEraseArea::kNo, false, false, 0},
      {"past its end, extended", 0x50000, ExtendEraseArea::kYes, false, true, 0x010FFFFF},
      {"past its end, the user says no", 0x50000, ExtendEraseArea::kAsk, false, false, 0},
      {"past its end, the user says yes", 0x50000, ExtendEraseArea::kAsk, true, true, 0x010FFFFF},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    home.reporter.answer = c.answer;
    OpenedFile opened = home.Open("RM-1.uda.fpsx", input);
    ASSERT_TRUE(Extract(opened, 0, home.workspace, home.tools, home.reporter).done());
    EXPECT_TRUE(home.reporter.Logged("擦除区 %1 在分区之后还有 %2 字节空闲."));
    home.folder.Write("fat16/fat16.img", fat + testing::PatternBytes(c.grow, 11));
    RepackOptions options;
    options.extend_erase_area = c.extend;
    const Outcome outcome = Repack(opened, 0, home.workspace, home.tools, home.reporter, options).outcome;
    EXPECT_EQ(outcome.done(), c.written);
    EXPECT_EQ(home.folder.Exists("REB-RM-1.uda.fpsx"), c.written);
    EXPECT_EQ(home.reporter.questions.size(), c.extend == ExtendEraseArea::kAsk ? 1u : 0u);
    if (!c.written) {
      ASSERT_TRUE(outcome.refusal);
      const std::string over = std::to_string(0x40000 + c.grow - 0x80000);
      EXPECT_EQ(testing::SaidInEnglish(*outcome.refusal),
                "Error: the rebuilt partition runs past the erase area 0x01040000-0x010BFFFF by " + over +
                    " bytes (the rebuilt payload runs " + over +
                    " bytes past the end of the erase area that holds it; --extend-erase-area moves its end). "
                    "Nothing was written.");
      continue;
    }
    const std::string output = home.folder.Read("REB-RM-1.uda.fpsx");
    EXPECT_EQ(ReadBigEndian32(output, end_at), c.end);
    // Only the area's end changed in the table.
    std::string table = output.substr(0, toc.size());
    table.replace(end_at, 4, testing::BigEndian(0x010BFFFF));
    EXPECT_EQ(table, toc);
    EXPECT_EQ(home.reporter.Logged("目录表 (之后):"), c.end != 0x010BFFFF);
  }
}

// --- The package's checksum list ---------------------------------------------

// CRC-32 (IEEE, as zlib's crc32), bit by bit: the reference for what
// Repack writes into the list.
std::uint32_t ReferenceCrc32(const std::string& bytes) {
  std::uint32_t crc = 0xFFFFFFFF;
  for (const char byte : bytes) {
    crc ^= static_cast<unsigned char>(byte);
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0u - (crc & 1)));
  }
  return ~crc;
}

// `text` as UTF-16 LE with its byte-order mark (ASCII only).
std::string Utf16(const std::string& text) {
  std::string wide = "\xFF\xFE";
  for (const char c : text) wide += std::string{c, '\0'};
  return wide;
}

std::string Listing(const std::string& name, const std::string& line_end) {
  const auto file = [&](const std::string& listed, const std::string& type, const std::string& crc) {
    return "  <File>" + line_end + "    <Name>" + listed + "</Name>" + line_end + "    <FileType>" + type +
           "</FileType>" + line_end + "    <Signed>false</Signed>" + line_end + "    <Crc>" + crc + "</Crc>" +
           line_end + "  </File>" + line_end;
  };
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>" + line_end + "<Files>" + line_end +
         file("RM-1.rofs2.V20", "Mcu", "11111111") + file(name, "Ppm", "c0d79d0d") +
         file("RM-1_signature.bin", "Mcu", "") + "</Files>" + line_end;
}

// Repack writes REB-<list> beside the REB- file when a list in the input's
// folder names the input: the list's bytes, but for the 8 digits of that
// one <Crc>, which give the REB- file's CRC-32. The package is not touched.
TEST(PipelineTest, RepackWritesTheChecksumListOfThePackage) {
  const std::string fat = testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 6);
  const std::string input = testing::MakeFirmware({.uda = true}, fat);
  const struct {
    const char* label;
    std::string vpl;        // RM-1.vpl in the package; none when empty
    std::size_t digits_at;  // where the changed digits begin in it; npos when nothing is written
    int width;              // bytes per digit
    const char* line;       // the line that says what happened
  } cases[] = {
      {"UTF-8, LF", Listing("RM-1.uda.fpsx", "\n"), 0, 1,
       "校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, "
       "然后把它们一起复制到刷机文件目录下."},
      {"UTF-8 with a BOM, CR LF", "\xEF\xBB\xBF" + Listing("RM-1.uda.fpsx", "\r\n"), 0, 1,
       "校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, "
       "然后把它们一起复制到刷机文件目录下."},
      {"UTF-16 LE, CR LF", Utf16(Listing("RM-1.uda.fpsx", "\r\n")), 0, 2,
       "校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, "
       "然后把它们一起复制到刷机文件目录下."},
      {"the name in other letter case", Listing("rm-1.UDA.FPSX", "\r\n"), 0, 1,
       "校验清单 %1 中 %2 的校验值是 %3; 新的校验清单 %4 中是 REB 文件的 %5. 删除两个文件名中的“REB-”, "
       "然后把它们一起复制到刷机文件目录下."},
      {"a list without the file", Listing("RM-1.language.fpsx", "\n"), std::string::npos, 1,
       "没有校验清单 (.vpl) 列出 %1, 未写入校验清单."},
      {"no list", "", std::string::npos, 1, "没有校验清单 (.vpl) 列出 %1, 未写入校验清单."},
      {"a broken list", "<Files><File><Name>RM-1.uda.fpsx</Name>", std::string::npos, 1, "警告: 未写入校验清单 (%1)."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    if (!c.vpl.empty()) home.folder.Write("pkg/RM-1.vpl", c.vpl);
    OpenedFile opened = home.Open("pkg/RM-1.uda.fpsx", input);
    ASSERT_TRUE(Extract(opened, 0, home.workspace, home.tools, home.reporter).done());
    home.folder.Write("fat16/fat16.img", testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 7));
    ASSERT_TRUE(Repack(opened, 0, home.workspace, home.tools, home.reporter).outcome.done());
    EXPECT_TRUE(home.reporter.Logged(c.line));
    const std::string output = home.folder.Read("REB-RM-1.uda.fpsx");
    ASSERT_FALSE(output.empty());
    if (!c.vpl.empty()) {
      EXPECT_EQ(home.folder.Read("pkg/RM-1.vpl"), c.vpl);
    }
    EXPECT_EQ(home.folder.Read("pkg/RM-1.uda.fpsx"), input);
    if (c.digits_at == std::string::npos) {
      EXPECT_FALSE(home.folder.Exists("REB-RM-1.vpl"));
      continue;
    }
    const std::string written = home.folder.Read("REB-RM-1.vpl");
    ASSERT_EQ(written.size(), c.vpl.size());
    std::vector<std::size_t> differ;
    for (std::size_t i = 0; i < written.size(); ++i) {
      if (written[i] != c.vpl[i]) differ.push_back(i);
    }
    // Only inside the second entry's "c0d79d0d".
    const std::string old_digits = c.width == 1 ? "c0d79d0d" : Utf16("c0d79d0d").substr(2);
    const std::size_t at = c.vpl.find(old_digits);
    ASSERT_NE(at, std::string::npos);
    ASSERT_FALSE(differ.empty());
    EXPECT_GE(differ.front(), at);
    EXPECT_LT(differ.back(), at + old_digits.size());
    std::string digits;
    for (std::size_t i = 0; i < 8; ++i) digits += written[at + i * c.width];
    EXPECT_EQ(digits, LowerHexDigits(ReferenceCrc32(output), 8));
  }
}

// --package-to: a copy of the package folder the flasher takes, or nothing
// at all.
TEST(PipelineTest, RepackWritesAFlashableFolderOrNothing) {
  const std::string fat = testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 6);
  const std::string input = testing::MakeFirmware({.uda = true}, fat);
  const struct {
    const char* label;
    std::function<void(Home&)> arrange;
    const char* refusal;  // null when the folder is written
  } cases[] = {
      {"a new folder", [](Home&) {}, nullptr},
      {"an empty folder", [](Home& home) { fs::create_directories(home.folder.Path("flash")); }, nullptr},
      {"a folder with a file in it", [](Home& home) { home.folder.Write("flash/old.txt", "keep me"); },
       "错误: 文件夹 %1 已经存在且不是空的, 未生成任何文件."},
      {"two lists of the file", [](Home& home) { home.folder.Write("pkg/other.vpl", Listing("RM-1.uda.fpsx", "\n")); },
       "错误: 无法生成刷机文件夹 %1 (%2), 未生成任何文件."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    Home home;
    home.folder.Write("pkg/RM-1.vpl", Listing("RM-1.uda.fpsx", "\r\n"));
    home.folder.Write("pkg/RM-1.dcp", "signed archive");
    home.folder.Write("pkg/notes/readme.txt", "a subfolder");
    OpenedFile opened = home.Open("pkg/RM-1.uda.fpsx", input);
    ASSERT_TRUE(Extract(opened, 0, home.workspace, home.tools, home.reporter).done());
    home.folder.Write("fat16/fat16.img", testing::FatBootSector(0x200) + testing::PatternBytes(0x3FE00, 7));
    c.arrange(home);
    RepackOptions options;
    options.package_to = home.folder.Path("flash");
    const Outcome outcome = Repack(opened, 0, home.workspace, home.tools, home.reporter, options).outcome;
    if (c.refusal != nullptr) {
      ASSERT_TRUE(outcome.refusal);
      EXPECT_EQ(outcome.refusal->key, c.refusal);
      EXPECT_FALSE(home.folder.Exists("REB-RM-1.uda.fpsx"));
      EXPECT_FALSE(home.folder.Exists("REB-RM-1.vpl"));
      EXPECT_FALSE(home.folder.Exists("flash.partial"));
      if (home.folder.Exists("flash/old.txt")) {
        EXPECT_EQ(home.folder.Read("flash/old.txt"), "keep me");
      }
      continue;
    }
    ASSERT_TRUE(outcome.done());
    EXPECT_TRUE(home.reporter.Logged("刷机文件夹已写好: %1 (%2 和刷机包的其他文件: %3 个; 可以直接用来刷机)."));
    EXPECT_TRUE(home.reporter.Logged("没有复制 %1 (不是文件)."));
    EXPECT_EQ(testing::TreeOf(home.folder.Path("flash")),
              (std::map<std::string, std::string>{{"RM-1.dcp", "signed archive"},
                                                  {"RM-1.uda.fpsx", home.folder.Read("REB-RM-1.uda.fpsx")},
                                                  {"RM-1.vpl", home.folder.Read("REB-RM-1.vpl")}}));
  }
}

}  // namespace
}  // namespace larkspur::pipeline
