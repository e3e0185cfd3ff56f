#include "fat/fat_writer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "base/byte_order.h"
#include "fat/fat_extract.h"
#include "fat/fat_format.h"
#include "fat/fat_reader.h"
#include "rofs/rofs_errors.h"
#include "testing/fat_oracles.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;
using testing::PatternBytes;
using testing::PutFile;
using testing::RunOracle;

#ifndef _WIN32

// A tree with what a phone's user data holds and what trips writers up.
void MakeSourceTree(const fs::path& source, std::uint32_t cluster_size) {
  PutFile(source, "README.TXT", "plain 8.3 name");
  PutFile(source, "readme2.txt", "lower case");
  PutFile(source, "Long name one.txt", "one");
  PutFile(source, "Long name two.txt", "two");
  PutFile(source, "A name of exactly twenty-six.", "x");  // ends in a dot: refused; replaced below
  fs::remove(source / "A name of exactly twenty-six.");
  PutFile(source, "Thirteen char", "13 units: one long-name entry with no room for its end mark");
  PutFile(source, "Ünïcode ñame – фото.jpeg", PatternBytes(3000, 1));
  PutFile(source, "empty.dat", "");
  PutFile(source, "ONE.BIN", PatternBytes(cluster_size, 2));
  PutFile(source, "Images/Nested/deeper/leaf.txt", PatternBytes(5000, 3));
  PutFile(source, "Images/.hidden", "dot file");
  fs::create_directories(source / "Images" / "empty folder");
  for (int i = 0; i < 40; ++i) {  // a folder of several clusters
    PutFile(source, "Images/many/entry number " + std::to_string(i) + ".txt", std::to_string(i));
  }
}

// An image made by mkfs.fat with something in it already, which the build
// must drop.
std::vector<std::uint8_t> MakeOriginal(const fs::path& folder, int fat_bits, int size_kib,
                                       const std::vector<std::string>& options) {
  const fs::path image = folder / "original.img";
  testing::MakeFatImage(image, fat_bits, size_kib, options);
  PutFile(folder, "old/OLD.TXT", PatternBytes(7000, 9));
  RunOracle("mcopy", {"-s", "-i", image.string(), (folder / "old").string(), "::/"});
  return ReadBytes(image);
}

struct Geometry {
  int fat_bits;
  int size_kib;
  std::vector<std::string> options;
};

class FatWriterOracleTest : public ::testing::TestWithParam<Geometry> {};

TEST_P(FatWriterOracleTest, AWrittenTreeReadsBackThroughMtoolsAndPassesFsck) {
  ScratchFolder temp;
  const auto original = MakeOriginal(temp.root(), GetParam().fat_bits, GetParam().size_kib, GetParam().options);
  const FatGeometry geometry = ParseFatGeometry(original, "original.img");
  const fs::path source = temp.root() / "source";
  MakeSourceTree(source, geometry.layout.cluster_size);

  const std::vector<std::uint8_t> built = BuildFatImage(original, "original.img", source);
  ASSERT_EQ(built.size(), original.size());
  const std::size_t reserved = std::size_t{geometry.boot.reserved_sectors} * geometry.boot.bytes_per_sector;
  EXPECT_TRUE(std::equal(built.begin(), built.begin() + reserved, original.begin()))
      << "the boot sector or the reserved region changed";
  const fs::path image = temp.root() / "built.img";
  WriteBytes(image, built);

  int status = -1;
  const std::string fsck = RunOracle("fsck.fat", {"-n", "-V", image.string()}, true, &status);
  EXPECT_EQ(status, 0) << fsck;
  EXPECT_EQ(fsck.find("differ"), std::string::npos) << fsck;

  const fs::path copied = temp.root() / "mcopy";
  fs::create_directories(copied);
  RunOracle("mcopy", {"-s", "-m", "-i", image.string(), "::/*", copied.string() + "/"});
  EXPECT_EQ(testing::TreeDifference(copied, source), "");

  const std::string listing = RunOracle("mdir", {"-i", image.string(), "::/"});
  EXPECT_NE(listing.find("LONGNA~1 TXT"), std::string::npos) << listing;
  EXPECT_NE(listing.find("LONGNA~2 TXT"), std::string::npos) << listing;
  EXPECT_NE(listing.find("README2  TXT"), std::string::npos) << listing;
  EXPECT_NE(listing.find("Volume in drive : is PHONE"), std::string::npos) << listing;

  const FatVolume volume = ParseFatImage(built, "built.img");
  EXPECT_EQ(volume.free_clusters * std::uint64_t{geometry.layout.cluster_size}, testing::MdirFreeBytes(image));
}

