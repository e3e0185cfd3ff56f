// The real larkspur-cli, readimage and rofsbuild on generated firmware files
// of every profile and both kinds.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>

#include "port/files.h"
#include "port/process.h"
#include "port/run_lock.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"
#include "tools/larkspur-cli/cli_runner.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Q;
using testing::RunCli;
using testing::FirmwareSpec;
using testing::MakeFirmware;
using testing::PatternBytes;
using testing::ProgramFolder;


std::map<std::string, std::string> ReadTree(const fs::path& root) {
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    tree[fs::relative(entry.path(), root).string()] = std::string(std::istreambuf_iterator<char>(in), {});
  }
  return tree;
}

const std::string kFatMagic("\xE9\x00\x90", 3);

TEST(CliEndToEndTest, UdaExtractRepackVerifyForEveryProfile) {
  const struct {
    int model;
    std::string prefix;
    std::uint32_t start;
    std::size_t blocks_of_payload;  // an exact multiple of the block size when whole
    std::size_t extra;
  } cases[] = {
      {0, "", 0x00800000, 2, 0x100},
      {1, std::string(0x200, 'P'), 0xFFFF8000, 3, 0x1200},  // address wraps
      {2, "PREFIX", 0x01000000, 2, 0},                      // exact multiple of the block size
      {3, std::string(17, '\0'), 0x02000000, 1, 0x300},
  };
  for (const auto& c : cases) {
    ProgramFolder home;
    const ModelProfile& profile = ProfileForModel(c.model);
    const std::string image = kFatMagic + PatternBytes(c.blocks_of_payload * profile.UdaBlockSize + c.extra - 3, c.model);
    const std::string input = MakeFirmware({.model = c.model, .uda = true, .prefix = c.prefix, .start_address = c.start}, image);
    const std::string path = home.Write("fw/RM-1.uda.fpsx", input);
    const std::string model = " --model " + std::to_string(c.model) + " ";

    CliRun run = RunCli(home, model + "--home " + Q(home.path()) + " extract " + Q(path));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(home.Read("fat16/fat16.img") == image) << c.model;
    EXPECT_NE(run.out.find("fat16.img 文件创建成功\n"), std::string::npos);

    run = RunCli(home, model + "--home " + Q(home.path()) + " repack " + Q(path));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(home.Read("REB-RM-1.uda.fpsx") == input) << "unchanged round trip, model " << c.model;

    run = RunCli(home, model + "verify " + Q(home.Path("REB-RM-1.uda.fpsx")));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, "");
  }
}

