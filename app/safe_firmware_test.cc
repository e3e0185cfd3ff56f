// Extract and Repack decide by the file's content, check the model against
// the file, keep each tree to its own firmware and run one at a time.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "port/process.h"
#include "port/run_lock.h"
#include "rofs/kept_entries.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"
#include "testing/stand_in_tool.h"
#include "testing/tree_snapshot.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::ProgramFolder;
using testing::Session;

const std::string kRofsMagic = "ROFS0\xFF";

// A FAT image whose data holds the long jump E9 00 90 that the plain magic
// search would cut at.
std::string FatImageWithJumpInItsData(std::size_t size) {
  std::string image = testing::FatBootSector(static_cast<std::uint32_t>(size / 512)) + testing::PatternBytes(size - 512);
  image.replace(size / 2, 9, std::string("\xE9\x00\x90" "abcdef", 9));
  return image;
}

TEST(SafeFirmwareTest, TheContentHasTheLastWordOverTheName) {
  const std::string fat = FatImageWithJumpInItsData(0x10000);
  const std::string rofs = kRofsMagic + testing::PatternBytes(0x5000);
  const struct {
    const char* label;
    std::string name;
    bool uda;  // how the blocks are made
    std::string payload;
    std::string expected;  // in the log; empty: the Extract succeeds
  } cases[] = {
      {"UDA name, ROFS content", "fw.uda.bin", true, rofs, "(载荷以 ROFS 头开头, 是 ROFS 文件; 请把名称中的 \"uda\" 去掉或使用 --kind rofs)"},
      {"UDA name, ROFS content behind a header", "fw.uda.bin", true, std::string(0x400, '\xA3') + rofs,
       "(载荷以 ROFS 头开头, 是 ROFS 文件; 请把名称中的 \"uda\" 去掉或使用 --kind rofs)"},
      {"ROFS name, FAT content", "fw.rofs2.bin", false, fat, "(载荷以 FAT 引导扇区开头, 是用户数据文件; 请把它改名为 *.uda.* 或使用 --kind uda)"},
      {"ROFS name, neither", "fw.rofs2.bin", false, testing::PatternBytes(0x3000), "(载荷中没有 ROFS 头)"},
      {"ROFS in a folder whose name holds uda", "Budapest/fw.rofs2.bin", false, rofs, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    home.InstallStandInTool("readimage", testing::kStandInReadimage);
    home.Write("fat16/fat16.img", "earlier");
    Session s(home);
    s.Open(home.Write(c.name, testing::MakeFirmware({.uda = c.uda}, c.payload)));
    s.Extract();
    if (c.expected.empty()) {
      EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone) << s.window.log.back();
    } else {
      EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
      EXPECT_NE(s.window.log.back().find(c.expected), std::string::npos) << s.window.log.back();
      EXPECT_NE(s.window.log.back().find(home.Path(c.name)), std::string::npos);
      EXPECT_EQ(home.Read("fat16/fat16.img"), "earlier");
      EXPECT_FALSE(home.Exists("temp/rofs2.img"));
    }
  }
}

TEST(SafeFirmwareTest, UdaCarvingStartsAtTheBootSectorAndTheRoundTripIsIdentical) {
  const std::string image = FatImageWithJumpInItsData(0x48000);
  const struct {
    const char* label;
    std::string prefix;
    std::size_t zero_lead;
  } cases[] = {
      {"no prefix", "", 0},
      {"a prefix", "HEADER-BYTES", 0},
      {"a prefix and empty sectors before the FAT image", "HEAD", 0x1000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    Session s(home);
    const std::string input =
        testing::MakeFirmware({.uda = true, .prefix = c.prefix}, std::string(c.zero_lead, '\0') + image);
    s.Open(home.Write("RM-1.uda.fpsx", input));
    s.Extract();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
    EXPECT_TRUE(home.Read("fat16/fat16.img") == image) << "the FAT image starts at its boot sector, whole";
    EXPECT_FALSE(Logged(s, "没有找到 FAT 引导扇区")) << "the boot sector was found";
    s.Repack();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone) << s.window.log.back();
    EXPECT_TRUE(home.Read("REB-RM-1.uda.fpsx") == input) << "the unchanged round trip gives the file back";
  }
}