INSTANTIATE_TEST_SUITE_P(Geometries, FatWriterOracleTest,
                         ::testing::Values(Geometry{16, 4096, {"-s", "1"}}, Geometry{16, 8192, {"-f", "1", "-s", "1"}},
                                           Geometry{12, 1024, {}}, Geometry{12, 720, {"-S", "1024", "-s", "2", "-r", "128"}}));

TEST(FatWriterTest, TheSameTreeGivesTheSameBytesAndAnUnpackedTreeRebuildsIdentically) {
  ScratchFolder temp;
  const auto original = MakeOriginal(temp.root(), 16, 8192, {"-s", "2"});
  const fs::path source = temp.root() / "source";
  MakeSourceTree(source, 1024);
  const std::vector<std::uint8_t> built = BuildFatImage(original, "original.img", source);
  EXPECT_EQ(BuildFatImage(original, "original.img", source), built);

  // Unpacked and rebuilt without a change: the same files, and since the
  // unpacked files carry the volume's times, the very same image.
  const fs::path unpacked = temp.root() / "uda";
  ExtractFatImage(built, ParseFatImage(built, "built.img"), "built.img", unpacked);
  EXPECT_EQ(testing::TreeDifference(unpacked, source), "");
  const std::vector<std::uint8_t> rebuilt = BuildFatImage(built, "built.img", unpacked);
  EXPECT_TRUE(rebuilt == built) << "an unchanged tree rebuilt into different bytes";
  const fs::path again = temp.root() / "again";
  ExtractFatImage(rebuilt, ParseFatImage(rebuilt, "rebuilt.img"), "rebuilt.img", again);
  EXPECT_EQ(testing::TreeDifference(again, source), "");
}

TEST(FatWriterTest, MarksTheOriginalSetOnAPathAreKept) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "original.img";
  testing::MakeFatImage(image, 12, 1024);
  PutFile(temp.root(), "old/System/HIDDEN.DAT", "h");
  PutFile(temp.root(), "old/plain.txt", "p");
  RunOracle("mcopy", {"-s", "-i", image.string(), (temp.root() / "old" / "System").string(), "::/"});
  RunOracle("mcopy", {"-i", image.string(), (temp.root() / "old" / "plain.txt").string(), "::/"});
  RunOracle("mattrib", {"-i", image.string(), "+h", "+s", "::/System/HIDDEN.DAT"});
  RunOracle("mattrib", {"-i", image.string(), "+r", "::/plain.txt"});
  RunOracle("mattrib", {"-i", image.string(), "+h", "::/System"});
  const auto original = ReadBytes(image);

  const fs::path source = temp.root() / "source";
  PutFile(source, "system/hidden.dat", "changed");  // another case: the same path on the volume
  PutFile(source, "plain.txt", "p");
  PutFile(source, "new.txt", "n");
  const FatVolume volume = ParseFatImage(BuildFatImage(original, "original.img", source), "built.img");
  ASSERT_EQ(volume.root.folders.size(), 1u);
  EXPECT_EQ(volume.root.folders[0].attributes, kAttDirectory | kAttHidden);
  ASSERT_EQ(volume.root.folders[0].files.size(), 1u);
  EXPECT_EQ(volume.root.folders[0].files[0].attributes, kAttArchive | kAttHidden | kAttSystem);
  ASSERT_EQ(volume.root.files.size(), 2u);
  EXPECT_EQ(volume.root.files[0].name, u"new.txt");
  EXPECT_EQ(volume.root.files[0].attributes, kAttArchive);
  EXPECT_EQ(volume.root.files[1].attributes, kAttArchive | kAttReadOnly);
}

