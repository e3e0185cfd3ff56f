#include "fat/fat_reader.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "fat/fat_extract.h"
#include "fat/fat_format.h"
#include "rofs/rofs_errors.h"
#include "rofs/utf16.h"
#include "testing/fat_oracles.h"
#include "testing/said_in_english.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::MtoolsPath;
using testing::PatternBytes;
using testing::PutFile;
using testing::RunOracle;

// The message a parse of `bytes` ends with, or "" when it succeeds.
std::string ParseError(std::span<const std::uint8_t> bytes) {
  try {
    ParseFatImage(bytes, "uda.img");
  } catch (const rofs::FormatError& error) {
    return error.what();
  }
  return "";
}

// The same for the image read where it lies across payloads: cut into
// pieces of 3 and 509 bytes, so fields and entries run across the joins.
std::string ParseErrorInPieces(std::span<const std::uint8_t> bytes) {
  try {
    ParseFatImage(testing::InPieces(bytes, {3, 509}), "uda.img");
  } catch (const rofs::FormatError& error) {
    return error.what();
  }
  return "";
}

void PutU16(std::vector<std::uint8_t>& bytes, std::uint64_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

#ifndef _WIN32

// What a volume's tree holds, one line per folder and file: name, size,
// attributes, time, cluster and extents.
void ListFolder(const FatFolder& folder, const std::string& path, std::string& out) {
  for (const FatFile& file : folder.files) {
    out += path + rofs::Utf16ToUtf8Lossy(file.name) + " " + std::to_string(file.size) + " a" +
           std::to_string(file.attributes) + " " + FatTimestampText(file.modified) + " c" +
           std::to_string(file.first_cluster);
    for (const Extent& extent : file.extents) out += " " + std::to_string(extent.offset) + "+" + std::to_string(extent.length);
    out += "\n";
  }
  for (const FatFolder& sub : folder.folders) {
    out += path + rofs::Utf16ToUtf8Lossy(sub.name) + "/ " + FatTimestampText(sub.modified) + "\n";
    ListFolder(sub, path + rofs::Utf16ToUtf8Lossy(sub.name) + "/", out);
  }
}

std::string Listing(const FatVolume& volume) {
  std::string out;
  for (const Text& line : DescribeFatVolume(volume)) out += testing::SaidInEnglish(line) + "\n";
  ListFolder(volume.root, "", out);
  return out;
}

const FatFile* FindFile(const FatFolder& folder, std::u16string_view name) {
  for (const FatFile& file : folder.files) {
    if (file.name == name) return &file;
  }
  return nullptr;
}

// Files put into an image by mcopy, from `source` (a folder) into the root.
void CopyInto(const fs::path& image, const fs::path& source) {
  for (const auto& entry : fs::directory_iterator(source)) {
    RunOracle("mcopy", {"-s", "-m", "-i", image.string(), entry.path().string(), "::/"});
  }
}

// Every file and folder under `source` comes back from the volume with its
// bytes, and every file's time is its host time rounded down to 2 seconds.
void ExpectSameTree(const fs::path& source, const fs::path& extracted) {
  EXPECT_EQ(testing::TreeDifference(extracted, source), "");
  for (const auto& entry : fs::recursive_directory_iterator(source)) {
    if (!entry.is_regular_file()) continue;
    const fs::path relative = entry.path().lexically_relative(source);
    const auto host = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(entry.path()));
    const auto back = fs::last_write_time(extracted / relative);
    const auto difference = host - back;
    EXPECT_TRUE(difference >= std::chrono::seconds(0) && difference < std::chrono::seconds(2))
        << relative << " is off by " << std::chrono::duration_cast<std::chrono::seconds>(difference).count() << " s";
  }
}