TEST(SafeFirmwareTest, EachExtractGivesAFreshTreeAndKeepsThePreviousOneOnce) {
  ProgramFolder home;
  home.Write("rofs2/from-before.txt", "x");
  Session s(home);
  const std::string first = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "first"));
  const std::string second = home.Write("b.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "second"));
  home.InstallStandInTool("readimage", "copy $3 $2/first.bin");
  s.Open(first);
  s.Extract();
  home.InstallStandInTool("readimage", "copy $3 $2/second.bin");
  s.Open(second);
  s.Extract();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_EQ(testing::FilesBelow(home.Path("rofs2")), std::set<std::string>{"second.bin"});
  EXPECT_EQ(testing::FilesBelow(home.Path("rofs2.previous")), std::set<std::string>{"first.bin"});
  EXPECT_TRUE(Logged(s, "上一次解包的文件已保存在 " + home.Path("rofs2.previous")));
  EXPECT_FALSE(home.Exists("rofs2.held"));

  // Repack of the first file now would pack the second file's tree.
  s.Open(first);
  s.Repack();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_EQ(s.window.log.back(), "错误: " + home.Path("rofs2") + " 是从另一个文件解包的 (从 " + second +
                                     " 解包), 请先解包 " + first + ". 未生成任何文件.");
  EXPECT_FALSE(home.Exists("REB-a.rofs2.bin"));
}

