// Faults a user meets, end to end: through the real larkspur-cli, and
// through TForm1 and the console window where something happens between two
// commands. Missing working folders, a read-only program folder, tools that
// crash, an image whose names would leave rofs2, firmware files cut short or
// without a header, an input that goes away before Repack. Each must end
// with a message naming the file and the cause, a failed run (exit status
// 1, the menu back), no output that looks finished and is not, and every
// file that was there before as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <set>
#include <vector>

#ifdef __linux__
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "port/files.h"
#include "port/process.h"
#include "testing/expected_reasons.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"
#include "testing/tree_snapshot.h"
#include "tools/larkspur-cli/cli_runner.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::CliRun;
using testing::Q;
using testing::RunCli;
using testing::MakeFirmware;
using testing::PatternBytes;
using testing::ProgramFolder;

const std::string kRofsMagic = "ROFS0\xFF";
const std::string kFatMagic("\xE9\x00\x90", 3);


// The paths whose presence or content differs between two trees.
std::set<std::string> Changed(const std::map<std::string, std::string>& before,
                              const std::map<std::string, std::string>& after) {
  std::set<std::string> changed;
  for (const auto& [name, bytes] : before) {
    const auto it = after.find(name);
    if (it == after.end() || it->second != bytes) changed.insert(name);
  }
  for (const auto& [name, bytes] : after) {
    if (!before.count(name)) changed.insert(name);
  }
  return changed;
}

std::string Fill(std::string text, const std::string& home, const std::string& file) {
  for (const auto& [placeholder, value] : {std::pair{"<home>", home}, std::pair{"<file>", file}}) {
    for (std::size_t at; (at = text.find(placeholder)) != std::string::npos;) {
#ifdef _WIN32
      // The program joins paths below its folder with backslashes there.
      for (std::size_t i = at + 6; i < text.size() && std::string_view(" \")").find(text[i]) == std::string_view::npos; ++i) {
        if (text[i] == '/') text[i] = '\\';
      }
#endif
      text.replace(at, 6, value);
    }
  }
  return text;
}