TEST(FatReaderTest, AFat16VolumeMadeByMtoolsUnpacksToTheSameFiles) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 16, 4096, {"-s", "1"});  // 512-byte clusters
  const fs::path source = temp.root() / "source";
  PutFile(source, "A long file name with spaces.text", "long");
  PutFile(source, "Ünïcode ñame.txt", "unicode");
  PutFile(source, "empty.dat", "");
  PutFile(source, "ONE.BIN", PatternBytes(512, 1));  // exactly one cluster
  PutFile(source, "Data/Nested/deeper/leaf.txt", PatternBytes(1500, 2));
  PutFile(source, "Data/Nested/Second file.jpeg", PatternBytes(4000, 3));
  fs::create_directories(source / "Data" / "empty folder");
  for (int i = 0; i < 40; ++i) {  // a subfolder of several clusters
    PutFile(source, "Data/many/entry number " + std::to_string(i) + ".txt", std::to_string(i));
  }
  CopyInto(image, source);

  const auto bytes = ReadBytes(image);
  const FatVolume volume = ParseFatImage(bytes, "uda.img");
  EXPECT_EQ(volume.geometry.layout.type, FatType::kFat16);
  EXPECT_EQ(volume.label, "PHONE");
  EXPECT_EQ(volume.free_clusters * std::uint64_t{volume.geometry.layout.cluster_size},
            testing::MdirFreeBytes(image));
  const fs::path out = temp.root() / "out" / "uda";
  const FatExtractStats stats = ExtractFatImage(bytes, volume, "uda.img", out);
  EXPECT_EQ(stats.files, 46u);
  EXPECT_EQ(stats.folders, 5u);
  ExpectSameTree(source, out);
  // Read where it lies across payloads, without a copy: the same volume.
  for (const std::vector<std::size_t>& sizes : {std::vector<std::size_t>{1000}, {3, 0x8000}}) {
    EXPECT_EQ(Listing(ParseFatImage(testing::InPieces(bytes, sizes), "uda.img")), Listing(volume))
        << "pieces of " << sizes[0];
  }
}

// Every file is created under its own name: a name beside it that a
// temporary copy would take ("x.partial") can be a file of the volume too,
// written before it.
TEST(FatReaderTest, AFileNamedLikeAnotherFilesTemporaryCopySurvives) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 16, 4096, {"-s", "1"});
  const fs::path source = temp.root() / "source";
  PutFile(source, "x.partial", "the file named like a temporary copy");
  PutFile(source, "x", "the other file");
  for (const char* name : {"x.partial", "x"}) {
    RunOracle("mcopy", {"-m", "-i", image.string(), (source / name).string(), "::/"});
  }
  const auto bytes = ReadBytes(image);
  const FatVolume volume = ParseFatImage(bytes, "uda.img");
  ExtractFatImage(bytes, volume, "uda.img", temp.root() / "out");
  ExpectSameTree(source, temp.root() / "out");
}

TEST(FatReaderTest, AFragmentedFileOnAFat12VolumeReadsBackWhole) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 12, 1024);
  const fs::path source = temp.root() / "source";
  PutFile(source, "first.bin", PatternBytes(3000, 1));
  PutFile(source, "hole.bin", PatternBytes(5000, 2));
  PutFile(source, "third.bin", PatternBytes(3000, 3));
  for (const char* name : {"first.bin", "hole.bin", "third.bin"}) {
    RunOracle("mcopy", {"-m", "-i", image.string(), (source / name).string(), "::/"});
  }
  RunOracle("mdel", {"-i", image.string(), MtoolsPath("hole.bin")});
  fs::remove(source / "hole.bin");
  PutFile(source, "big.bin", PatternBytes(20000, 4));
  RunOracle("mcopy", {"-m", "-i", image.string(), (source / "big.bin").string(), "::/"});

  const auto bytes = ReadBytes(image);
  const FatVolume volume = ParseFatImage(bytes, "uda.img");
  EXPECT_EQ(volume.geometry.layout.type, FatType::kFat12);
  const FatFile* big = FindFile(volume.root, u"big.bin");
  ASSERT_NE(big, nullptr);
  EXPECT_GT(big->extents.size(), 1u) << "mcopy did not fragment the file; the test proves nothing";
  ExtractFatImage(bytes, volume, "uda.img", temp.root() / "out");
  ExpectSameTree(source, temp.root() / "out");
}

TEST(FatReaderTest, AFullVolumeReadsBack) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 12, 256);
  const fs::path source = temp.root() / "source";
  PutFile(source, "fill.bin", PatternBytes(testing::MdirFreeBytes(image), 5));
  CopyInto(image, source);
  EXPECT_EQ(testing::MdirFreeBytes(image), 0u);

  const auto bytes = ReadBytes(image);
  const FatVolume volume = ParseFatImage(bytes, "uda.img");
  EXPECT_EQ(volume.free_clusters, 0u);
  ExtractFatImage(bytes, volume, "uda.img", temp.root() / "out");
  ExpectSameTree(source, temp.root() / "out");
}