TEST(SafeFirmwareTest, AFailedUnpackLeavesTheEarlierTreeAndRepackRefuses) {
  const struct {
    const char* label;
    const char* steps;
  } cases[] = {
      {"damaged image", "write $2/half.bin x; say ROFS directory at 0x30: entry runs past its block; exit 1"},
      {"nothing written", "exit 0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    Session s(home);
    const std::string good = home.Write("good.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "good"));
    const std::string damaged = home.Write("damaged.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "bad"));
    home.InstallStandInTool("readimage", "copy $3 $2/good.bin");
    s.Open(good);
    s.Extract();
    const std::string record = home.Read("temp/rofs2.source");
    home.InstallStandInTool("readimage", c.steps);
    s.Open(damaged);
    s.Extract();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_EQ(testing::FilesBelow(home.Path("rofs2")), std::set<std::string>{"good.bin"});
    EXPECT_EQ(home.Read("temp/rofs2.source"), record);
    EXPECT_FALSE(home.Exists("rofs2.held"));
    EXPECT_FALSE(home.Exists("rofs2.previous"));
    s.Repack();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_NE(s.window.log.back().find("(从 " + good + " 解包)"), std::string::npos) << s.window.log.back();
    EXPECT_FALSE(home.Exists("REB-damaged.rofs2.bin"));
  }
}

TEST(SafeFirmwareTest, ATreeNeverExtractedOrEmptiedIsRefused) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", testing::kStandInRofsbuild);
  Session s(home);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
  s.Open(input);
  s.Repack();
  EXPECT_EQ(s.window.log.back(), "错误: 不知道 " + home.Path("rofs2") + " 是从哪个文件解包的 (没有解包的记录), 请先解包 " +
                                     input + ". 未生成任何文件.");
  home.MarkExtracted(input);
  fs::remove_all(home.Path("rofs2"));
  fs::create_directory(home.Path("rofs2"));
  s.Repack();
  EXPECT_EQ(s.window.log.back(), "错误: " + home.Path("rofs2") + " 是空的 (没有可打包的文件), 请先解包 " + input +
                                     ". 未生成任何文件.");
  // A file changed since it was opened is not the one the tree came from.
  home.Write("rofs2/a.txt", "a");
  home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abcd"));
  s.Repack();
  EXPECT_NE(s.window.log.back().find(" 在打开后已被修改, 请重新打开并解包"), std::string::npos);
  EXPECT_FALSE(home.Exists("REB-a.rofs2.bin"));
}

#ifndef _WIN32
// A disk that fills during the unpack: the program folder on a small tmpfs.
TEST(SafeFirmwareTest, ADiskThatFillsDuringTheUnpackLeavesTheEarlierTree) {
  testing::ScratchFolder outside;
  const std::string mount_point = outside.Path("small");
  fs::create_directory(mount_point);
  if (std::system(("mount -t tmpfs -o size=16m tmpfs '" + mount_point + "' 2>/dev/null").c_str()) != 0) {
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root)";
  }
  {
    const std::string home_path = mount_point + "/";
    for (const char* folder : {"exebat", "temp", "rofs2", "fat16"}) fs::create_directory(home_path + folder);
    testing::InstallStandInTool(home_path + "exebat", "readimage", "copy $3 $2/image.bin; fill $2/big.bin 33554432 x");
    std::ofstream(home_path + "rofs2/earlier.txt") << "earlier";
    const std::string input = outside.Write("fw.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
    ConsoleWindow window(nullptr, nullptr);
    TForm1 form(window, home_path);
    form.FormCreate();
    window.QueueOpenDialogAnswer(input);
    form.RunUiCommand([&] { form.Open1Click(); });
    form.RunUiCommand([&] { form.Extract1Click(); });
    window.ServeUntil([&] { return !form.WorkersBusy(); });
    form.FormDestroy();
    EXPECT_EQ(form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_EQ(testing::FilesBelow(home_path + "rofs2"), std::set<std::string>{"earlier.txt"});
    EXPECT_FALSE(fs::exists(home_path + "rofs2.held"));
  }
  // The tool runner leaves the current directory in the program folder,
  // which keeps the mount busy.
  port::SetCurrentDirectory(outside.path());
  EXPECT_EQ(std::system(("umount '" + mount_point + "'").c_str()), 0);
}
#endif

TEST(SafeFirmwareTest, AFileOfAnotherModelIsRefusedAndTheFittingModelsAreNamed) {
  // A 5320 file: blocks of 0x20000 bytes, the signature of the 5530/5800 profile.
  const std::string input = testing::MakeFirmware({.model = 2}, kRofsMagic + testing::PatternBytes(0x50000));
  const std::string refusal =
      "不是为所选手机型号制作的 (块长度为 0x20000 字节, 所选手机型号的块长度为 0x40000 字节; 这个文件适合 "
      "手机型号(5320), 手机型号(N78)), 请选择正确的手机型号. 未生成任何文件.";
  ProgramFolder home;
  home.InstallStandInTool("readimage", testing::kStandInReadimage);
  home.InstallStandInTool("rofsbuild", testing::kStandInRofsbuild);
  Session s(home);
  const std::string path = home.Write("RM-0.rofs2.bin", input);
  s.Open(path);
  s.Extract();
  EXPECT_EQ(s.window.log.back(), "错误: 文件 " + path + " " + refusal);
  EXPECT_FALSE(home.Exists("temp/rofs2.img"));
  home.MarkExtracted(path);
  s.Repack();
  EXPECT_EQ(s.window.log.back(), "错误: 文件 " + path + " " + refusal);
  EXPECT_FALSE(home.Exists("REB-RM-0.rofs2.bin"));

  // Under the right model both go through.
  s.SelectModel(2);
  s.Extract();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  s.Repack();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone) << s.window.log.back();
}

// When the refused file fits exactly one model, the window asks whether to
// choose it; with Yes the model is chosen and the command can run again.
TEST(SafeFirmwareTest, TheOneModelAFileFitsIsOfferedAndChosenOnYes) {
  const std::string input =
      testing::MakeFirmware({.model = 1, .uda = true}, std::string("\xE9\x00\x90", 3) + testing::PatternBytes(0x9000));
  for (const bool yes : {false, true}) {
    ProgramFolder home;
    Session s(home);
    const std::string path = home.Write("RM-1.uda.fpsx", input);
    s.Open(path);
    s.window.QueueAnswer(yes);
    s.Extract();
    ASSERT_EQ(s.window.questions.size(), 1u);
    EXPECT_EQ(s.window.questions[0].text, "这个文件是为手机型号(N96)制作的. 要选择手机型号(N96)吗?");
    EXPECT_EQ(s.form.ProfileIndex(), yes ? 1 : 0);
    EXPECT_EQ(s.window.SelectorIndex(), yes ? 1 : -1);
    EXPECT_EQ(s.window.log.back(), yes ? "已选择手机型号(N96), 请再运行一次."
                                       : "错误: 文件 " + path +
                                             " 中没有所选手机型号的块头 (没有找到标识 5401170E000300; 这个文件适合 手机型号(N96)), "
                                             "请选择正确的手机型号. "
                                             "未生成任何文件.");
    if (!yes) continue;
    s.Extract();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
    EXPECT_EQ(s.window.questions.size(), 1u);
  }
}

TEST(SafeFirmwareTest, OneRunAtATimeInAProgramFolder) {
  ProgramFolder home;
  home.InstallStandInTool("readimage", testing::kStandInReadimage);
  Session s(home);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
  s.Open(input);
  {
    const auto other_run = port::RunLock::TryTake(home.path());
    ASSERT_TRUE(other_run);
    EXPECT_FALSE(port::RunLock::TryTake(home.path())) << "a second lock of one folder";
    s.Extract();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_EQ(s.window.log.back(), "错误: 本程序文件夹 " + home.path() +
                                       " 正被另一个解包或打包使用 (另一个解包或打包持有它的锁), "
                                       "请等它结束后再试. 未生成任何文件.");
    EXPECT_TRUE(s.MenuEnabled(MenuItem::kExtract));
    s.Repack();
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_FALSE(home.Exists("temp/rofs2.img"));
  }
  // The lock goes with the run that held it.
  s.Extract();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_TRUE(port::RunLock::TryTake(home.path())) << "the finished run gave its lock back";
}

TEST(SafeFirmwareTest, AFailingBuildToolsReasonReachesTheLog) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", "say rofsbuild starting; say Failed placing files - rofssize is too small; exit 1");
  Session s(home);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  const auto failure = std::find(s.window.log.begin(), s.window.log.end(), "rofsbuild 退出状态 1: rofs 文件重建失败.");
  ASSERT_NE(failure, s.window.log.end());
  ASSERT_GE(s.window.log.end() - failure, 3);
  EXPECT_EQ(failure[1], "    rofsbuild: rofsbuild starting");
  EXPECT_EQ(failure[2], "    rofsbuild: Failed placing files - rofssize is too small");
  EXPECT_FALSE(home.Exists("REB-a.rofs2.bin"));
}

#ifndef _WIN32
TEST(SafeFirmwareTest, NamesTheObeyFileCannotCarryAreEachNamedAndNothingIsBuilt) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", "record ../built.txt; " + std::string(testing::kStandInRofsbuild));
  Session s(home);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  home.Write("rofs2/fine.txt", "ok");
  home.Write("rofs2/say \"hi\".txt", "q");
  home.Write("rofs2/back\\slash.txt", "b");
  home.Write("rofs2/sub/Gr\xFC\xDF" "e.txt", "latin-1 bytes");
  s.Open(input);
  s.Repack();
  EXPECT_TRUE(Logged(s, "错误: 文件名无法写入 obey 文件: " + home.Path("rofs2/say \"hi\".txt") +
                            " (obey 文件的行中不能有双引号)"));
  EXPECT_TRUE(Logged(s, "错误: 文件名无法写入 obey 文件: " + home.path() + "rofs2/back\\slash.txt" +
                            " (名称中不能有反斜杠)"));
  EXPECT_TRUE(Logged(s, "rofs2/sub/Gr\xFC\xDF" "e.txt (名称不是 UTF-8 文本)"));
  EXPECT_EQ(s.window.log.back(), "错误: 3 个文件名无法写入 obey 文件 (请给上面列出的文件改名), 未生成任何文件.");
  EXPECT_FALSE(home.Exists("built.txt"));
  EXPECT_FALSE(home.Exists("REB-a.rofs2.bin"));
}

