#include "rofs/obey_build.h"

#include <gtest/gtest.h>

#include <algorithm>
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

// Sources spread over several stretches of the image (the unit the readers
// share out), one larger than a stretch and not a multiple of 4, empty
// files and a hidden entry: any number of readers writes the bytes the
// in-memory writer does, and progress rises from 0 to the total.
TEST(ObeyBuildTest, EveryNumberOfReadersBuildsTheSameImage) {
  ScratchFolder temp;
  std::vector<testing::MemoryFile> files;
  std::string obey = "rofsname=out.img\nrofssize=0x10000000\n";
  std::uint64_t total = 0;
  for (int i = 0; i < 240; ++i) {
    const std::size_t size = i == 100 ? (5u << 19) + 3 : (static_cast<std::size_t>(i) * 7919) % 23000;
    const std::string image_path = "d" + std::to_string(i % 7) + "\\F" + std::to_string(i) + ".bin";
    files.push_back({image_path, testing::PatternBytes(size, static_cast<unsigned>(i + 1))});
    const fs::path folder = temp.root() / "src" / ("d" + std::to_string(i % 7));
    fs::create_directories(folder);
    testing::WriteBytes(folder / ("F" + std::to_string(i) + ".bin"), testing::ByteVector(files.back().data));
    obey += "data=src\\" + image_path + " " + image_path + "\n";
    total += size;
  }
  files.push_back({"gone\\x.dll", "", true});
  obey += "hide=gone\\x.dll\n";
  const std::vector<std::uint8_t> expected = testing::BuildInMemory(files);
  const ObeyFile parsed = ParseObey(obey, "r.obey");

  for (const unsigned readers : {1u, 2u, 4u}) {
    SCOPED_TRACE(readers);
    std::vector<std::uint64_t> done;
    const BuildResult result = BuildImageFromObey(
        parsed, temp.root(), 63'435'758'706'000'000,
        [&](std::uint64_t bytes, std::uint64_t all) {
          EXPECT_EQ(all, total);
          done.push_back(bytes);
        },
        readers);
    EXPECT_EQ(testing::ReadBytes(result.image_path), expected);
    ASSERT_FALSE(done.empty());
    EXPECT_EQ(done.front(), 0u);
    EXPECT_EQ(done.back(), total);
    EXPECT_TRUE(std::is_sorted(done.begin(), done.end()));
  }
}

#ifdef __linux__
// A sysfs file states 4096 bytes and gives a few: a source that changed
// size after it was measured. With several readers the failure named is
// still that of the first such line (early in the first stretch, the
// other at the end of the last: either may fail first), and no image is
// left. Several runs, as the readers' order varies from run to run.
TEST(ObeyBuildTest, TheFirstSourceThatChangedIsNamedWhateverTheReaders) {
  ScratchFolder temp;
  const std::string changing = "/sys/devices/system/cpu/online";
  std::string obey = "rofsname=out.img\nrofssize=0x10000000\n";
  for (int i = 0; i < 120; ++i) {
    const std::string name = "f" + std::to_string(i) + ".bin";
    testing::WriteBytes(temp.root() / name, testing::ByteVector(testing::PatternBytes(30000, 7)));
    obey += "data=" + (i == 5 || i == 119 ? changing : name) + " " + name + "\n";
  }
  const ObeyFile parsed = ParseObey(obey, "c.obey");
  for (const unsigned readers : {1u, 4u, 4u, 4u, 4u, 4u}) {
    SCOPED_TRACE(readers);
    try {
      BuildImageFromObey(parsed, temp.root(), 0, {}, readers);
      ADD_FAILURE() << "no error";
    } catch (const ObeyError& error) {
      EXPECT_EQ(std::string(error.what()),
                "c.obey:8: source file \"" + changing + "\" became shorter while the image was written");
    }
    EXPECT_FALSE(fs::exists(temp.root() / "out.img"));
    EXPECT_FALSE(fs::exists(temp.root() / "out.img.partial"));
  }
}
#endif

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