// The volume's description, said in English, a line each.
std::string Described(const FatVolume& volume) {
  std::string text;
  for (const Text& line : DescribeFatVolume(volume)) text += testing::SaidInEnglish(line) + "\n";
  return text;
}

TEST(FatReaderTest, DescribesTheVolume) {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 12, 1024, {"-s", "1"});
  PutFile(temp.root(), "a.txt", PatternBytes(5000, 1));
  RunOracle("mcopy", {"-i", image.string(), (temp.root() / "a.txt").string(), "::/"});
  RunOracle("mmd", {"-i", image.string(), "::/folder"});
  auto bytes = ReadBytes(image);
  EXPECT_EQ(Described(ParseFatImage(bytes, "uda.img")),
            "file system:    FAT12, 2003 clusters of 512 bytes, 2 FATs\n"
            "volume label:   \"PHONE\", serial 1A2B-3C4D\n"
            "space:          1025536 bytes, 5632 used, 1019904 free\n"
            "folders:        1 below the root\n"
            "files:          1\n");
  EXPECT_EQ(testing::MdirFreeBytes(image), 1019904u);
  // A second FAT that lost a write shows in the first line.
  const FatGeometry geometry = ParseFatGeometry(bytes, "uda.img");
  bytes[geometry.layout.fat_offset + geometry.layout.fat_size + 3] ^= 0xFF;
  const std::string text = Described(ParseFatImage(bytes, "uda.img"));
  EXPECT_EQ(text.substr(0, text.find('\n')),
            "file system:    FAT12, 2003 clusters of 512 bytes, 2 FATs (the copies differ)");
}

// A FAT12 volume made by mkfs.fat holding "LONGNAME.TXT" under a long name,
// "PLAIN.TXT" with a short name only, and a folder with a file in it: the
// base of the damage cases below.
struct SmallVolume {
  std::vector<std::uint8_t> bytes;
  FatVolume volume;
  const FatFile& plain() const { return *FindFile(volume.root, u"PLAIN.TXT"); }
  const FatFile& long_named() const { return *FindFile(volume.root, u"A long name.txt"); }
};

SmallVolume MakeSmallVolume() {
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 12, 256, {"-s", "1"});
  PutFile(temp.root(), "PLAIN.TXT", PatternBytes(1500, 1));
  PutFile(temp.root(), "A long name.txt", "x");
  PutFile(temp.root(), "Folder/INNER.TXT", "inner");
  for (const char* name : {"PLAIN.TXT", "A long name.txt", "Folder"}) {
    RunOracle("mcopy", {"-s", "-i", image.string(), (temp.root() / name).string(), "::/"});
  }
  SmallVolume small;
  small.bytes = ReadBytes(image);
  small.volume = ParseFatImage(small.bytes, "uda.img");
  return small;
}

TEST(FatReaderTest, TheSmallVolumeIsWhatTheDamageCasesExpect) {
  const SmallVolume small = MakeSmallVolume();
  const VolumeLayout& layout = small.volume.geometry.layout;
  EXPECT_EQ(layout.fat_offset, 0x200u);
  EXPECT_EQ(layout.root_offset, 0xA00u);
  EXPECT_EQ(layout.data_offset, 0x4A00u);
  EXPECT_EQ(layout.cluster_size, 512u);
  EXPECT_EQ(small.plain().entry_offset, 0xA20u);
  EXPECT_EQ(small.plain().first_cluster, 2u);
  EXPECT_EQ(small.long_named().entry_offset, 0xA80u);
  ASSERT_EQ(small.volume.root.folders.size(), 1u);
  EXPECT_EQ(small.volume.root.folders[0].entry_offset, 0xAC0u);
  EXPECT_EQ(FileBytes(small.bytes, small.plain()), PatternBytes(1500, 1));
}

// Sets FAT entry `cluster` of the first FAT of a FAT12 volume.
void SetFat12(std::vector<std::uint8_t>& bytes, std::uint32_t cluster, std::uint32_t value) {
  const std::uint64_t at = 0x200 + cluster + cluster / 2;
  std::uint16_t pair = static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
  pair = (cluster & 1) ? static_cast<std::uint16_t>((pair & 0x000F) | (value << 4))
                       : static_cast<std::uint16_t>((pair & 0xF000) | value);
  PutU16(bytes, at, pair);
}

