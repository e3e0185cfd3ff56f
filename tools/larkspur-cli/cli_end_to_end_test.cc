// The real larkspur-cli, readimage and rofsbuild on generated firmware files
// of every profile and both kinds.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>

#include "base/crc32.h"
#include "base/hex.h"
#include "format/model_profile.h"
#include "port/files.h"
#include "port/process.h"
#include "port/run_lock.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"
#include "testing/rofs_images.h"
#include "testing/test_files.h"
#include "tools/larkspur-cli/cli_runner.h"

namespace larkspur {
namespace {

// What verify prints after the problems of a file no checksum list names:
// its CRC-32, in English with `english`, else in Chinese (the tests'
// default).
std::string CrcLine(const std::string& file, bool english = false) {
  return (english ? "crc32:          " : "CRC-32 校验值:  ") + LowerHexDigits(Crc32Of(file), 8) + "\n";
}

namespace fs = std::filesystem;
using testing::BigEndian;
using testing::CliRun;
using testing::EraseAreaEntry;
using testing::FirmwareSpec;
using testing::MakeFirmware;
using testing::NamedBlockBytes;
using testing::PatternBytes;
using testing::ProgramFolder;
using testing::Q;
using testing::RunCli;
using testing::TableOfContentsBytes;
using testing::TocEntryBytes;

// The files below `folder` (a path string of the program's), by their
// paths with '/' in UTF-8.
std::map<std::string, std::string> ReadTree(const std::string& folder) {
  const fs::path root = port::FileSystemPath(folder);
  std::map<std::string, std::string> tree;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    std::ifstream in(entry.path(), std::ios::binary);
    tree[testing::GenericUtf8(fs::relative(entry.path(), root))] = std::string(std::istreambuf_iterator<char>(in), {});
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
    const std::string image =
        kFatMagic + PatternBytes(c.blocks_of_payload * profile.UdaBlockSize + c.extra - 3, c.model);
    const std::string input =
        MakeFirmware({.model = c.model, .uda = true, .prefix = c.prefix, .start_address = c.start}, image);
    const std::string path = home.Write("fw/RM-1.uda.fpsx", input);
    const std::string model = " --model " + std::to_string(c.model) + " ";

    // The image is no FAT volume: written, with no folder uda (status 3).
    CliRun run = RunCli(home, model + "--home " + Q(home.path()) + " extract " + Q(path));
    ASSERT_EQ(run.status, 3) << run.out << run.err;
    EXPECT_TRUE(home.Read("fat16/fat16.img") == image) << c.model;
    EXPECT_NE(run.out.find("fat16.img 文件创建成功\n"), std::string::npos);

    run = RunCli(home, model + "--home " + Q(home.path()) + " repack " + Q(path));
    ASSERT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_TRUE(home.Read("REB-RM-1.uda.fpsx") == input) << "unchanged round trip, model " << c.model;

    run = RunCli(home, model + "verify " + Q(home.Path("REB-RM-1.uda.fpsx")));
    EXPECT_EQ(run.status, 0) << run.out;
    EXPECT_EQ(run.out, CrcLine(input));
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
    const FirmwareSpec spec{
        .model = model, .prefix = "HEAD", .start_address = 0x1234500, .n96_short_first_block = model == 1};
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
    // Repack's closing lines say what the REB- file changes; diff says the
    // same and more, and exits 1.
    const std::string changes = "新增 1 个文件, 修改 1 个, 删除 0 个; ";
    const std::string entries =
        "  新增文件夹 new folder/\n"
        "  新增 new folder/added.dat (5000 字节)\n"
        "  修改 readme.txt (内容不同, 大小 7 -> 6)\n";
    EXPECT_NE(run.out.find("REB-RM-2.rofs2.V30 与输入文件相比:\n" + changes), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(entries), std::string::npos) << run.out;
    const std::string output = home.Path("REB-RM-2.rofs2.V30");
    run = RunCli(home, "--model " + std::to_string(model) + " verify " + Q(output));
    EXPECT_EQ(run.status, 0) << run.out;
    run = RunCli(home, "diff " + Q(path) + " " + Q(output));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find(changes), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(entries + "  分区: ROFS 映像大小 (字节): "), std::string::npos) << run.out;
    run = RunCli(home, "--lang en --json diff " + Q(path) + " " + Q(output));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("\"summary\": {\"files_added\": 1, \"files_changed\": 1, \"files_removed\": 0, "
                           "\"folders_added\": 1,"),
              std::string::npos)
        << run.out;
    // A file against itself, or against a copy of its bytes: the same.
    run = RunCli(home, "--lang en diff " + Q(output) + " " + Q(output));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("Both paths name the same file (" + output + "): nothing differs.\n"), std::string::npos)
        << run.out;
    const std::string copy = home.Write("copy/RM-2.rofs2.V30", home.Read("REB-RM-2.rofs2.V30"));
    run = RunCli(home, "--lang en diff " + Q(output) + " " + Q(copy));
    EXPECT_EQ(run.status, 0) << run.out << run.err;
    EXPECT_NE(run.out.find("The two files are the same firmware, byte for byte.\n"), std::string::npos) << run.out;
    // The same image in the N96's blocks cannot be compared with the
    // 5530's file.
    if (model == 0) {
      const FirmwareSpec n96{
          .model = 1, .prefix = "HEAD", .start_address = 0x1234500, .n96_short_first_block = true};
      const std::string other = home.Write("other/RM-2.rofs2.V30", MakeFirmware(n96, stream));
      run = RunCli(home, "diff " + Q(path) + " " + Q(other));
      EXPECT_EQ(run.status, 2) << run.out << run.err;
      EXPECT_NE(run.err.find(path + " was made for the 5530, 5800, N97, N86"), std::string::npos) << run.err;
      EXPECT_NE(run.err.find(", " + other + " for the N96: files of different models cannot be compared"),
                std::string::npos)
          << run.err;
    }

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

