// End-to-end runs of the built rofsbuild program, laid out the way the
// window uses it: run in the tool folder exebat of a program folder, with
// "../temp/rofs2.obey" as its argument and "..\rofs2\..." source paths.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rofs/rofs_reader.h"
#include "rofs/symbian_time.h"
#include "testing/captured_run.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

fs::path Rofsbuild() {
#ifdef _WIN32
  return fs::path(LARKSPUR_BIN_DIR) / "exebat" / "rofsbuild.exe";
#else
  return fs::path(LARKSPUR_BIN_DIR) / "exebat" / "rofsbuild";
#endif
}

// A program folder with exebat, temp and the unpacked reference tree rofs2.
class RofsbuildFolder {
 public:
  explicit RofsbuildFolder(const fs::path& shared) {
    testing::UnpackTar(testing::ReadTar(testing::ReadBytes(shared / "case1_input_tree.tar")),
                       root());
    fs::create_directory(root() / "exebat");
    fs::create_directory(root() / "temp");
  }
  fs::path root() const { return temp_.root(); }
  fs::path exebat() const { return root() / "exebat"; }
  void WriteObey(const std::string& text) const {
    testing::WriteBytes(root() / "temp" / "rofs2.obey", testing::ByteVector(text));
  }

 private:
  ScratchFolder temp_;
};

TEST(RofsbuildTest, BuildsTheReferenceImageInTheToolFolder) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  RofsbuildFolder program(shared);
  fs::copy_file(shared / "case1_rofs2.obey", program.root() / "temp" / "rofs2.obey");

  const testing::CapturedRun run = testing::RunCapturingOutput(Rofsbuild(), {"../temp/rofs2.obey"},
                                                program.exebat(), "SOURCE_DATE_EPOCH=1700000000");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");
  const auto built = testing::ReadBytes(program.exebat() / "rofs2r.img");
  auto reference = testing::ReadBytes(shared / "case1_rofs2r.img");
  ASSERT_EQ(built.size(), reference.size());
  // Only the time stamp differs, and it is the one asked for, unshifted.
  std::copy(built.begin() + 24, built.begin() + 32, reference.begin() + 24);
  EXPECT_EQ(built, reference);
  EXPECT_EQ(ParseRofsHeader(built, "rofs2r.img").time, SymbianTimeFromUnixSeconds(1700000000));
}

// The obey lines Repack writes for kept attributes and hidden entries.
TEST(RofsbuildTest, BuildsAttributesAndHiddenEntriesAsRepackWritesThem) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  RofsbuildFolder program(shared);
  program.WriteObey(
      "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n"
      "data=\"..\\rofs2\\readme.txt\" \"readme.txt\" attrib=HS exattrib=U\r\n"
      "data=\"..\\rofs2\\empty.dat\" \"empty.dat\" attrib=W\r\n"
      "hide \"sys\\bin\\gone.dll\"\r\n");
  const testing::CapturedRun run =
      testing::RunCapturingOutput(Rofsbuild(), {"../temp/rofs2.obey"}, program.exebat(), "SOURCE_DATE_EPOCH=0");
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto built = testing::ReadBytes(program.exebat() / "rofs2r.img");
  const RofsImage image = ParseRofsImage(built, "rofs2r.img");
  EXPECT_EQ(image.header.max_image_size, 0x10000000u);
  const RofsFile& readme = image.root.files.at(0);
  EXPECT_EQ(readme.attributes, kAttHidden | kAttSystem);
  EXPECT_EQ(readme.extra_attributes, 0xFD);
  EXPECT_EQ(image.root.files.at(1).attributes, 0x00);
  EXPECT_EQ(image.root.files.at(1).extra_attributes, 0xFF);
  const RofsFile& gone = image.root.subdirectories.at(0).subdirectories.at(0).files.at(0);
  EXPECT_EQ(gone.name, u"gone.dll");
  EXPECT_TRUE(gone.hidden());
  EXPECT_EQ(gone.address, kHiddenFileAddress);
  EXPECT_EQ(gone.attributes, kDefaultFileAttributes);
}

struct FailedRun {
  const char* label;
  std::string obey;  // empty: no obey file at all
  std::string environment;
  int exit_code;
  std::string err;
};