TEST(CliEndToEndTest, RofsExtractEditRepackWithTheRealTools) {
  for (int model = 0; model < kModelCount; ++model) {
    ProgramFolder home;
    home.InstallBuiltTools();
    // A real ROFS image, built by our rofsbuild from a small tree.
    ProgramFolder source;
    source.InstallBuiltTools();
    source.Write("rofs2/sys/bin/app.exe", PatternBytes(70000, 7));
    source.Write("rofs2/resource/Grüße.txt", "hallo");
    source.Write("rofs2/readme.txt", "read me");
    source.Write("temp/rofs2.obey",
                 "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\ntime=01/02/2010_03:04:05\r\n"
                 "data=\"..\\rofs2\\readme.txt\" \"readme.txt\"\r\n"
                 "data=\"..\\rofs2\\sys\\bin\\app.exe\" \"sys\\bin\\app.exe\"\r\n"
                 "data=\"..\\rofs2\\resource\\Grüße.txt\" \"resource\\Grüße.txt\"\r\n");
    // The tool folder as the current directory, as the tool runner sets it.
    const std::string saved_folder = port::CurrentDirectory();
    ASSERT_TRUE(port::SetCurrentDirectory(source.Path("exebat")));
    const port::ProcessOutcome built = port::RunCommandLine("rofsbuild.exe ../temp/rofs2.obey", true);
    port::SetCurrentDirectory(saved_folder);
    ASSERT_TRUE(built.started && built.waited && built.exit_status == 0) << built.reason;
    const std::string image = source.Read("exebat/rofs2r.img");
    ASSERT_EQ(image.substr(0, 4), "ROFS");

    std::string stream = std::string(3072, '\0') + image;
    stream.append((256 - stream.size() % 256) % 256, '\xFF');
    const FirmwareSpec spec{.model = model, .prefix = "HEAD", .start_address = 0x1234500, .n96_short_first_block = model == 1};
    const std::string path = home.Write("RM-2.rofs2.V30", MakeFirmware(spec, stream));
    const std::string options = " --model " + std::to_string(model) + " --home " + Q(home.path()) + " ";

    CliRun run = RunCli(home, options + "extract " + Q(path));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(home.Read("temp/rofs2.img").substr(0, image.size()) == image);
    EXPECT_EQ(ReadTree(home.Path("rofs2")), ReadTree(source.Path("rofs2")));

    home.Write("rofs2/readme.txt", "edited");
    home.Write("rofs2/new folder/added.dat", PatternBytes(5000, 9));
    run = RunCli(home, options + "repack " + Q(path));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    const std::string output = home.Path("REB-RM-2.rofs2.V30");
    run = RunCli(home, "--model " + std::to_string(model) + " verify " + Q(output));
    EXPECT_EQ(run.status, 0) << run.out;

    // The repacked file extracts to the edited tree.
    const auto edited = ReadTree(home.Path("rofs2"));
    fs::remove_all(home.Path("rofs2"));
    fs::create_directory(home.Path("rofs2"));
    run = RunCli(home, options + "extract " + Q(output));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_EQ(ReadTree(home.Path("rofs2")), edited);
    EXPECT_EQ(home.Read("rofs2/readme.txt"), "edited");
  }
}

TEST(CliEndToEndTest, VerifyNamesTheBrokenBlockAndRefusesAFileWithoutHeaders) {
  ProgramFolder home;
  std::string file = MakeFirmware({.prefix = "P"}, PatternBytes(0x90000));
  file[1 + 19 + 0x40000 + 18] ^= 1;  // block 1's header checksum
  const CliRun broken = RunCli(home, "verify " + Q(home.Write("a.rofs2.bin", file)));
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out.rfind("block 1 at file offset 0x00040014: header checksum expected", 0), 0u) << broken.out;

  const CliRun plain = RunCli(home, "verify " + Q(home.Write("b.rofs2.bin", "no headers here")));
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("no block header"), std::string::npos);

  const CliRun info = RunCli(home, "info " + Q(home.Write("c.uda.bin", MakeFirmware({.uda = true}, kFatMagic + "xyz"))));
  EXPECT_EQ(info.status, 0);
  // info, like verify, does not pass a file without headers.
  EXPECT_EQ(RunCli(home, "info " + Q(home.Path("b.rofs2.bin"))).status, 1);
  fs::create_directory(home.Path("folder.rofs2.bin"));
  const CliRun folder = RunCli(home, "info " + Q(home.Path("folder.rofs2.bin")));
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("folder.rofs2.bin: is a folder, not a file"), std::string::npos) << folder.err;
  EXPECT_NE(info.out.find("kind:           UDA"), std::string::npos);
  EXPECT_NE(info.out.find("headers:        all 1 right"), std::string::npos) << info.out;
}

// A 5320 file (blocks of 0x20000 bytes) shares its signature with the
// 5530/5800 profile: only the block lengths tell them apart.
TEST(CliEndToEndTest, AFileOfAnotherModelFailsVerifyAndInfoNamesTheModelsThatFit) {
  ProgramFolder home;
  const std::string file = home.Write("RM-5.rofs2.bin", MakeFirmware({.model = 2}, "ROFS0\xFF" + PatternBytes(0x50000)));
  const CliRun wrong = RunCli(home, "--model 0 verify " + Q(file));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("blocks of 0x00020000 bytes, the model has blocks of 0x00040000: the file was made for "
                           "手机型号(5320), 手机型号(N78)"),
            std::string::npos)
      << wrong.out;
  EXPECT_EQ(RunCli(home, "--model 5320 verify " + Q(file)).status, 0);
  const CliRun info = RunCli(home, "info " + Q(file));
  EXPECT_NE(info.out.find("models that fit: 手机型号(5320), 手机型号(N78)\n"), std::string::npos) << info.out;
  const CliRun extract = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(file));
  EXPECT_EQ(extract.status, 1);
  EXPECT_NE(extract.out.find("the file fits 手机型号(5320), 手机型号(N78)"), std::string::npos) << extract.out;
}