TEST(FatWriterTest, AVolumeFilledToTheLastClusterIsWrittenAndOneByteMoreIsRefused) {
  ScratchFolder temp;
  const auto original = MakeOriginal(temp.root(), 12, 256, {"-s", "1"});
  const FatGeometry geometry = ParseFatGeometry(original, "original.img");
  ASSERT_EQ(geometry.layout.cluster_count, 475u);
  const fs::path source = temp.root() / "source";
  PutFile(source, "full.bin", PatternBytes(475 * 512, 1));
  const auto built = BuildFatImage(original, "original.img", source);
  EXPECT_EQ(ParseFatImage(built, "built.img").free_clusters, 0u);
  WriteBytes(temp.root() / "full.img", built);
  int status = -1;
  const std::string fsck = RunOracle("fsck.fat", {"-n", (temp.root() / "full.img").string()}, true, &status);
  EXPECT_EQ(status, 0) << fsck;

  PutFile(source, "full.bin", PatternBytes(475 * 512 + 1, 1));
  try {
    BuildFatImage(original, "original.img", source);
    ADD_FAILURE() << "an image that does not fit was built";
  } catch (const FatBuildError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot put \"" + source.string() +
                  "\" on the FAT volume: the files and folders need 243712 bytes (476 clusters of 512 bytes), the "
                  "volume has 243200 bytes free (475 clusters)");
  }
}

TEST(FatWriterTest, ClustersMarkedBadStayBadAndUnused) {
  ScratchFolder temp;
  auto original = MakeOriginal(temp.root(), 12, 256, {"-s", "1"});
  original[0x203] = 0xF7;  // cluster 2: 0xFF7
  original[0x204] = (original[0x204] & 0xF0) | 0x0F;
  const fs::path source = temp.root() / "source";
  PutFile(source, "a.bin", PatternBytes(600, 1));
  const auto built = BuildFatImage(original, "original.img", source);
  const FatVolume volume = ParseFatImage(built, "built.img");
  EXPECT_EQ(volume.bad_clusters, 1u);
  ASSERT_EQ(volume.root.files.size(), 1u);
  EXPECT_EQ(volume.root.files[0].first_cluster, 3u);
  EXPECT_EQ(volume.free_clusters, 475u - 1 - 2);
}

TEST(FatWriterTest, ARootFolderWithMoreEntriesThanTheVolumeHoldsIsRefused) {
  ScratchFolder temp;
  const auto original = MakeOriginal(temp.root(), 12, 256, {"-r", "16"});
  const fs::path source = temp.root() / "source";
  for (int i = 0; i < 8; ++i) PutFile(source, "file" + std::to_string(i) + ".txt", "x");  // 2 entries each
  try {
    BuildFatImage(original, "original.img", source);
    ADD_FAILURE() << "a root folder that does not fit was built";
  } catch (const FatBuildError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot put \"" + source.string() +
                                             "\" on the FAT volume: the root folder needs 17 entries, the volume's "
                                             "root holds 16");
  }
}

TEST(FatWriterTest, NamesAndThingsAVolumeCannotCarryAreRefusedNamingThem) {
  ScratchFolder temp;
  const auto original = MakeOriginal(temp.root(), 12, 256, {});
  const struct {
    const char* name;
    const char* reason;
  } cases[] = {
      {"a:b.txt", "the name holds the character ':'"},
      {"what?.txt", "the name holds the character '?'"},
      {"star*.txt", "the name holds the character '*'"},
      {"quote\".txt", "the name holds the character '\"'"},
      {"a<b", "the name holds the character '<'"},
      {"a>b", "the name holds the character '>'"},
      {"pipe|.txt", "the name holds the character '|'"},
      {"back\\slash", "the name holds the character '\\'"},
      {"tab\there", "the name holds a control character"},
      {"CON", "the name is a device name Windows reserves"},
      {"aux.txt", "the name is a device name Windows reserves"},
      {"ends with dot.", "the name ends with a dot or a blank"},
      {"ends with blank ", "the name ends with a dot or a blank"},
      {"bad \xFF utf8", "the name is not UTF-8 text"},
  };
  for (const auto& c : cases) {
    const fs::path source = temp.root() / "source";
    fs::remove_all(source);
    PutFile(source, "fine/ok.txt", "ok");
    const fs::path bad = source / "fine" / c.name;
    WriteBytes(bad, std::vector<std::uint8_t>{'x'});
    try {
      BuildFatImage(original, "original.img", source);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const FatBuildError& error) {
      EXPECT_EQ(std::string(error.what()), "Cannot put \"" + bad.string() + "\" on the FAT volume: " + c.reason);
    }
  }
  const fs::path source = temp.root() / "source";
  fs::remove_all(source);
  PutFile(source, "README.TXT", "x");
  PutFile(source, "Readme.txt", "x");
  fs::create_directory_symlink(".", source / "loop");
  ::mkfifo((source / "pipe").c_str(), 0600);
  const struct {
    std::string name;
    const char* reason;
  } others[] = {
      {"Readme.txt", "its name matches \"README.TXT\" ignoring case, and a FAT folder cannot hold both"},
      {"loop", "it is a symbolic link"},
      {"pipe", "it is neither a regular file nor a folder"},
  };
  for (const auto& c : others) {
    try {
      BuildFatImage(original, "original.img", source);
      ADD_FAILURE() << c.name << " was accepted";
    } catch (const FatBuildError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Cannot put \"" + (source / c.name).string() + "\" on the FAT volume: " + c.reason);
    }
    fs::remove(source / c.name);
  }
  EXPECT_NO_THROW(BuildFatImage(original, "original.img", source));
}

