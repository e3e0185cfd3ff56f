#include "rofs/obey_build.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "rofs/rofs_errors.h"
#include "rofs/rofs_reader.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

TEST(ObeyBuildTest, BuildsTheReferenceImageFromTheUnpackedTree) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  ScratchFolder temp;
  testing::UnpackTar(testing::ReadTar(testing::ReadBytes(shared / "case1_input_tree.tar")),
                     temp.root());
  const fs::path tool_folder = temp.root() / "exebat";
  fs::create_directory(tool_folder);
  const auto obey_text = testing::ReadBytes(shared / "case1_rofs2.obey");
  const ObeyFile obey =
      ParseObey(std::string_view(reinterpret_cast<const char*>(obey_text.data()), obey_text.size()),
                "case1_rofs2.obey");

  const BuildResult result = BuildImageFromObey(obey, tool_folder, 0x00E33FEFD6DF2200);
  EXPECT_EQ(result.image_path, tool_folder / "rofs2r.img");
  EXPECT_EQ(result.file_count, 210u);
  // With the reference's own time stamp, every byte matches.
  EXPECT_EQ(testing::ReadBytes(result.image_path), testing::ReadBytes(shared / "case1_rofs2r.img"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tool_folder), fs::directory_iterator()), 1);
}

TEST(ObeyBuildTest, TimeLineWinsOverTheDefault) {
  ScratchFolder temp;
  testing::WriteBytes(temp.root() / "a.txt", testing::ByteVector("a"));
  const std::string head = "rofsname=out.img\nrofssize=0x1000\ndata=a.txt a.txt\n";
  for (const bool with_time : {false, true}) {
    const ObeyFile obey =
        ParseObey(head + (with_time ? "time=02/03/2010_04:05:06\n" : ""), "t.obey");
    BuildImageFromObey(obey, temp.root(), 12345);
    const auto bytes = testing::ReadBytes(temp.root() / "out.img");
    EXPECT_EQ(ParseRofsHeader(bytes, "out.img").time, with_time ? 63'435'758'706'000'000 : 12345);
  }
}

struct FailedBuild {
  const char* label;
  std::string data_lines;
  std::string message;
};

TEST(ObeyBuildTest, AFailedBuildLeavesNoImageAndKeepsTheOldOne) {
  const std::vector<FailedBuild> cases = {
      {"missing source", "data=..\\src\\a.txt a.txt\ndata=..\\src\\gone.txt gone.txt\n",
       "f.obey:4: source file \"..\\src\\gone.txt\" does not exist"},
      {"folder as source", "data=..\\src a.txt\n",
       "f.obey:3: source file \"..\\src\" is not a regular file"},
      {"duplicate", "data=../src/a.txt A.TXT\ndata=../src/a.txt a.txt\n",
       "f.obey:4: duplicate name \"a.txt\": line 3 already gives a file of that name (names match "
       "ignoring ASCII case)"},
      {"too large", "data=../src/big.bin big.bin\n",
       "f.obey:2: rofssize 0x1000 is too small: the image needs at least 0x1070 bytes by line 3"},
  };
  for (const FailedBuild& c : cases) {
    SCOPED_TRACE(c.label);
    ScratchFolder temp;
    fs::create_directories(temp.root() / "src");
    fs::create_directories(temp.root() / "exebat");
    testing::WriteBytes(temp.root() / "src" / "a.txt", testing::ByteVector("a"));
    testing::WriteBytes(temp.root() / "src" / "big.bin", std::vector<std::uint8_t>(0x1000, 7));
    testing::WriteBytes(temp.root() / "exebat" / "rofs2r.img", testing::ByteVector("old image"));
    const ObeyFile obey =
        ParseObey("rofsname=rofs2r.img\nrofssize=0x1000\n" + c.data_lines, "f.obey");
    try {
      BuildImageFromObey(obey, temp.root() / "exebat", 0);
      ADD_FAILURE() << "no error";
    } catch (const ObeyError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
    EXPECT_EQ(testing::ReadBytes(temp.root() / "exebat" / "rofs2r.img"),
              testing::ByteVector("old image"));
    EXPECT_FALSE(fs::exists(temp.root() / "exebat" / "rofs2r.img.partial"));
  }
}

TEST(ObeyBuildTest, AnUnwritableOutputIsReportedWithItsPath) {
  ScratchFolder temp;
  testing::WriteBytes(temp.root() / "a.txt", testing::ByteVector("a"));
  const ObeyFile obey =
      ParseObey("rofsname=no/such/folder/x.img\nrofssize=0x1000\ndata=a.txt a.txt\n", "w.obey");
  try {
    BuildImageFromObey(obey, temp.root(), 0);
    ADD_FAILURE() << "no error";
  } catch (const HostFileError& error) {
    const std::string partial = (temp.root() / "no/such/folder/x.img.partial").string();
    EXPECT_EQ(std::string(error.what()).rfind("Cannot create file \"" + partial + "\": ", 0), 0u)
        << error.what();
  }
}

}  // namespace
}  // namespace larkspur::rofs