// --kind overrides what the file's name says; the content still has the
// last word.
TEST(CliEndToEndTest, KindOptionOverridesTheName) {
  ProgramFolder home;
  const std::string fat = home.Write("data.rofs2.bin", MakeFirmware({.uda = true}, kFatMagic + PatternBytes(0x1000)));
  CliRun info = RunCli(home, "--kind uda info " + Q(fat));
  EXPECT_NE(info.out.find("kind:           UDA"), std::string::npos) << info.out;
  const CliRun extract = RunCli(home, "--kind uda --home " + Q(home.path()) + " extract " + Q(fat));
  EXPECT_EQ(extract.status, 0) << extract.out << extract.err;
  EXPECT_TRUE(home.Read("fat16/fat16.img") == kFatMagic + PatternBytes(0x1000));
  EXPECT_EQ(RunCli(home, "--kind fat info " + Q(fat)).status, 2);
}

// A second run in the same program folder is refused at once.
TEST(CliEndToEndTest, ASecondRunInTheSameProgramFolderIsRefused) {
  ProgramFolder home;
  const std::string file = home.Write("a.uda.bin", MakeFirmware({.uda = true}, kFatMagic + "abc"));
  const auto held = port::RunLock::TryTake(home.path());
  ASSERT_TRUE(held);
  const CliRun run = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(file));
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("正被另一个解包或打包使用 (another Extract or Repack holds its lock)"), std::string::npos)
      << run.out;
  EXPECT_FALSE(home.Exists("fat16/fat16.img"));
}

// With --home the closing line names that folder, and the last line gives
// the output's full path.
TEST(CliEndToEndTest, TheClosingLinesNameTheFolderGivenAndTheFullPath) {
  ProgramFolder home;
  const std::string file = home.Write("in/a.uda.bin", MakeFirmware({.uda = true}, kFatMagic + "abc"));
  EXPECT_EQ(RunCli(home, "--home " + Q(home.path()) + " extract " + Q(file)).status, 0);
  const CliRun run = RunCli(home, "--home " + Q(home.path()) + " repack " + Q(file));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("REB-a.uda.bin 文件生成在 " + home.path() + ", 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("REB 文件: " + home.Path("REB-a.uda.bin") + "\n"), std::string::npos) << run.out;

  // The same in English.
  const CliRun english = RunCli(home, "--lang en --home " + Q(home.path()) + " repack " + Q(file));
  EXPECT_EQ(english.status, 0) << english.out;
  EXPECT_NE(english.out.find("Done! Done! Done!"), std::string::npos) << english.out;
  EXPECT_NE(english.out.find("REB-a.uda.bin has been made in " + home.path() + "; remove “REB-” from its name"),
            std::string::npos)
      << english.out;
  EXPECT_NE(english.out.find("REB file: " + home.Path("REB-a.uda.bin") + "\n"), std::string::npos) << english.out;
}

TEST(CliEndToEndTest, ErrorsAndUsage) {
  ProgramFolder home;
  EXPECT_EQ(RunCli(home, "").status, 2);
  EXPECT_EQ(RunCli(home, "--model 7 info x").status, 2);
  const CliRun missing = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(home.Path("none.uda.bin")));
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("[Marrowby] Cannot open file"), std::string::npos) << missing.err;
  EXPECT_EQ(RunCli(home, "--version").out, "larkspur-cli 0.7.0.0\n");
}

}  // namespace
}  // namespace larkspur
