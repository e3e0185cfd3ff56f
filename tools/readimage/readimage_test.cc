// End-to-end runs of the built readimage program, laid out the way the
// window uses it: "readimage -z ../rofs2 ../temp/rofs2.img" in the tool
// folder exebat of a program folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_format.h"
#include "rofs/rofs_reader.h"
#include "testing/captured_run.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

fs::path Readimage() {
#ifdef _WIN32
  return fs::path(LARKSPUR_BIN_DIR) / "exebat" / "readimage.exe";
#else
  return fs::path(LARKSPUR_BIN_DIR) / "exebat" / "readimage";
#endif
}

// A program folder with exebat and temp, and `image` as temp/rofs2.img.
class ReadimageFolder {
 public:
  explicit ReadimageFolder(std::span<const std::uint8_t> image) {
    fs::create_directory(root() / "exebat");
    fs::create_directory(root() / "temp");
    testing::WriteBytes(root() / "temp" / "rofs2.img", image);
  }
  fs::path root() const { return temp_.root(); }
  fs::path exebat() const { return root() / "exebat"; }
  testing::CapturedRun Run(const std::vector<std::string>& arguments) const {
    return testing::RunCapturingOutput(Readimage(), arguments, exebat());
  }

 private:
  ScratchFolder temp_;
};