// The program folder and the firmware file's folder named in any script,
// and names of the image in every script (no ANSI code page holds them all,
// and 1252 none but the German ones): Extract, Repack and a second Extract
// of the output keep every name and byte, with the real tools.
TEST(CliEndToEndTest, FoldersAndNamesInAnyScriptGoThroughExtractAndRepack) {
  ProgramFolder home(" Программа 程序");
  home.InstallBuiltTools();
  const std::vector<std::uint8_t> image = testing::BuildInMemory({{"sort\\Привет.txt", "ru"},
                                                                  {"sort\\日本.txt", "ja"},
                                                                  {"Grüße Über.txt", "de"},
                                                                  {"été\\\u0F40\u0F41.txt", "bo"}});
  std::string stream = std::string(3072, '\0') + std::string(image.begin(), image.end());
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  const std::string path = home.Write("Прошивка 固件/RM-3.rofs2.V21", MakeFirmware({}, stream));
  const std::string options = " --home " + Q(home.path()) + " ";
  std::map<std::string, std::string> expected = {
      {"sort/Привет.txt", "ru"}, {"sort/日本.txt", "ja"}, {"Grüße Über.txt", "de"}, {"été/\u0F40\u0F41.txt", "bo"}};

  CliRun run = RunCli(home, options + "extract " + Q(path));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("文件: " + path), std::string::npos) << run.out;
  EXPECT_EQ(ReadTree(home.Path("rofs2")), expected);

  home.Write("rofs2/sort/Привет.txt", "edited");
  expected["sort/Привет.txt"] = "edited";
  run = RunCli(home, options + "repack " + Q(path));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  // Our tools' obey files are UTF-8, on every system.
  EXPECT_NE(home.Read("temp/rofs2.obey").find("data=\"..\\rofs2\\sort\\Привет.txt\" \"sort\\Привет.txt\""),
            std::string::npos);
  fs::remove_all(home.root() / "rofs2");
  fs::create_directory(home.root() / "rofs2");
  run = RunCli(home, options + "extract " + Q(home.Path("REB-RM-3.rofs2.V21")));
  ASSERT_EQ(run.status, 0) << run.out << run.err;
  EXPECT_EQ(ReadTree(home.Path("rofs2")), expected);
}

