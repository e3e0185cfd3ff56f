// A UDA file's FAT image as a folder: Extract unpacks it into uda, Repack
// rebuilds the image from the folder when the folder changed, uses
// fat16.img as it is otherwise, and refuses when both changed. mtools reads
// the results back.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "testing/fat_oracles.h"
#include "testing/firmware_fixture.h"
#include "testing/firmware_read_back.h"
#include "testing/program_folder.h"
#include "testing/tree_snapshot.h"

namespace larkspur {
namespace {

namespace fs = std::filesystem;
using testing::MtoolsPath;
using testing::MakeFatImage;
using testing::RunOracle;
using testing::ProgramFolder;
using testing::Session;

class UdaFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const fs::path image = home_.Path("made.img");
    MakeFatImage(image, 16, 8192, {"-s", "2"});
    testing::PutFile(home_.Path("put"), "Long File Name.txt", "hello phone");
    testing::PutFile(home_.Path("put"), "Images/photo.jpg", testing::PatternBytes(70000, 3));
    RunOracle("mcopy", {"-s", "-i", image.string(), home_.Path("put/Long File Name.txt"), "::/"});
    RunOracle("mcopy", {"-s", "-i", image.string(), home_.Path("put/Images"), "::/"});
    image_ = home_.Read("made.img");
    input_ = testing::MakeFirmware({.uda = true, .prefix = "HEAD"}, image_);
    session_.Open(home_.Write("RM-1.uda.fpsx", input_));
    session_.Extract();
    ASSERT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone) << session_.window.log.back();
  }

  // The FAT image inside the REB- file, written out for mtools.
  std::string RebuiltImage() {
    const std::string image = testing::JoinedPayloads(testing::ReadBackBlocks(
        home_.Read("REB-RM-1.uda.fpsx"), 4, HexToBytes(ProfileForModel(0).UdaSignatureHex), 19));
    return home_.Write("rebuilt.img", image);
  }

  ProgramFolder home_;
  Session session_{home_};
  std::string image_;
  std::string input_;  // the firmware file's bytes
};

TEST_F(UdaFolderTest, ExtractUnpacksTheFilesAndAnUnchangedRepackIsIdentical) {
  EXPECT_EQ(home_.Read("uda/Long File Name.txt"), "hello phone");
  EXPECT_TRUE(home_.Read("uda/Images/photo.jpg") == testing::PatternBytes(70000, 3));
  EXPECT_TRUE(Logged(session_, "uda 文件夹: " + home_.Path("uda")));
  session_.Repack();
  ASSERT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone) << session_.window.log.back();
  EXPECT_TRUE(Logged(session_, "使用 fat16.img (uda 文件夹中没有改动)."));
  const std::string output = home_.Read("REB-RM-1.uda.fpsx");
  EXPECT_TRUE(output == input_) << output.size() << " vs " << input_.size() << ", first difference at "
                                << (std::mismatch(output.begin(), output.end(), input_.begin(), input_.end()).first -
                                    output.begin());
}

TEST_F(UdaFolderTest, AnEditedFolderIsRebuiltIntoAnImageOfTheSameGeometry) {
  home_.Write("uda/Long File Name.txt", "changed on the desk");
  home_.Write("uda/Documents/new note.txt", "added");
  fs::remove(home_.Path("uda/Images/photo.jpg"));
  session_.Repack();
  ASSERT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone) << session_.window.log.back();
  EXPECT_TRUE(Logged(session_, "使用 uda 文件夹: fat16.img 已从 " + home_.Path("uda") + " 重建"));
  const std::string rebuilt = RebuiltImage();
  EXPECT_EQ(home_.Read("rebuilt.img").size(), image_.size());
  EXPECT_EQ(home_.Read("rebuilt.img").substr(0, 512), image_.substr(0, 512)) << "the boot sector is kept";
  EXPECT_EQ(RunOracle("mtype", {"-i", rebuilt, MtoolsPath("Long File Name.txt")}), "changed on the desk");
  EXPECT_EQ(RunOracle("mtype", {"-i", rebuilt, MtoolsPath("Documents/new note.txt")}), "added");
  int status = 0;
  RunOracle("mdir", {"-i", rebuilt, MtoolsPath("Images/photo.jpg")}, true, &status);
  EXPECT_NE(status, 0) << "the deleted file is gone";
  RunOracle("fsck.fat", {"-n", rebuilt});
  // A second Repack finds nothing changed and writes the same file again.
  const std::string first = home_.Read("REB-RM-1.uda.fpsx");
  session_.Repack();
  EXPECT_TRUE(Logged(session_, "使用 fat16.img (uda 文件夹中没有改动)."));
  EXPECT_TRUE(home_.Read("REB-RM-1.uda.fpsx") == first);
}