TEST(ReadimageTest, ExtractsTheReferenceImageAsTheWindowRunsIt) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  ReadimageFolder program(testing::ReadBytes(shared / "case1_rofs2r.img"));
  const testing::CapturedRun run = program.Run({"-z", "../rofs2", "../temp/rofs2.img"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");

  std::set<std::string> expected;
  for (const auto& entry : testing::ReadTar(testing::ReadBytes(shared / "case1_input_tree.tar"))) {
    if (entry.is_directory) continue;
    expected.insert(entry.path);
    EXPECT_EQ(testing::ReadBytes(program.root() / testing::Utf8Path(entry.path)), entry.data) << entry.path;
  }
  std::set<std::string> found;
  for (const auto& entry : fs::recursive_directory_iterator(program.root() / "rofs2")) {
    if (entry.is_regular_file())
      found.insert(testing::GenericUtf8(entry.path().lexically_relative(program.root())));
  }
  EXPECT_EQ(found, expected);
}

TEST(ReadimageTest, ListsAndDescribes) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  ReadimageFolder program(testing::ReadBytes(shared / "case1_rofs2r.img"));
  const testing::CapturedRun list = program.Run({"-l", "../temp/rofs2.img"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out.rfind("-R---         10  .hidden_config\n"
                           "-R---         30  " + ImageNameForDisplay(u"Grüße Über.txt") + "\n" +
                           "-R---          0  empty.dat\n"
                           "-R---    1048576  random1m.bin\n"
                           "-R---         39  readme.txt\n"
                           "D----          -  level1/\n"
                           "-R---         17  level1/top1.txt\n",
                           0),
            0u)
      << list.out;
  EXPECT_NE(list.out.find("\n-R---         22  my documents/Second Note.TXT\n"), std::string::npos);

  const testing::CapturedRun describe = program.Run({"-d", "../temp/rofs2.img"});
  ASSERT_EQ(describe.exit_code, 0) << describe.err;
  for (const char* line :
       {"identifier:       ROFS\n", "format version:   0x200\n",
        "time:             2026-12-10 00:37:28.000000 UTC (0xE33FEFD6DF2200)\n",
        "image size:       0x105988 (1071496 bytes)\n", "max image size:   0x10000000\n",
        "files:            210\n", "lookup tables:    complete, in the phone's order\n"}) {
    EXPECT_NE(describe.out.find(line), std::string::npos) << line;
  }
}

TEST(ReadimageTest, ListsHiddenEntriesWithoutExtractingThem) {
  ReadimageFolder program(
      testing::BuildInMemory({{"sys\\bin\\old.dll", "", true}, {"sys\\bin\\new.dll", "MZ"}}));
  const testing::CapturedRun list = program.Run({"-l", "../temp/rofs2.img"});
  EXPECT_EQ(list.out,
            "D----          -  sys/\n"
            "D----          -  sys/bin/\n"
            "-R---          0  sys/bin/old.dll  [hidden: masks a lower layer]\n"
            "-R---          2  sys/bin/new.dll\n");
  const testing::CapturedRun run = program.Run({"-z", "../rofs2", "../temp/rofs2.img"});
  EXPECT_EQ(run.exit_code, 0) << run.err;
  EXPECT_TRUE(fs::exists(program.root() / "rofs2" / "sys" / "bin" / "new.dll"));
  EXPECT_FALSE(fs::exists(program.root() / "rofs2" / "sys" / "bin" / "old.dll"));
}

// Paths in any script on the command line reach the tool whole (on Windows
// it reads the wide command line, whatever the ANSI code page), and the
// listing gives the image's names as UTF-8.
TEST(ReadimageTest, PathsAndNamesInAnyScript) {
  ReadimageFolder program(testing::BuildInMemory({{"sort\\Привет.txt", "ru"}, {"日本.txt", "ja"}}));
  fs::rename(program.root() / "temp" / "rofs2.img", program.root() / "temp" / testing::Utf8Path("образ 映像.img"));
  const testing::CapturedRun list = program.Run({"-l", "../temp/образ 映像.img"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out,
            "-R---          2  日本.txt\n"
            "D----          -  sort/\n"
            "-R---          2  sort/Привет.txt\n");
  const testing::CapturedRun run = program.Run({"-z", "../Папка 文件夹", "../temp/образ 映像.img"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.out, "readimage: extracted 2 files (4 bytes) into ../Папка 文件夹\n");
  EXPECT_EQ(testing::ReadBytes(program.root() / testing::Utf8Path("Папка 文件夹/sort/Привет.txt")),
            testing::ByteVector("ru"));
  EXPECT_EQ(testing::ReadBytes(program.root() / testing::Utf8Path("Папка 文件夹/日本.txt")), testing::ByteVector("ja"));
}

TEST(ReadimageTest, ListsAttributesAndBothKindsOfHiddenEntryAndExtractsOnlyRealFiles) {
  ImageSpec spec;
  spec.origin = "attr.obey";
  spec.max_image_size = 0x10000;
  const auto add = [&](std::string_view path, std::uint8_t attributes, std::uint8_t extra,
                       bool hidden) {
    ImageFileSpec file;
    file.path = testing::ImagePath(path);
    file.attributes = attributes;
    file.extra_attributes = extra;
    file.hidden = hidden;
    file.line = static_cast<int>(spec.files.size()) + 3;
    spec.files.push_back(file);
  };
  add("hs.txt", 0x06, 0xFF, false);
  add("w.txt", 0x00, 0xFF, false);
  add("u.txt", 0x01, 0xFD, false);
  add("odd.txt", 0x41, 0xFE, false);
  add("gone.dll", 0x01, 0xFF, true);
  add("old.dll", 0x01, 0xFF, true);
  auto image = testing::WriteInMemory(
      spec, std::vector<std::vector<std::uint8_t>>(spec.files.size(), testing::ByteVector("x")));
  // A Symbian 9.1 builder marks a hidden entry with address 0 and size 0.
  const std::uint32_t old_entry = ParseRofsImage(image, "x").root.files.at(5).entry_offset;
  for (int i = 0; i < 4; ++i) image[old_entry + kEntryAddressOffset + i] = 0;

  ReadimageFolder program(image);
  const testing::CapturedRun list = program.Run({"-l", "../temp/rofs2.img"});
  ASSERT_EQ(list.exit_code, 0) << list.err;
  EXPECT_EQ(list.out,
            "--HS-          1  hs.txt\n"
            "-----          1  w.txt\n"
            "-R---          1  u.txt  [extra attributes 0xFD: unique, the phone adds a suffix]\n"
            "-R---          1  odd.txt  [attributes 0x41]  [extra attributes 0xFE]\n"
            "-R---          0  gone.dll  [hidden: masks a lower layer]\n"
            "-R---          0  old.dll  [hidden: masks a lower layer]\n");
  const testing::CapturedRun run = program.Run({"-z", "../rofs2", "../temp/rofs2.img"});
  ASSERT_EQ(run.exit_code, 0) << run.err;
  std::set<std::string> written;
  for (const auto& entry : fs::directory_iterator(program.root() / "rofs2")) {
    written.insert(testing::GenericUtf8(entry.path().filename()));
  }
  EXPECT_EQ(written, (std::set<std::string>{"hs.txt", "w.txt", "u.txt", "odd.txt"}));
}

TEST(ReadimageTest, BrokenImagesFailWithTheOffsetAndWriteNothing) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  auto unsafe = testing::BuildInMemory({{"ok.txt", "ok"}, {"pp", "bad"}});
  const std::uint32_t entry = ParseRofsImage(unsafe, "x").root.files[1].entry_offset;
  unsafe[entry + kEntryFixedSize] = '.';
  unsafe[entry + kEntryFixedSize + 2] = '.';
  struct Broken {
    const char* label;
    std::vector<std::uint8_t> image;
    std::string err;
  };
  const std::vector<Broken> cases = {
      {"cut at 0x200", testing::ReadBytes(shared / "case1_bad_trunc_0x200.img"),
       "readimage: ../temp/rofs2.img: ROFS header at 0x24: image size 0x105988 is larger than the "
       "file (0x200 bytes); the image is cut short\n"},
      {"cut at 0x1000", testing::ReadBytes(shared / "case1_bad_trunc_0x1000.img"),
       "readimage: ../temp/rofs2.img: ROFS header at 0x24: image size 0x105988 is larger than the "
       "file (0x1000 bytes); the image is cut short\n"},
      {"not an image", testing::ByteVector(std::string(64, 'x')),
       "readimage: ../temp/rofs2.img: ROFS header at 0x0: identifier 78 78 78 78 is not \"ROFS\" "
       "(52 4F 46 53)\n"},
      {"unsafe name", unsafe,
       "readimage: ../temp/rofs2.img: ROFS entry at " + HexNumber(entry) +
           ": name \"..\" cannot be extracted: the name \".\" or \"..\" would leave its folder\n"},
  };
  for (const Broken& c : cases) {
    SCOPED_TRACE(c.label);
    ReadimageFolder program(c.image);
    const testing::CapturedRun run = program.Run({"-z", "../rofs2", "../temp/rofs2.img"});
    EXPECT_EQ(run.exit_code, 1);
    EXPECT_EQ(run.err, c.err);
    EXPECT_FALSE(fs::exists(program.root() / "rofs2"));
  }
  ReadimageFolder program(testing::ByteVector(""));
  const testing::CapturedRun missing = program.Run({"-l", "../temp/none.img"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_EQ(missing.err, "readimage: Cannot open file \"../temp/none.img\": no such file\n");
}

TEST(ReadimageTest, CommandLineUsage) {
  ScratchFolder temp;
  const testing::CapturedRun help = testing::RunCapturingOutput(Readimage(), {"--help"}, temp.root());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: readimage -z OUTDIR IMAGE", 0), 0u);
  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{}, {"-z", "only-one"}, {"-x", "a", "b"}, {"-l", "a", "b"}}) {
    const testing::CapturedRun run = testing::RunCapturingOutput(Readimage(), wrong, temp.root());
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.err.rfind("usage: readimage", 0), 0u);
  }
}

}  // namespace
}  // namespace larkspur::rofs
