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
#include "rofs/rofs_reader.h"
#include "testing/firmware_fixture.h"
#include "testing/firmware_read_back.h"
#include "testing/rofs_images.h"
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
  for (const Text& value : values) {
    std::string one = value.key;
    for (std::size_t i = 0; i < value.values.size(); ++i) {
      one.replace(one.find("%" + std::to_string(i + 1)), 2, Said({value.values[i]}));
    }
    said += (said.empty() ? "" : "|") + one;
  }
  return said;
}

// The tools as a test wants them: by default the unpacker copies the image
// into rofs2 as image.bin and the builder writes "ROFS0" FF and the obey
// file's bytes, as the stand-in programs do.
class FakeRofsTools : public RofsTools {
 public:
  std::function<ToolResult(const Workspace&)> unpack = [](const Workspace& workspace) {
    fs::copy_file(workspace.Path(work::kRofsImage), workspace.Path("rofs2/image.bin"));
    return ToolResult{true, "exit status 0", {}};
  };
  std::function<ToolResult(const Workspace&)> build = [](const Workspace& workspace) {
    std::ifstream obey(workspace.Path(work::kObeyFile), std::ios::binary);
    std::ofstream(workspace.Path(work::kBuiltRofsImage), std::ios::binary) << kRofsMagic << obey.rdbuf();
    return ToolResult{true, "exit status 0", {}};
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
       "错误: 文件 %1 中没有块头 (no block header: signature %2 not found), 请检查所选手机型号. 未生成任何文件.",
       "5401170E000300"},
      {"cut inside a header", "a.rofs2.bin", rofs.substr(0, 19 + 0x40000 + 11), 0,
       "错误: 文件 %1 不完整 (cut short inside the %2 of %3). 未生成任何文件.",
       "header|block 1 at file offset 0x00040013"},
      {"cut inside a payload", "a.uda.bin", uda.substr(0, uda.size() - 1), 0,
       "错误: 文件 %1 不完整 (cut short inside the %2 of %3). 未生成任何文件.",
       "payload|block 1 at file offset 0x00040013"},
      {"another model's blocks",
       "a.rofs2.bin",
       testing::MakeFirmware({.model = 2}, kRofsMagic + testing::PatternBytes(0x50000)),
       0,
       "错误: 文件 %1 不是为所选手机型号制作的 (%2), 请选择正确的手机型号. 未生成任何文件.",
       "blocks of 0x20000 bytes, the model chosen has blocks of 0x40000 bytes; the file fits 手机型号(5320), "
       "手机型号(N78)",
       {2, 3}},
      {"another model's headers",
       "a.uda.bin",
       testing::MakeFirmware({.model = 1, .uda = true}, kFatMagic + "abc"),
       0,
       "错误: 文件 %1 中没有所选手机型号的块头 (no block header of the model chosen: signature %2 not found; the file "
       "fits %3), 请选择正确的手机型号. 未生成任何文件.",
       "5401170E000300|手机型号(N96)",
       {1}},
      {"named ROFS, holds FAT",
       "a.rofs2.bin",
       testing::MakeFirmware({}, testing::FatBootSector(0x100) + testing::PatternBytes(0x1FE00)),
       0,
       "错误: 文件 %1 的名称表明是 ROFS 文件, 但内容是 FAT 映像 (the name says ROFS, the payload starts with a FAT "
       "boot "
       "sector: a user data file; rename it to *.uda.* or use --kind uda). 未生成任何文件.",
       {}},
      {"named UDA, holds ROFS",
       "a.uda.bin",
       testing::MakeFirmware({.uda = true}, kRofsMagic + testing::PatternBytes(0x100)),
       0,
       "错误: 文件 %1 的名称表明是 UDA 文件, 但内容是 ROFS 映像 (the name says UDA, the payload starts with a ROFS "
       "header: a ROFS file; rename it without \"uda\" or use --kind rofs). 未生成任何文件.",
       {}},
      {"no ROFS header", "a.rofs2.bin", testing::MakeFirmware({}, testing::PatternBytes(0x100)), 0,
       "错误: 文件 %1 中没有 ROFS 头 (no ROFS header in the payload). 未生成任何文件.", ""},
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
        "错误: 输入文件 %1 在打开后已被修改 (the file changed since it was opened), 请重新打开并解包. 未生成任何文件.");
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
         return ToolResult{false, "exit status 2", {"readimage: bad image"}};
       },
       Text("rofs2.img 文件解包失败: readimage %1.", {std::string("exit status 2")})},
      {"the tool writes nothing",
       [](const Workspace&) {
         return ToolResult{true, "exit status 0", {}};
       },
       Text("rofs2.img 文件解包失败: readimage exit status 0 but wrote nothing into %1.", {"<tree>"})},
      {"the tool writes half a tree, then fails",
       [](const Workspace& workspace) {
         std::ofstream(workspace.Path("rofs2/half.txt")) << "half";
         return ToolResult{false, "exit status 1", {"disk full"}};
       },
       Text("rofs2.img 文件解包失败: readimage %1.", {std::string("exit status 1")})},
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
       "错误: 不知道 %1 是从哪个文件解包的 (no record of an Extract), 请先解包 %2. 未生成任何文件."},
      {"the record of another file",
       [](Home& home, const OpenedFile& file) {
         TreeSource other{file.path + ".other", file.stamp.size, file.stamp.write_time, 100, 0, 0};
         home.workspace.WriteTreeSource(PartitionKind::kRofs, other);
       },
       "错误: %1 是从另一个文件解包的 (extracted from %2), 请先解包 %3. 未生成任何文件."},
      {"an empty tree",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         fs::remove_all(home.folder.Path("rofs2"));
         fs::create_directory(home.folder.Path("rofs2"));
       },
       "错误: %1 是空的 (nothing to pack), 请先解包 %2. 未生成任何文件."},
      {"a damaged record of hidden entries",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         home.folder.Write("temp/rofs2.kept", "not a record\n");
       },
       "错误: %1 (the record of hidden entries is damaged; extract again). 未生成任何文件."},
      {"a builder that fails",
       [](Home& home, const OpenedFile& file) {
         home.workspace.WriteTreeSource(PartitionKind::kRofs,
                                        {file.path, file.stamp.size, file.stamp.write_time, 100, 0, 0});
         home.tools.build = [](const Workspace&) { return ToolResult{false, "exit status 1", {"rofsbuild: no"}}; };
       },
       "错误: rofs 文件重建失败 (rofsbuild failed; its last lines are above), 未生成任何文件."},
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

}  // namespace
}  // namespace larkspur::pipeline