// A ROFS image made by the real rofsbuild from `files` (image path ->
// bytes), with the UTF-16 name `placeholder` then overwritten by `name` of
// the same length: names the builder itself would refuse.
std::string RofsImageWithName(const std::map<std::string, std::string>& files, const std::u16string& placeholder,
                              const std::u16string& name) {
  ProgramFolder source;
  source.InstallBuiltTools();
  std::string obey = "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n";
  for (const auto& [image_path, bytes] : files) {
    std::string host_path = image_path;
    for (char& c : host_path) c = c == '\\' ? '/' : c;
    source.Write("rofs2/" + host_path, bytes);
    obey += "data=\"..\\rofs2\\" + image_path + "\" \"" + image_path + "\"\r\n";
  }
  source.Write("temp/rofs2.obey", obey);
  const std::string saved_folder = port::CurrentDirectory();
  EXPECT_TRUE(port::SetCurrentDirectory(source.Path("exebat")));
  const port::ProcessOutcome built = port::RunCommandLine("rofsbuild.exe ../temp/rofs2.obey", true);
  port::SetCurrentDirectory(saved_folder);
  EXPECT_TRUE(built.started && built.waited && built.exit_status == 0) << built.reason;

  std::string image = source.Read("exebat/rofs2r.img");
  const auto utf16 = [](const std::u16string& text) {
    std::string bytes;
    for (char16_t unit : text) bytes += {static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
  };
  const std::size_t at = image.find(utf16(placeholder));
  EXPECT_NE(at, std::string::npos);
  EXPECT_EQ(image.find(utf16(placeholder), at + 1), std::string::npos) << "the placeholder is not unique";
  if (at != std::string::npos) image.replace(at, 2 * name.size(), utf16(name));
  return image;
}

// A firmware file holding a ROFS image as the phone's partition does.
std::string RofsFirmware(const std::string& image) {
  std::string stream = std::string(3072, '\0') + image;
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  return MakeFirmware({.prefix = "HEAD"}, stream);
}

struct CliFault {
  const char* label;
  const char* command;  // extract, repack or verify
  std::string name;     // the input file's name; it lies in the folder "in"
  std::string file;     // its bytes
  std::function<void(const ProgramFolder&)> arrange;
  std::vector<std::string> expected;  // in the output or the error output; <home>, <file> stand for the paths
  std::set<std::string> may_change;   // paths below the program folder the run may write
};

TEST(CliFaultsTest, EachFaultIsNamedAndLeavesNothingThatLooksFinished) {
  const std::string rofs = RofsFirmware(kRofsMagic + PatternBytes(0x50000));
  const std::string uda = MakeFirmware({.uda = true}, kFatMagic + PatternBytes(0x50000));
  const std::string no_header = kFatMagic + PatternBytes(5000);
  // rofs2/../../<this>: beside the program folder.
  const std::u16string escape = u"../../larkspur-cli-faults-escaped.txt";
  const auto remove = [](const char* folder) {
    return [=](const ProgramFolder& home) { fs::remove_all(home.Path(folder)); };
  };
  // Only the POSIX cases below start stand-in tools.
  [[maybe_unused]] const auto tool = [](const char* name, const char* steps) {
    return [=](const ProgramFolder& home) { home.InstallStandInTool(name, steps); };
  };
  const auto built_tools = [](const ProgramFolder& home) { home.InstallBuiltTools(); };
  const std::vector<CliFault> cases = {
      {"fat16 folder missing, extract", "extract", "fw.uda.bin", uda, remove("fat16"),
       {"[Application Error] Exception EFCreateError in module larkspur at ",
        "Cannot create file \"<home>fat16/fat16.img\". " + testing::MissingFolderReason() + "."},
       {}},
      {"fat16 folder missing, repack", "repack", "fw.uda.bin", uda, remove("fat16"),
       {"错误: <home>fat16/fat16.img 不存在或为空, 未生成任何文件."}, {}},
      {"exebat folder missing, extract", "extract", "fw.rofs2.bin", rofs, remove("exebat"),
       {"[Marrowby] Unable to run readimage.exe -z ../rofs2 ../temp/rofs2.img",
        "rofs2.img 文件解包失败: readimage 无法启动 (the tool folder <home>exebat is missing)."},
       {}},
      {"exebat folder missing, repack", "repack", "fw.rofs2.bin", rofs, remove("exebat"),
       {"[Marrowby] Unable to run rofsbuild.exe ../temp/rofs2.obey",
        "rofsbuild 无法启动 (the tool folder <home>exebat is missing): rofs 文件重建失败.",
        "错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件."},
       {}},
#ifndef _WIN32  // a program ended by a signal is a POSIX matter
      {"unpacker crashes", "extract", "fw.rofs2.bin", rofs, tool("readimage", "signal 11"),
       {"rofs2.img 文件解包失败: readimage 被信号 11 终止."}, {}},
      {"builder crashes after writing part of an image", "repack", "fw.rofs2.bin", rofs,
       tool("rofsbuild", "write rofs2r.img ROFS0; signal 11"),
       {"rofsbuild 被信号 11 终止: rofs 文件重建失败.",
        "错误: rofs 文件重建失败 (rofsbuild 失败, 它的最后几行输出在上面), 未生成任何文件."},
       {}},
#endif
      {"image folder named \"..\"", "extract", "fw.rofs2.bin",
       RofsFirmware(RofsImageWithName({{"QQ\\esc.txt", "x"}, {"ok.txt", "ok"}}, u"QQ", u"..")), built_tools,
       {"name \"..\" cannot be extracted: the name \".\" or \"..\" would leave its folder",
        "rofs2.img 文件解包失败: readimage 退出状态 1."},
       {}},
      {"image file name holding \"/\"", "extract", "fw.rofs2.bin",
       RofsFirmware(RofsImageWithName({{std::string(escape.size(), 'Q'), "x"}}, std::u16string(escape.size(), u'Q'),
                                      escape)),
       built_tools,
       {"name \"../../larkspur-cli-faults-escaped.txt\" cannot be extracted: the name holds a path separator",
        "rofs2.img 文件解包失败: readimage 退出状态 1."},
       {}},
      {"cut short inside a header, extract", "extract", "fw.rofs2.bin", rofs.substr(0, 4 + 19 + 0x40000 + 11), nullptr,
       {"错误: 文件 <file> 不完整 (文件偏移 0x00040017 处的块 1: 块头被截断). 未生成任何文件."},
       {}},
      {"cut short inside a header, verify", "verify", "fw.rofs2.bin", rofs.substr(0, 4 + 19 + 0x40000 + 11), nullptr,
       {"文件偏移 0x00040017 处的块 1: 块头被截断: 只有 11 字节, 共 19 字节"}, {}},
      {"no header at all, extract", "extract", "fw.uda.bin", no_header, nullptr,
       {"错误: 文件 <file> 中没有块头 (没有找到标识 5401170E000300), 请检查所选手机型号. "
        "未生成任何文件."},
       {}},
      {"no header at all, repack", "repack", "fw.uda.bin", no_header, nullptr,
       {"错误: 文件 <file> 中没有块头 (没有找到标识 5401170E000300), 请检查所选手机型号. "
        "未生成任何文件."},
       {}},
  };
  for (const CliFault& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    testing::ScratchFolder outputs;
    const std::string input = home.Write("in/" + c.name, c.file);
    // What earlier runs left: each must stay as it is.
    home.Write("REB-" + c.name, "earlier output");
    home.Write("temp/rofs2.img", "earlier image");
    home.Write("fat16/fat16.img", kFatMagic + "earlier image");
    home.Write("rofs2/earlier.txt", "earlier file");
    if (std::string(c.command) == "repack") home.MarkExtracted(input, c.name.find("uda") != std::string::npos);
    if (c.arrange) c.arrange(home);
    const auto before = testing::TreeOf(home.path());

    const std::string home_option = std::string(c.command) == "verify" ? "" : "--home " + Q(home.path()) + " ";
    const CliRun run = RunCli(outputs, home_option + c.command + " " + Q(input));

    EXPECT_EQ(run.status, 1) << run.out << run.err;
    for (const std::string& expected : c.expected) {
      const std::string text = Fill(expected, home.path(), input);
      EXPECT_NE((run.out + run.err).find(text), std::string::npos) << text << "\n--\n" << run.out << run.err;
    }
    for (const std::string& path : Changed(before, testing::TreeOf(home.path()))) {
      EXPECT_TRUE(c.may_change.count(path)) << path << " changed";
    }
    EXPECT_FALSE(fs::exists(fs::path(home.path()).parent_path().parent_path() / "larkspur-cli-faults-escaped.txt"));
  }
}

// The input file is gone, emptied or replaced by a folder when Repack loads
// it again for its prefix: the tool has run, but nothing is reassembled.
TEST(CliFaultsTest, AnInputThatChangesBetweenOpenAndRepackStopsTheRepack) {
  const struct {
    const char* label;
    std::function<void(const std::string& path)> change;
  } cases[] = {
      {"removed", [](const std::string& path) { fs::remove(path); }},
      {"emptied", [](const std::string& path) { std::ofstream(path, std::ios::trunc); }},
      {"replaced by a folder", [](const std::string& path) { fs::remove(path), fs::create_directory(path); }},
  };
  const std::string saved_folder = port::CurrentDirectory();  // the tool runner leaves it in `home`
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    ProgramFolder home;
    home.InstallStandInTool("rofsbuild", testing::kStandInRofsbuild);
    home.Write("REB-fw.rofs2.bin", "earlier output");
    testing::Session s(home);
    const std::string input = home.Write("fw.rofs2.bin", RofsFirmware(kRofsMagic + "abc"));
    s.Open(input);
    c.change(input);
    s.Repack();
    EXPECT_EQ(s.window.log.back(), "错误: 输入文件 " + input + " 不存在或为空, 未生成任何文件.");
    EXPECT_EQ(home.Read("REB-fw.rofs2.bin"), "earlier output");
    EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen) && s.MenuEnabled(MenuItem::kExtract) && s.MenuEnabled(MenuItem::kRepack));
  }
  port::SetCurrentDirectory(saved_folder);
}