TEST(CliEndToEndTest, VerifyNamesTheBrokenBlockAndRefusesAFileWithoutHeaders) {
  ProgramFolder home;
  std::string file = MakeFirmware({.prefix = "P"}, PatternBytes(0x90000));
  file[1 + 19 + 0x40000 + 18] ^= 1;  // block 1's header checksum
  const CliRun broken = RunCli(home, "--lang en verify " + Q(home.Write("a.rofs2.bin", file)));
  EXPECT_EQ(broken.status, 1);
  EXPECT_EQ(broken.out.rfind("block 1 at file offset 0x00040014: header checksum expected", 0), 0u) << broken.out;

  const CliRun plain = RunCli(home, "--lang en verify " + Q(home.Write("b.rofs2.bin", "no headers here")));
  EXPECT_EQ(plain.status, 1);
  EXPECT_NE(plain.out.find("no block header"), std::string::npos);

  const CliRun info =
      RunCli(home, "--lang en info " + Q(home.Write("c.uda.bin", MakeFirmware({.uda = true}, kFatMagic + "xyz"))));
  EXPECT_EQ(info.status, 0);
  // info, like verify, does not pass a file without headers.
  EXPECT_EQ(RunCli(home, "info " + Q(home.Path("b.rofs2.bin"))).status, 1);
  fs::create_directory(home.Path("folder.rofs2.bin"));
  const CliRun folder = RunCli(home, "--lang en info " + Q(home.Path("folder.rofs2.bin")));
  EXPECT_EQ(folder.status, 1);
  EXPECT_NE(folder.err.find("folder.rofs2.bin: is a folder, not a file"), std::string::npos) << folder.err;
  EXPECT_NE(info.out.find("kind:           UDA"), std::string::npos);
  EXPECT_NE(info.out.find("headers:        all 1 right"), std::string::npos) << info.out;
}

// A 5320 file (blocks of 0x20000 bytes) shares its signature with the
// 5530/5800 profile: only the block lengths tell them apart.
TEST(CliEndToEndTest, AFileOfAnotherModelFailsVerifyAndInfoNamesTheModelsThatFit) {
  ProgramFolder home;
  const std::string file =
      home.Write("RM-5.rofs2.bin", MakeFirmware({.model = 2}, "ROFS0\xFF" + PatternBytes(0x50000)));
  const CliRun wrong = RunCli(home, "--lang en --model 0 verify " + Q(file));
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.out.find("blocks of 0x00020000 bytes, the model has blocks of 0x00040000: the file was made for "
                           "Phone model (5320), Phone model (N78)"),
            std::string::npos)
      << wrong.out;
  EXPECT_EQ(RunCli(home, "--model 5320 verify " + Q(file)).status, 0);
  const CliRun info = RunCli(home, "--lang en info " + Q(file));
  EXPECT_NE(info.out.find("models that fit: Phone model (5320), Phone model (N78)\n"), std::string::npos) << info.out;
  const CliRun extract = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(file));
  EXPECT_EQ(extract.status, 1);
  EXPECT_NE(extract.out.find("这个文件适合 手机型号(5320), 手机型号(N78)"), std::string::npos) << extract.out;
  // In Chinese, info and verify say the same in Chinese.
  const CliRun zh_verify = RunCli(home, "--lang zh --model 0 verify " + Q(file));
  EXPECT_EQ(zh_verify.out,
            "块长度为 0x00020000 字节, 这个手机型号的块长度为 0x00040000: 这个文件是为手机型号(5320), "
            "手机型号(N78)制作的\n" +
                CrcLine(home.Read("RM-5.rofs2.bin")));
  const CliRun zh_info = RunCli(home, "--lang zh info " + Q(file));
  for (const char* line : {"类型:           ROFS\n", "块:             3\n", "填充:           代码块之间没有\n",
                           "适合的手机型号: 手机型号(5320), 手机型号(N78)\n"}) {
    EXPECT_NE(zh_info.out.find(line), std::string::npos) << line << "\n--\n" << zh_info.out;
  }
  for (const char* english : {"bytes", "block", "the ", "none", "Phone model"}) {
    EXPECT_EQ(zh_info.out.find(english), std::string::npos) << english << "\n--\n" << zh_info.out;
  }
}