// A folder below rofs2 that cannot be listed (its path is longer than the
// system takes, which stops root too) stops Repack with its path.
TEST(SafeFirmwareTest, AFolderThatCannotBeListedStopsRepackWithItsPath) {
  ProgramFolder home;
  home.InstallStandInTool("rofsbuild", testing::kStandInRofsbuild);
  Session s(home);
  const std::string input = home.Write("a.rofs2.bin", testing::MakeFirmware({}, kRofsMagic + "abc"));
  home.MarkExtracted(input);
  const std::string level(200, 'd');
  std::string relative;
  const std::string saved = port::CurrentDirectory();
  ASSERT_TRUE(port::SetCurrentDirectory(home.Path("rofs2")));
  for (int depth = 0; depth < 24; ++depth) {
    fs::create_directory(level);
    port::SetCurrentDirectory(level);
    relative += "/" + level;
  }
  std::ofstream("deep.txt") << "deep";
  port::SetCurrentDirectory(saved);
  s.Open(input);
  s.Repack();
  EXPECT_EQ(s.window.log.back().rfind("错误: 无法读取文件夹 " + home.Path("rofs2") + "/" + level, 0), 0u) << s.window.log.back();
  EXPECT_NE(s.window.log.back().find("(无法列出它的内容, 映像中会缺少它的文件). 未生成任何文件."),
            std::string::npos);
  EXPECT_FALSE(home.Exists("REB-a.rofs2.bin"));
  // rm walks the tree relative to each folder, which deep paths need.
  std::system(("rm -rf '" + home.Path("rofs2") + "/" + level + "'").c_str());
}
#endif

TEST(SafeFirmwareTest, APartitionThatGrewIsWrittenWithAWarningNamingBothSizes) {
  ProgramFolder home;
  Session s(home);
  const std::string image = FatImageWithJumpInItsData(0x40000);
  const std::string input = home.Write("g.uda.bin", testing::MakeFirmware({.uda = true}, image));
  s.Open(input);
  s.Extract();
  home.Write("fat16/fat16.img", image + std::string(0x50000, '\0'));
  s.Repack();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_TRUE(Logged(s, "警告: 新的分区比原来的大 (新的 589824 字节, 原来的 262144 字节; "
                        "增加了 2 个块), 请确认手机的分区装得下."));
  EXPECT_TRUE(home.Exists("REB-g.uda.bin"));
}