// Makes folders read-only for the length of a test, and writable again
// after. Permission bits do not stop root, so for root the folders are
// made immutable where the file system allows it.
class ReadOnlyFolders {
 public:
  ~ReadOnlyFolders() {
    for (const std::string& folder : folders_) SetReadOnly(folder, false);
  }
  bool Add(const std::string& folder) {
    if (!SetReadOnly(folder, true)) return false;
    folders_.push_back(folder);
    return true;
  }

 private:
  static bool SetReadOnly(const std::string& folder, bool read_only) {
#ifdef __linux__
    if (::geteuid() == 0) {
      const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
      if (fd < 0) return false;
      int flags = 0;
      bool done = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
      flags = read_only ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
      done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
      ::close(fd);
      return done;
    }
#endif
#ifdef _WIN32
    // The read-only attribute of a folder does not stop files being made
    // in it on Windows.
    return false;
#else
    std::error_code error;
    fs::permissions(folder, read_only ? fs::perms::owner_read | fs::perms::owner_exec : fs::perms::owner_all, error);
    return !error;
#endif
  }

  std::vector<std::string> folders_;
};

TEST(CliFaultsTest, AReadOnlyProgramFolderStopsWithTheFileNamed) {
  ProgramFolder home;
  testing::ScratchFolder outputs;
  const std::string input = home.Write("in/fw.uda.bin", MakeFirmware({.uda = true}, kFatMagic + PatternBytes(0x50000)));
  home.Write("fat16/fat16.img", "earlier image");
  home.MarkExtracted(input, true);
  ReadOnlyFolders read_only;
  for (const char* folder : {"", "temp", "fat16", "rofs2", "exebat"}) {
    if (!read_only.Add(home.Path(folder))) {
      GTEST_SKIP() << "this system cannot make " << home.Path(folder)
                   << " read-only for this user (root, and no immutable attribute here)";
    }
  }
  const auto before = testing::TreeOf(home.path());
  const struct {
    const char* command;
    std::string expected;
  } cases[] = {
      // The run's journal is the first file either must write.
      {"extract", "Cannot create file \"" + home.path() + "larkspur.journal\". "},
      {"repack", "Cannot create file \"" + home.path() + "larkspur.journal\". "},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.command);
    const CliRun run = RunCli(outputs, "--home " + Q(home.path()) + " " + c.command + " " + Q(input));
    EXPECT_EQ(run.status, 1) << run.out << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
    EXPECT_EQ(testing::TreeOf(home.path()), before);
  }
}

}  // namespace
}  // namespace larkspur