// The parts of real files: a table of contents, named blocks, padding,
// header bytes the profile does not give, a lead in front of the partition.
// `info` describes each, and `verify` passes them.
TEST(CliEndToEndTest, InfoDescribesRealFilesAndVerifyPassesThem) {
  const std::string rofs = "ROFS0\xFF" + PatternBytes(0x50000 - 6);
  const std::string signature = BlockFormatOf(0, PartitionKind::kRofs).signature;
  const std::string area = EraseAreaEntry({{0x01000000, 0x017FFFFF}});
  const std::string every_kind = TableOfContentsBytes({
      area,
      TocEntryBytes(0xE6, BigEndian(1300000000)),
      TocEntryBytes(0xF4, std::string("RM-356\0V 21.0", 13)),
      TocEntryBytes(0xE4, "\x01\x02\x03"),  // a tag with a 2-byte length
      TocEntryBytes(0xEE, "\x02" + TocEntryBytes(0xC2, "\x01") + EraseAreaEntry({{0x02000000, 0x0203FFFF}})),
      TocEntryBytes(0x2F, std::string("\x00\x07", 2)),
  });
  const std::string holding_signature =
      TableOfContentsBytes({EraseAreaEntry({{0x01000000, 0x0103FFFF}}), TocEntryBytes(0xF4, "x" + signature + "y")});
  const std::string toc = TableOfContentsBytes({area});
  const std::string t = std::to_string(toc.size());
  const std::string nolo = NamedBlockBytes("NOLO", PatternBytes(0x400, 3), 0x000C0000);
  const std::string cert = NamedBlockBytes("CERT", PatternBytes(0x80, 4), 0, true);
  const std::string named_prefix = toc + nolo + std::string(32, '\xFF') + cert;
  // An empty volume; the first E9 00 90 lies in a free cluster.
  std::string fat = std::string(0x200, '\0') + testing::FatBootSector(0x7F) + std::string(0x10100 - 0x400, '\0');
  fat.replace(0xD000, 3, kFatMagic);
  const struct {
    const char* label;
    const char* name;
    int model;
    std::string file;
    std::vector<std::string> lines;  // in the output of info
  } cases[] = {
      {"a table of contents with every kind of entry",
       "a.rofs2.bin",
       0,
       MakeFirmware({.prefix = every_kind}, rofs),
       {"table of contents: " + std::to_string(every_kind.size()) + " bytes, 6 entries",
        "  erase area: NAND 0x01000000-0x017FFFFF", "  date: 2011-03-13 07:06:40 UTC", "  description: RM-356 | V 21.0",
        "  tag E4: 01 02 03", "  array: 2 entries", "    CMT type: 01", "    erase area: NAND 0x02000000-0x0203FFFF",
        "  partition info: 00 07",
        "prefix:         " + std::to_string(every_kind.size()) + " bytes: table of contents (" +
            std::to_string(every_kind.size()) + " bytes)",
        "erase area:     0x01000000-0x017FFFFF holds the payload 0x01000000-0x0104FFFF, 8060928 bytes free",
        "padding:        none between the code blocks", "after the blocks: nothing",
        "ROFS header:    at offset 0x00000000 of the payloads, nothing in front of it",
        "headers:        all 2 right (signature, check value, checksum, length, address chain)"}},
      {"a table holding the signature in a value, its payload over the erase area",
       "b.rofs2.bin",
       0,
       MakeFirmware({.prefix = holding_signature}, rofs),
       {"prefix:         " + std::to_string(holding_signature.size()) + " bytes: table of contents (" +
            std::to_string(holding_signature.size()) + " bytes)",
        "blocks:         2",
        "erase area:     0x01000000-0x0103FFFF holds the payload 0x01000000-0x0104FFFF, over by 65536 bytes"}},
      {"named blocks 5D 27 and 5D 28 before the code blocks",
       "c.rofs2.bin",
       0,
       MakeFirmware({.prefix = named_prefix}, rofs),
       {"prefix:         " + std::to_string(named_prefix.size()) + " bytes: table of contents (" + t +
            " bytes), named block 0 (NOLO), 32 bytes of FF, named block 1 (CERT)",
        "named blocks:   2",
        "  named block 0 (NOLO): 50-byte header, payload 0x400 bytes, address 0x000C0000, at file offset " +
            HexNumber(toc.size(), 8),
        "  named block 1 (CERT): 72-byte header, payload 0x80 bytes, address 0xFFFFFFFF, at file offset " +
            HexNumber(toc.size() + nolo.size() + 32, 8),
        "named headers:  all 2 right (the checksum; their check values are not checked: the algorithm is not known)"}},
      {"26-byte headers with the type field of real files",
       "d.uda.bin",
       1,
       MakeFirmware({.model = 1,
                     .uda = true,
                     .prefix = toc,
                     .type_field = testing::BytesFromSpacedHex("00 00 00 08 FF FF FF FF")},
                    fat),
       {"header layout:  26-byte headers, block size 0x8000", "blocks:         3",
        "header bytes the profile does not give: 00 00 00 08 FF FF FF FF in blocks 0-2",
        // The boot sector, not the first E9 00 90 in the data.
        "FAT volume:     boot sector at offset 0x00000200 of the payloads, after 512 zero bytes",
        "file system:    FAT12, 6 clusters of 2048 bytes, 2 FATs"}},
      {"FF padding in front, between and behind the blocks",
       "e.rofs2.bin",
       0,
       MakeFirmware({.prefix = toc + std::string(32, '\xFF'),
                     .padding_between = 0x10,
                     .trail = std::string(48, '\xFF') + nolo + std::string(8, '\xFF')},
                    rofs + PatternBytes(0x40000)),
       {"prefix:         " + std::to_string(toc.size() + 32) + " bytes: table of contents (" + t +
            " bytes), 32 bytes of FF",
        "padding:        32 bytes of FF between the code blocks (16 after blocks 0-1)",
        "after the blocks: 48 bytes of FF, named block 0 (NOLO), 8 bytes of FF",
        "headers:        all 3 right (signature, check value, checksum, length, address chain)"}},
      {"a signed image's header in front of the ROFS header",
       "f.rofs2.bin",
       0,
       MakeFirmware({.prefix = toc}, "\xA3\x95\x97\x80" + PatternBytes(0x3FC) + rofs),
       {"ROFS header:    at offset 0x00000400 of the payloads; the bytes in front of it: not zero (1024 bytes, "
        "beginning A3 95 97 80)"}},
      {"zero bytes in front of the ROFS header",
       "g.rofs2.bin",
       0,
       MakeFirmware({}, std::string(0xC00, '\0') + rofs),
       {"prefix:         0 bytes",
        "ROFS header:    at offset 0x00000C00 of the payloads; the bytes in front of it: all zero (3072 bytes)"}},
      {"no boot sector, an E9 00 90 after other bytes",
       "h.uda.bin",
       0,
       MakeFirmware({.uda = true}, std::string(0x10, 'x') + kFatMagic + PatternBytes(0x1000)),
       {"FAT volume:     no FAT boot sector at the start of the payloads; Extract takes the first E9 00 90, at offset "
        "0x00000010"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    const std::string path = home.Write(c.name, c.file);
    const std::string model = "--model " + std::to_string(c.model) + " ";
    const CliRun info = RunCli(home, "--lang en " + model + "info " + Q(path));
    EXPECT_EQ(info.status, 0) << info.out;
    // English throughout: no Chinese letter anywhere.
    EXPECT_EQ(std::count_if(info.out.begin(), info.out.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0xE3 && static_cast<unsigned char>(c) <= 0xE9; }),
              0)
        << info.out;
    for (const std::string& line : c.lines)
      EXPECT_NE(info.out.find("\n" + line + "\n"), std::string::npos) << line << "\n--\n" << info.out;
    const CliRun verify = RunCli(home, model + "verify " + Q(path));
    EXPECT_EQ(verify.status, 0) << verify.out;
    EXPECT_EQ(verify.out, CrcLine(c.file));
  }
}

// Damage in a real file is named with its block and file offset, one line
// each.
TEST(CliEndToEndTest, VerifyNamesEachDamageOfARealFile) {
  const std::string toc = TableOfContentsBytes({EraseAreaEntry({{0x01000000, 0x017FFFFF}})});
  const std::string nolo = NamedBlockBytes("NOLO", PatternBytes(0x400, 3), 0x000C0000);
  const std::string cert = NamedBlockBytes("CERT", PatternBytes(0x80, 4), 0, true);
  const std::string good = MakeFirmware({.prefix = toc + nolo + cert}, "ROFS0\xFF" + PatternBytes(0x50000));
  const std::size_t cert_at = toc.size() + nolo.size(), block0 = cert_at + cert.size(), block1 = block0 + 19 + 0x40000;
  const auto byte = [&](std::size_t at, int plus = 0) {
    return HexDigits(static_cast<unsigned char>(good[at] + plus), 2);
  };
  const auto changed = [&](std::size_t at, int plus) {
    std::string file = good;
    file[at] = static_cast<char>(file[at] + plus);
    return file;
  };
  const struct {
    const char* label;
    std::string file;
    std::string expected;  // the whole output
  } cases[] = {
      {"a payload byte flipped",
       [&] {
         std::string file = good;
         file[block1 + 19 + 0x10] ^= 0x40;
         return file;
       }(),
       "block 1 at file offset " + HexNumber(block1, 8) + ": check value expected " +
           HexDigits(static_cast<unsigned char>(good[block1 + 7] ^ 0x40), 2) + " " + byte(block1 + 8) + ", found " +
           byte(block1 + 7) + " " + byte(block1 + 8) + "\n"},
      {"a code header's checksum off by one", changed(block0 + 18, 1),
       "block 0 at file offset " + HexNumber(block0, 8) + ": header checksum expected " + byte(block0 + 18) +
           ", found " + byte(block0 + 18, 1) + "\n"},
      {"a named block's checksum off by one", changed(cert_at + 71, 1),
       "named block 1 (CERT) at file offset " + HexNumber(cert_at, 8) + ": header checksum expected " +
           byte(cert_at + 71) + ", found " + byte(cert_at + 71, 1) + "\n"},
      // The check goes on at the next block, which is right.
      {"an unknown block type between blocks", good.substr(0, block1) + "\x77unknown" + good.substr(block1),
       "block 0 at file offset " + HexNumber(block0, 8) + ": no block header where this block ends, at file offset " +
           HexNumber(block1, 8) + " (found 77 75 6E 6B 6E 6F 77)\n"},
      // One more byte of table: it ends inside the first named block.
      {"a table of contents that leads nowhere", changed(4, 1),
       "table of contents at 0x00000000: no block header begins where it ends, at " + HexNumber(toc.size() + 1, 8) +
           "; the file was read without it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    const CliRun verify = RunCli(home, "--lang en verify " + Q(home.Write("fw.rofs2.bin", c.file)));
    EXPECT_EQ(verify.status, 1);
    EXPECT_EQ(verify.out, c.expected + CrcLine(c.file, true));
  }
}

#ifndef _WIN32
// A name is shown with its control characters escaped: a newline in it
// cannot start a log line of its own, an escape sequence cannot move the
// terminal's cursor or clear its screen.
TEST(CliEndToEndTest, ControlCharactersOfANameAreShownEscaped) {
  ProgramFolder home;
  const std::string path =
      home.Write("a\nqq\x1B[2J\x1B[1A.rofs2.bin", MakeFirmware({}, "ROFS0\xFF" + PatternBytes(0x50000)));
  const std::string shown = home.path() + "a\\x0Aqq\\x1B[2J\\x1B[1A.rofs2.bin";
  const CliRun extract = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(path));
  const CliRun info = RunCli(home, "--lang en info " + Q(path));
  const CliRun missing = RunCli(home, "--home " + Q(home.path()) + " extract " + Q(path + "\r"));
  for (const CliRun* run : {&extract, &info, &missing}) {
    for (const std::string* output : {&run->out, &run->err}) {
      EXPECT_EQ(output->find('\x1B'), std::string::npos) << *output;
      EXPECT_EQ(output->find('\r'), std::string::npos) << *output;
      EXPECT_EQ(output->find("\nqq"), std::string::npos) << *output;
    }
  }
  EXPECT_NE(extract.out.find("文件: " + shown + "\n"), std::string::npos) << extract.out;
  EXPECT_NE(info.out.find("file:           " + shown + "\n"), std::string::npos) << info.out;
  EXPECT_NE(missing.err.find(shown + "\\x0D"), std::string::npos) << missing.err;
}
#endif

// --kind overrides what the file's name says; the content still has the
// last word.
TEST(CliEndToEndTest, KindOptionOverridesTheName) {
  ProgramFolder home;
  const std::string fat = home.Write("data.rofs2.bin", MakeFirmware({.uda = true}, kFatMagic + PatternBytes(0x1000)));
  CliRun info = RunCli(home, "--lang en --kind uda info " + Q(fat));
  EXPECT_NE(info.out.find("kind:           UDA"), std::string::npos) << info.out;
  const CliRun extract = RunCli(home, "--kind uda --home " + Q(home.path()) + " extract " + Q(fat));
  EXPECT_EQ(extract.status, 3) << extract.out << extract.err;  // no FAT volume: no folder uda
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
  EXPECT_NE(run.out.find("正被另一个解包或打包使用 (另一个解包或打包持有它的锁)"), std::string::npos)
      << run.out;
  EXPECT_FALSE(home.Exists("fat16/fat16.img"));
}

// With --home the closing line names that folder, and the last line gives
// the output's full path.
TEST(CliEndToEndTest, TheClosingLinesNameTheFolderGivenAndTheFullPath) {
  ProgramFolder home;
  const std::string file = home.Write("in/a.uda.bin", MakeFirmware({.uda = true}, kFatMagic + "abc"));
  EXPECT_EQ(RunCli(home, "--home " + Q(home.path()) + " extract " + Q(file)).status, 3);  // no FAT volume
  const CliRun run = RunCli(home, "--home " + Q(home.path()) + " repack " + Q(file));
  EXPECT_EQ(run.status, 0) << run.out;
  EXPECT_NE(run.out.find("REB-a.uda.bin 文件生成在 " + home.path() +
                         ", 删除文件名中“REB-”然后复制到刷机文件目录下,即可刷机!"),
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