// A ROFS image with hidden entries and attributes, built by our rofsbuild
// from an obey file that says so, goes through Extract, an edit and Repack:
// what a folder cannot show comes back in the new image.
TEST(KeptEntriesRoundTripTest, HiddenEntriesAndAttributesSurviveExtractEditRepack) {
  ProgramFolder home;
  home.InstallBuiltTools();
  home.Write("src/readme.txt", "read me");
  home.Write("src/sys/bin/app.dll", "app");
  home.Write("src/attr/ro_hidden.txt", "rh");
  home.Write("src/attr/writable.txt", "w");
  home.Write("src/attr/unique.txt", "u");
  home.Write("src/build.oby",
             "rofsname=built.img\r\nrofssize=0x10000000\r\n"
             "data=readme.txt readme.txt\r\n"
             "data=sys\\bin\\app.dll sys\\bin\\app.dll\r\n"
             "data=attr\\ro_hidden.txt attr\\ro_hidden.txt attrib=RH\r\n"
             "data=attr\\writable.txt attr\\writable.txt attrib=W\r\n"
             "data=attr\\unique.txt attr\\unique.txt exattrib=U\r\n"
             "hide sys\\bin\\gone.dll\r\n"
             "hide sys\\bin\\replaced.dll\r\n");
  const std::string saved = port::CurrentDirectory();
  ASSERT_TRUE(port::SetCurrentDirectory(home.Path("src")));
  const port::ProcessOutcome built =
      port::RunCommandLine("\"" + home.Path("exebat/" + testing::ProgramFileName("rofsbuild")) + "\" build.oby", true);
  port::SetCurrentDirectory(saved);
  ASSERT_TRUE(built.started && built.exit_status == 0) << built.output_tail;
  std::string stream = std::string(3072, '\0') + home.Read("src/built.img");
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  const std::string input = home.Write("fw.rofs2.bin", testing::MakeFirmware({.prefix = "HEAD"}, stream));

  Session s(home);
  s.Open(input);
  s.Extract();
  ASSERT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone) << s.window.log.back();
  EXPECT_TRUE(Logged(s, "已记录 2 个隐藏项和 3 个文件属性"));
  // The unpacker said how far it was, and the report went away at the end.
  ASSERT_GE(s.window.progress.size(), 2u);
  EXPECT_NE(std::find(s.window.progress.begin(), s.window.progress.end(), "进度: 文件 5/5"), s.window.progress.end());
  EXPECT_EQ(s.window.progress.back(), "");
  s.window.progress.clear();
  EXPECT_FALSE(home.Exists("rofs2/sys/bin/gone.dll")) << "a hidden entry is no file";
  home.Write("rofs2/readme.txt", "edited");
  home.Write("rofs2/sys/bin/replaced.dll", "a real file now");
  s.Repack();
  ASSERT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone) << s.window.log.back();
  EXPECT_TRUE(Logged(s, "保留了 1 个隐藏项和 3 个文件属性"));
  EXPECT_TRUE(std::any_of(s.window.progress.begin(), s.window.progress.end(),
                          [](const std::string& text) { return text.rfind("进度: 字节 ", 0) == 0; }));
  EXPECT_NE(std::find(s.window.progress.begin(), s.window.progress.end(), "进度: 块 1/1"), s.window.progress.end())
      << "the blocks written are reported";
  EXPECT_TRUE(Logged(s, "隐藏项 sys\\bin\\replaced.dll 已被 rofs2 中的文件取代, 不再隐藏"));

  const std::string rebuilt = home.Read("temp/rofs2r.img");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(rebuilt.data());
  const std::string kept = rofs::FormatKeptEntries(rofs::KeptEntriesFromImage({bytes, rebuilt.size()}, "rofs2r.img"));
  EXPECT_NE(kept.find("hidden sys\\bin\\gone.dll\n"), std::string::npos) << kept;
  EXPECT_EQ(kept.find("replaced.dll"), std::string::npos) << kept;
  EXPECT_NE(kept.find("attributes 03 FF attr\\ro_hidden.txt\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("attributes 00 FF attr\\writable.txt\n"), std::string::npos) << kept;
  EXPECT_NE(kept.find("attributes 01 FD attr\\unique.txt\n"), std::string::npos) << kept;
}

}  // namespace
}  // namespace larkspur