TEST(RofsbuildTest, FailuresExplainThemselvesAndWriteNoImage) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const std::string head = "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n";
  const std::vector<FailedRun> cases = {
      {"missing source",
       head + "data=\"..\\rofs2\\readme.txt\" \"readme.txt\"\r\ndata=\"..\\rofs2\\gone.txt\" "
              "\"gone.txt\"\r\n",
       "", 1,
       "rofsbuild: ../temp/rofs2.obey:4: source file \"..\\rofs2\\gone.txt\" does not exist\n"},
      {"duplicate name",
       head + "data=\"..\\rofs2\\readme.txt\" \"readme.txt\"\r\ndata=\"..\\rofs2\\empty.dat\" "
              "\"README.TXT\"\r\n",
       "", 1,
       "rofsbuild: ../temp/rofs2.obey:4: duplicate name \"README.TXT\": line 3 already gives a "
       "file "
       "of that name (names match ignoring ASCII case)\n"},
      {"too small",
       "rofsname=rofs2r.img\r\nrofssize=0x1000\r\ndata=\"..\\rofs2\\random1m.bin\" \"r.bin\"\r\n",
       "", 1,
       "rofsbuild: ../temp/rofs2.obey:2: rofssize 0x1000 is too small: the image needs at least "
       "0x10006C bytes by line 3\n"},
      {"no files", head, "", 1,
       "rofsbuild: ../temp/rofs2.obey: no data=, file= or hide= line: there is nothing to put into "
       "the image\n"},
      {"no obey file", "", "", 1,
       "rofsbuild: Cannot open file \"../temp/rofs2.obey\": no such file\n"},
      // Obey files are UTF-8 on every system: bytes of a code page are
      // refused, not read as some other name.
      {"not UTF-8", head + "data=\"..\\rofs2\\readme.txt\" \"caf\xE9.txt\"\r\n", "", 1,
       "rofsbuild: ../temp/rofs2.obey:3: image path \"caf\\xE9.txt\" is not valid UTF-8\n"},
      {"bad SOURCE_DATE_EPOCH", head + "data=\"..\\rofs2\\readme.txt\" \"readme.txt\"\r\n",
       "SOURCE_DATE_EPOCH=yesterday", 1,
       "rofsbuild: SOURCE_DATE_EPOCH=\"yesterday\" is not a number of seconds since 1970\n"},
  };
  for (const FailedRun& c : cases) {
    SCOPED_TRACE(c.label);
    RofsbuildFolder program(shared);
    if (!c.obey.empty()) program.WriteObey(c.obey);
    const testing::CapturedRun run =
        testing::RunCapturingOutput(Rofsbuild(), {"../temp/rofs2.obey"}, program.exebat(), c.environment);
    EXPECT_EQ(run.exit_code, c.exit_code);
    EXPECT_EQ(run.err, c.err);
    EXPECT_EQ(run.out, "");
    EXPECT_TRUE(fs::is_empty(program.exebat()));
  }
}

// The obey file's own path and the paths and names in it, in any script,
// reach the image whole (on Windows the tool reads the wide command line
// and the UTF-8 obey file, whatever the ANSI code page).
TEST(RofsbuildTest, PathsAndNamesInAnyScript) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  RofsbuildFolder program(shared);
  fs::create_directories(program.root() / "rofs2" / testing::Utf8Path("Папка 文件夹"));
  testing::WriteBytes(program.root() / "rofs2" / testing::Utf8Path("Папка 文件夹/Привет 日本.txt"),
                      testing::ByteVector("hello"));
  testing::WriteBytes(program.root() / "temp" / testing::Utf8Path("清单 список.obey"),
                      testing::ByteVector("rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n"
                                          "data=\"..\\rofs2\\Папка 文件夹\\Привет 日本.txt\" \"sort\\Привет 日本.txt\"\r\n"
                                          "data=\"..\\rofs2\\Grüße Über.txt\" \"Grüße Über.txt\"\r\n"));
  const testing::CapturedRun run =
      testing::RunCapturingOutput(Rofsbuild(), {"../temp/清单 список.obey"}, program.exebat());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  const auto image = testing::ReadBytes(program.exebat() / "rofs2r.img");
  const RofsImage parsed = ParseRofsImage(image, "rofs2r.img");
  ASSERT_EQ(parsed.root.files.size(), 1u);
  EXPECT_EQ(parsed.root.files[0].name, u"Grüße Über.txt");
  ASSERT_EQ(parsed.root.subdirectories.size(), 1u);
  ASSERT_EQ(parsed.root.subdirectories[0].files.size(), 1u);
  EXPECT_EQ(parsed.root.subdirectories[0].files[0].name, u"Привет 日本.txt");
  EXPECT_EQ(parsed.root.subdirectories[0].files[0].size, 5u);
}

TEST(RofsbuildTest, CommandLineUsage) {
  ScratchFolder temp;
  const testing::CapturedRun help = testing::RunCapturingOutput(Rofsbuild(), {"--help"}, temp.root());
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.out.rfind("usage: rofsbuild OBEYFILE\n", 0), 0u);
  const testing::CapturedRun none = testing::RunCapturingOutput(Rofsbuild(), {}, temp.root());
  EXPECT_EQ(none.exit_code, 2);
  EXPECT_EQ(none.err.rfind("usage: rofsbuild OBEYFILE\n", 0), 0u);
  const testing::CapturedRun two = testing::RunCapturingOutput(Rofsbuild(), {"a.obey", "b.obey"}, temp.root());
  EXPECT_EQ(two.exit_code, 2);
}

}  // namespace
}  // namespace larkspur::rofs