TEST(FatReaderTest, DamagedVolumesAreRefusedNamingTheEntryAndTheFault) {
  const SmallVolume small = MakeSmallVolume();
  struct Case {
    const char* label;
    void (*damage)(std::vector<std::uint8_t>&);
    const char* message;
  };
  const Case cases[] = {
      {"chain through a free cluster", [](auto& b) { SetFat12(b, 3, 0); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): cluster 3 of the chain is marked free in the FAT"},
      {"looped chain", [](auto& b) { SetFat12(b, 4, 2); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): the cluster chain comes back to cluster 2 (a loop in "
       "the FAT)"},
      {"chain leaves the volume", [](auto& b) { SetFat12(b, 3, 0xF00); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): cluster 3 of the chain points to 0xF00, outside the "
       "volume's clusters 2..476"},
      {"bad cluster in a chain", [](auto& b) { SetFat12(b, 3, 0xFF7); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): cluster 3 of the chain is marked bad in the FAT"},
      {"chain shorter than the size", [](auto& b) { SetFat12(b, 3, 0xFFF); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): the cluster chain of 2 clusters holds 1024 bytes, "
       "fewer than the file size 1500"},
      {"first cluster outside", [](auto& b) { PutU16(b, 0xA20 + kEntryClusterOffset, 477); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): first cluster 477 lies outside the volume's clusters "
       "2..476"},
      {"cross-linked chains", [](auto& b) { PutU16(b, 0xA80 + kEntryClusterOffset, 3); },
       "uda.img: FAT directory entry at 0xA80 (\"A long name.txt\"): cluster 3 already belongs to the entry at 0xA20 "
       "(cross-linked chains)"},
      {"size without a cluster", [](auto& b) { PutU16(b, 0xA20 + kEntryClusterOffset, 0); },
       "uda.img: FAT directory entry at 0xA20 (\"PLAIN.TXT\"): size 1500 but no first cluster"},
      {"folder that contains itself",
       [](auto& b) {
         // The folder's first file entry becomes a folder entry pointing back to the folder's cluster.
         const std::uint16_t folder_cluster = static_cast<std::uint16_t>(b[0xAC0 + 26] | (b[0xAC0 + 27] << 8));
         const std::uint64_t inner = 0x4A00 + std::uint64_t{folder_cluster - 2u} * 512 + 2 * 32;
         b[inner + kEntryAttributesOffset] = kAttDirectory;
         PutU16(b, inner + kEntryClusterOffset, folder_cluster);
       },
       "uda.img: FAT directory entry at 0x5240 (\"INNER.TXT\"): cluster 6 already belongs to the entry at 0xAC0 "
       "(cross-linked chains)"},
      {"reserved device name", [](auto& b) { std::copy_n("CON     TXT", 11, b.begin() + 0xA20); },
       "uda.img: FAT directory entry at 0xA20 (\"CON.TXT\"): the name cannot be extracted: the name is a device "
       "name Windows reserves"},
      {"character a host refuses", [](auto& b) { std::copy_n("PL*IN   TXT", 11, b.begin() + 0xA20); },
       "uda.img: FAT directory entry at 0xA20 (\"PL*IN.TXT\"): the name cannot be extracted: the name holds the "
       "character '*'"},
      {"names equal ignoring case", [](auto& b) { std::copy_n("FOLDER     ", 11, b.begin() + 0xA20); },
       "uda.img: FAT directory entry at 0xAC0 (\"Folder\"): the name repeats the name of the entry at 0xA20 in the "
       "same folder (names match ignoring case)"},
      {"short name of an unknown code page", [](auto& b) { b[0xA21] = 0x81; },
       "uda.img: FAT directory entry at 0xA20: short name \"P\xEF\xBF\xBD" "AIN.TXT\" "
       "holds the byte 0x81 of an unknown code page and has no long name"},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = small.bytes;
    c.damage(bytes);
    EXPECT_EQ(ParseError(bytes), c.message) << c.label;
    EXPECT_EQ(ParseErrorInPieces(bytes), c.message) << c.label << ", in pieces";
  }
}

TEST(FatReaderTest, ABrokenLongNameFallsBackToTheShortName) {
  const SmallVolume small = MakeSmallVolume();
  std::vector<std::uint8_t> bytes = small.bytes;
  const std::uint64_t long_entry = small.long_named().entry_offset - kDirEntrySize;
  bytes[long_entry + kLfnChecksumOffset] ^= 1;
  const FatVolume volume = ParseFatImage(bytes, "uda.img");
  EXPECT_EQ(FindFile(volume.root, u"A long name.txt"), nullptr);
  EXPECT_NE(FindFile(volume.root, u"ALONGN~1.TXT"), nullptr);
}

TEST(FatReaderTest, ANameRefusedByTheReaderLeavesNothingBehind) {
  const SmallVolume small = MakeSmallVolume();
  std::vector<std::uint8_t> bytes = small.bytes;
  std::copy_n("NUL        ", 11, bytes.begin() + 0xA20);
  ScratchFolder temp;
  EXPECT_THROW(
      {
        const FatVolume volume = ParseFatImage(bytes, "uda.img");
        ExtractFatImage(bytes, volume, "uda.img", temp.root() / "out");
      },
      rofs::FormatError);
  EXPECT_FALSE(fs::exists(temp.root() / "out"));
}

TEST(FatReaderTest, ExtractionNeverWritesThroughASymbolicLink) {
  const SmallVolume small = MakeSmallVolume();
  ScratchFolder temp;
  fs::create_directories(temp.root() / "out");
  fs::create_directories(temp.root() / "elsewhere");
  fs::create_directory_symlink("../elsewhere", temp.root() / "out" / "Folder");
  try {
    ExtractFatImage(small.bytes, small.volume, "uda.img", temp.root() / "out");
    ADD_FAILURE() << "the link was written through";
  } catch (const rofs::HostFileError& error) {
    EXPECT_EQ(std::string(error.what()), "Refusing to write through the symbolic link \"" +
                                             (temp.root() / "out" / "Folder").string() +
                                             "\": it stands where the volume has a folder");
  }
  EXPECT_TRUE(fs::is_empty(temp.root() / "elsewhere"));
}

TEST(FatReaderTest, EveryCutOfAVolumeIsRefused) {
  // As small as mkfs.fat goes: 96 sectors, a root of one sector.
  ScratchFolder temp;
  const fs::path image = temp.root() / "uda.img";
  testing::MakeFatImage(image, 12, 48, {"-s", "1", "-r", "16"});
  PutFile(temp.root(), "A long name.txt", PatternBytes(1000, 1));
  PutFile(temp.root(), "Folder/INNER.TXT", "inner");
  for (const char* name : {"A long name.txt", "Folder"}) {
    RunOracle("mcopy", {"-s", "-i", image.string(), (temp.root() / name).string(), "::/"});
  }
  const auto bytes = ReadBytes(image);
  ASSERT_EQ(bytes.size(), 96u * 512);
  ASSERT_EQ(ParseFatImage(bytes, "uda.img").file_count, 2u);
  for (std::size_t size = 0; size < bytes.size(); ++size) {
    const std::string error = ParseError(std::span(bytes).first(size));
    if (size < 512) {
      ASSERT_EQ(error, "uda.img: the file holds " + std::to_string(size) +
                           " bytes, fewer than the 512-byte FAT boot sector");
    } else {
      ASSERT_EQ(error, "uda.img: FAT boot sector at 0x13: the volume of 96 sectors (0xC000 bytes) is larger "
                       "than the file (" + HexNumber(size) + " bytes); the image is cut short");
    }
  }
}

#endif  // _WIN32

// A minimal FAT12 boot sector of 512-byte sectors, good enough for the
// geometry checks.
std::vector<std::uint8_t> BootSectorImage() {
  std::vector<std::uint8_t> bytes(64 * 512, 0);
  bytes[0] = 0xEB;
  bytes[1] = 0x3C;
  bytes[2] = 0x90;
  PutU16(bytes, kBytesPerSectorOffset, 512);
  bytes[kSectorsPerClusterOffset] = 1;
  PutU16(bytes, kReservedSectorsOffset, 1);
  bytes[kFatCountOffset] = 2;
  PutU16(bytes, kRootEntriesOffset, 16);
  PutU16(bytes, kTotalSectors16Offset, 64);
  bytes[kMediaOffset] = 0xF8;
  PutU16(bytes, kSectorsPerFatOffset, 1);
  PutU16(bytes, kBootSignatureOffset, 0xAA55);
  bytes[0x200] = 0xF8;
  bytes[0x201] = 0xFF;
  bytes[0x202] = 0xFF;
  return bytes;
}

TEST(FatReaderTest, BootSectorFieldsAreChecked) {
  ASSERT_EQ(ParseError(BootSectorImage()), "");
  struct Case {
    std::uint32_t offset;
    std::vector<std::uint8_t> value;
    const char* message;
  };
  const Case cases[] = {
      {0, {0xE8}, "uda.img: FAT boot sector at 0x0: jump E8 3C 90 is neither E9 xx xx nor EB xx 90"},
      {2, {0x00}, "uda.img: FAT boot sector at 0x0: jump EB 3C 00 is neither E9 xx xx nor EB xx 90"},
      {510, {0x55, 0x55}, "uda.img: FAT boot sector at 0x1FE: signature 55 55 is not 55 AA"},
      {11, {0x01, 0x02}, "uda.img: FAT boot sector at 0xB: bytes per sector 513 is not 512, 1024, 2048 or 4096"},
      {11, {0x00, 0x20}, "uda.img: FAT boot sector at 0xB: bytes per sector 8192 is not 512, 1024, 2048 or 4096"},
      {13, {3}, "uda.img: FAT boot sector at 0xD: sectors per cluster 3 is not a power of two"},
      {13, {0}, "uda.img: FAT boot sector at 0xD: sectors per cluster 0 is not a power of two"},
      {14, {0, 0}, "uda.img: FAT boot sector at 0xE: reserved sectors 0; the boot sector needs one"},
      {16, {0}, "uda.img: FAT boot sector at 0x10: FAT count 0"},
      {17, {0, 0}, "uda.img: FAT boot sector at 0x11: root entries 0; FAT12 and FAT16 keep a root folder there"},
      {17, {24, 0},
       "uda.img: FAT boot sector at 0x11: root entries 24 do not fill whole sectors of 512 bytes, so where the data "
       "region starts is in doubt"},
      {22, {0, 0},
       "uda.img: FAT boot sector at 0x16: sectors per FAT 0 (a FAT32 volume, which this reader does not take)"},
      {19, {0, 0}, "uda.img: FAT boot sector at 0x20: total sectors 0"},
      {19, {65, 0},
       "uda.img: FAT boot sector at 0x13: the volume of 65 sectors (0x8200 bytes) is larger than the file (0x8000 "
       "bytes); the image is cut short"},
      {19, {4, 0},
       "uda.img: FAT boot sector at 0x13: total sectors 4 leave no data region after the FATs and the root folder "
       "(data at 0x800)"},
      {16, {62},
       "uda.img: FAT boot sector at 0x13: total sectors 64 leave no data region after the FATs and the root folder "
       "(data at 0x8000)"},
      {22, {1, 0}, ""},
  };
  for (const Case& c : cases) {
    std::vector<std::uint8_t> bytes = BootSectorImage();
    std::copy(c.value.begin(), c.value.end(), bytes.begin() + c.offset);
    EXPECT_EQ(ParseError(bytes), c.message) << "offset " << c.offset;
    EXPECT_EQ(ParseErrorInPieces(bytes), c.message) << "offset " << c.offset << ", in pieces";
  }
}

TEST(FatReaderTest, AFatTooSmallForItsClustersIsRefused) {
  // 8192 sectors of 512 bytes, one per cluster: 1 reserved, 2 FATs of 31
  // sectors and 1 root sector leave 8128 clusters, a FAT16 volume whose
  // 8130 entries need 16260 bytes; with FATs of 32 sectors they fit.
  std::vector<std::uint8_t> bytes = BootSectorImage();
  bytes.resize(8192 * 512);
  PutU16(bytes, kTotalSectors16Offset, 8192);
  PutU16(bytes, kSectorsPerFatOffset, 31);
  EXPECT_EQ(ParseError(bytes),
            "uda.img: FAT boot sector at 0x16: sectors per FAT 31 hold 15872 bytes, fewer than the 16260 that FAT16 "
            "entries for 8128 clusters take");
  PutU16(bytes, kSectorsPerFatOffset, 32);
  EXPECT_EQ(ParseError(bytes), "");
}

}  // namespace
}  // namespace larkspur::fat