#endif  // _WIN32

// A FAT12 volume of 2048 sectors of 512 bytes made by hand, for hosts
// without mkfs.fat: 1 reserved sector, 2 FATs of 6 sectors, 64 root
// entries, 2031 clusters of one sector.
std::vector<std::uint8_t> HandMadeOriginal() {
  std::vector<std::uint8_t> image(2048 * 512, 0);
  const auto put16 = [&](std::size_t at, std::uint16_t value) { PutLittleEndian16(image.data() + at, value); };
  image[0] = 0xEB;
  image[1] = 0x3C;
  image[2] = 0x90;
  std::copy_n("LARKSPUR", 8, image.begin() + kOemNameOffset);
  put16(kBytesPerSectorOffset, 512);
  image[kSectorsPerClusterOffset] = 1;
  put16(kReservedSectorsOffset, 1);
  image[kFatCountOffset] = 2;
  put16(kRootEntriesOffset, 64);
  put16(kTotalSectors16Offset, 2048);
  image[kMediaOffset] = 0xF8;
  put16(kSectorsPerFatOffset, 6);
  image[kExtendedSignatureOffset] = kExtendedSignature;
  std::copy_n("HAND MADE  ", 11, image.begin() + kBpbLabelOffset);
  for (std::size_t at = 62; at < 510; ++at) image[at] = static_cast<std::uint8_t>(at);  // "boot code"
  put16(kBootSignatureOffset, 0xAA55);
  for (std::uint32_t fat = 0; fat < 2; ++fat) {
    image[512 + fat * 6 * 512] = 0xF8;
    image[513 + fat * 6 * 512] = 0xFF;
    image[514 + fat * 6 * 512] = 0xFF;
  }
  return image;
}

TEST(FatWriterTest, ATreeComesBackThroughTheReaderOnEveryHost) {
  ScratchFolder temp;
  const std::vector<std::uint8_t> original = HandMadeOriginal();
  const fs::path source = temp.root() / "source";
  PutFile(source, "README.TXT", "plain");
  PutFile(source, "A rather long name for a file.text", PatternBytes(700, 1));
  PutFile(source, "lower.txt", "");
  PutFile(source, "Folder/Sub folder/deep.bin", PatternBytes(5000, 2));
  fs::create_directories(source / "Folder" / "Empty");
  const std::vector<std::uint8_t> built = BuildFatImage(original, "hand.img", source);
  ASSERT_EQ(built.size(), original.size());
  EXPECT_TRUE(std::equal(built.begin(), built.begin() + 512, original.begin()));

  const FatVolume volume = ParseFatImage(built, "hand.img");
  EXPECT_EQ(volume.label, "HAND MADE");
  EXPECT_EQ(volume.file_count, 4u);
  EXPECT_EQ(volume.folder_count, 3u);
  // The second FAT is a copy of the first.
  EXPECT_TRUE(std::equal(built.begin() + 512, built.begin() + 512 + 6 * 512, built.begin() + 512 + 6 * 512));
  const fs::path out = temp.root() / "out";
  ExtractFatImage(built, volume, "hand.img", out);
  EXPECT_EQ(testing::TreeDifference(out, source), "");
  EXPECT_EQ(BuildFatImage(built, "hand.img", out), built);
}

TEST(FatWriterTest, AnOriginalThatIsNoVolumeIsRefused) {
  ScratchFolder temp;
  const std::vector<std::uint8_t> original(4096, 0);
  try {
    BuildFatImage(original, "fat16.img", temp.root());
    ADD_FAILURE() << "built from zeros";
  } catch (const rofs::FormatError& error) {
    EXPECT_EQ(std::string(error.what()),
              "fat16.img: FAT boot sector at 0x0: jump 00 00 00 is neither E9 xx xx nor EB xx 90");
  }
}

}  // namespace
}  // namespace larkspur::fat