TEST_F(UdaFolderTest, AnImageEditedWithAnotherToolIsUsedAndBothEditedIsRefused) {
  testing::PutFile(home_.Path("put2"), "EXTRA.TXT", "by mcopy");
  RunOracle("mcopy", {"-i", home_.Path("fat16/fat16.img"), home_.Path("put2/EXTRA.TXT"), "::/"});
  session_.Repack();
  ASSERT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone) << session_.window.log.back();
  EXPECT_TRUE(Logged(session_, "使用 fat16.img (解包后已用其他工具修改)."));
  EXPECT_EQ(RunOracle("mtype", {"-i", RebuiltImage(), "::/EXTRA.TXT"}), "by mcopy");

  home_.Write("uda/also.txt", "and in the folder");
  fs::remove(home_.Path("REB-RM-1.uda.fpsx"));
  session_.Repack();
  EXPECT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_EQ(session_.window.log.back(),
            "错误: uda 文件夹和 fat16.img 都已被修改 (解包后 " + home_.Path("uda") + " 和 " +
                home_.Path("fat16/fat16.img") + " 都有改动; 请只保留其中一个的修改, 或重新解包), 未生成任何文件.");
  EXPECT_FALSE(home_.Exists("REB-RM-1.uda.fpsx"));
}

TEST_F(UdaFolderTest, AFolderThatDoesNotFitIsRefusedAndNothingIsWritten) {
  home_.Write("uda/too big.bin", std::string(9 * 1024 * 1024, 'x'));
  const std::string image_before = home_.Read("fat16/fat16.img");
  session_.Repack();
  EXPECT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kFailed);
  EXPECT_EQ(session_.window.log.back().rfind("错误: 无法从 uda 文件夹重建 fat16.img (", 0), 0u) << session_.window.log.back();
  EXPECT_FALSE(home_.Exists("REB-RM-1.uda.fpsx"));
  EXPECT_TRUE(home_.Read("fat16/fat16.img") == image_before);
}

// What a FAT image holds may keep its files from a folder: a name the folder
// cannot hold, a loop in the FAT, a FAT32 volume. The image is written, no
// folder uda holds another firmware's files (the earlier one is kept), the
// log says why, and an edit put into a new folder uda is refused, never
// dropped for "nothing changed".
TEST_F(UdaFolderTest, AFolderThatCannotBeMadeIsLeftOutAndAnEditIsNeverDropped) {
  const auto fat_offset = [](const std::string& image) {
    return static_cast<std::size_t>(static_cast<unsigned char>(image[14]) | static_cast<unsigned char>(image[15]) << 8) * 512;
  };
  const struct {
    const char* label;
    std::function<std::string()> image;
    const char* reason;  // in the warning
  } cases[] = {
      {"a name the folder cannot hold",
       [&] {
         std::string image = image_;
         // "Long File Name.txt" in its long entry, as UTF-16: "F:le".
         const std::size_t at = image.find(std::string("F\0i\0l\0e\0", 8));
         EXPECT_NE(at, std::string::npos);
         image[at + 2] = ':';
         return image;
       },
       "the name holds the character ':'"},
      {"a damaged FAT",
       [&] {
         std::string image = image_;
         // A chain runs into the first file's cluster 3.
         const std::size_t fat = fat_offset(image);
         image[fat + 2 * 4] = 3, image[fat + 2 * 4 + 1] = 0;
         return image;
       },
       "cross-linked chains"},
      {"a FAT32 volume",
       [&] {
         const fs::path image = home_.Path("fat32.img");
         MakeFatImage(image, 32, 34000);
         return home_.Read("fat32.img");
       },
       "这是 FAT32 卷; 只有 FAT12 和 FAT16 卷能解包到文件夹"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string image = c.image();
    const std::string file = home_.Write("RM-2.uda.fpsx", testing::MakeFirmware({.uda = true}, image));
    fs::remove_all(home_.Path("uda.previous"));
    fs::remove(home_.Path("REB-RM-2.uda.fpsx"));
    const auto earlier = testing::FilesBelow(home_.Path("uda"));
    ASSERT_FALSE(earlier.empty());
    session_.Open(file);
    session_.Extract();
    EXPECT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone);
    EXPECT_TRUE(home_.Read("fat16/fat16.img") == image);
    EXPECT_FALSE(home_.Exists("uda"));
    EXPECT_EQ(testing::FilesBelow(home_.Path("uda.previous")), earlier);
    EXPECT_TRUE(std::any_of(session_.window.log.begin(), session_.window.log.end(), [&](const std::string& line) {
      return line.rfind("警告: 没有生成 uda 文件夹 (", 0) == 0 && line.find(c.reason) != std::string::npos;
    })) << [&] { std::string all; for (const auto& line : session_.window.log) all += line + "\n"; return all; }();
    // The user edits a folder uda of their own making.
    testing::PutFile(home_.Path("uda"), "my edit.txt", "edited");
    session_.Repack();
    EXPECT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kFailed);
    EXPECT_EQ(session_.window.log.back(), "错误: 不知道 " + home_.Path("uda") +
                                              " 是从哪个文件解包的 (这个文件夹不是解包生成的; 请把它移走, 或重新解包), "
                                              "未生成任何文件.");
    EXPECT_FALSE(home_.Exists("REB-RM-2.uda.fpsx"));
    // Without it, fat16.img is what is packed.
    fs::remove_all(home_.Path("uda"));
    session_.Repack();
    EXPECT_EQ(session_.form.LastOutcome(), TForm1::Outcome::kDone);
    EXPECT_TRUE(home_.Read("REB-RM-2.uda.fpsx") == testing::MakeFirmware({.uda = true}, image));
    // The next case starts from a folder again.
    session_.Open(home_.Path("RM-1.uda.fpsx"));
    session_.Extract();
  }
}

}  // namespace
}  // namespace larkspur
