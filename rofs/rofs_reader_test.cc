#include "rofs/rofs_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "extract/carve.h"
#include "format/hex_text.h"
#include "rofs/rofs_errors.h"
#include "rofs/utf16.h"
#include "testing/rofs_images.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

// The image every damage case starts from. Its layout:
//   0x30  root block (struct 48): entry "sub" at 0x3C; file block 0xBC (40)
//   0x68  "sub" block (struct 54): entry "deeper" at 0x74; file block 0xE4
//   0xA8  "deeper" block (struct 12); file block 0x10C
//   0xBC  a.txt entry, 0xE4 b.txt entry, 0x10C c.bin entry
//   0x134 a.txt data (5), 0x13C b.txt (6), 0x144 c.bin (20); image 0x158
std::vector<std::uint8_t> BaseImage() {
  return testing::BuildInMemory(
      {{"a.txt", "hello"}, {"sub\\b.txt", "world!"}, {"sub\\deeper\\c.bin", std::string(20, 'c')}});
}

void Put8(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint8_t value) {
  bytes[at] = value;
}
void Put16(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}
void Put32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

TEST(RofsReaderTest, ReadsTheBaseImage) {
  const auto bytes = BaseImage();
  const RofsImage image = ParseRofsImage(bytes, "base.img");
  EXPECT_EQ(image.directory_count, 3u);
  EXPECT_EQ(image.file_count, 3u);
  const RofsDirectory& deeper = image.root.subdirectories.at(0).subdirectories.at(0);
  EXPECT_EQ(deeper.name, u"deeper");
  EXPECT_EQ(deeper.block_offset, 0xA8u);
  const auto data = FileData(bytes, deeper.files.at(0));
  EXPECT_EQ(std::string(data.begin(), data.end()), std::string(20, 'c'));
}

struct Damage {
  const char* label;
  std::function<void(std::vector<std::uint8_t>&)> apply;
  const char* message;
};

TEST(RofsReaderTest, EachDamageGivesItsOwnError) {
  using Bytes = std::vector<std::uint8_t>;
  const std::vector<Damage> cases = {
      {"bad magic", [](Bytes& b) { b[3] = 'Z'; },
       "ROFS header at 0x0: identifier 52 4F 46 5A is not \"ROFS\" (52 4F 46 53)"},
      {"extension image", [](Bytes& b) { b[3] = 'x'; },
       "ROFS header at 0x0: an extension image (identifier \"ROFx\") cannot be read on its own: "
       "it extends a core ROFS image and needs that core image in front of it (its header does "
       "not tell the size of the core image)"},
      {"bad version", [](Bytes& b) { Put16(b, 6, 0x0300); },
       "ROFS header at 0x6: format version 0x300 is not 0x200"},
      {"image size past the file", [](Bytes& b) { Put32(b, 36, 0x159); },
       "ROFS header at 0x24: image size 0x159 is larger than the file (0x158 bytes); the image "
       "is cut short"},
      {"tree inside the header", [](Bytes& b) { Put32(b, 8, 0x10); },
       "ROFS header at 0x8: directory tree offset 0x10 lies inside the 48-byte header"},
      {"tree past the end", [](Bytes& b) { Put32(b, 12, 0x10000); },
       "ROFS header at 0x8: directory tree 0x30..0x10030 runs past the image size 0x158"},
      {"tree size wraps", [](Bytes& b) { Put32(b, 12, 0xFFFFFFF0); },
       "ROFS header at 0x8: directory tree 0x30..0x100000020 runs past the image size 0x158"},
      {"empty file-entry region", [](Bytes& b) { Put32(b, 20, 0); },
       "ROFS header at 0x14: file-entry region size is 0"},
      {"regions overlap", [](Bytes& b) { Put32(b, 16, 0x40); },
       "ROFS header at 0x10: file-entry region 0x40..0xB8 overlaps the directory tree 0x30..0xBC"},
      {"zero entry size", [](Bytes& b) { Put16(b, 0x3C, 0); },
       "ROFS entry at 0x3C: entry size 0 is smaller than the 30-byte entry head"},
      {"entry past its block", [](Bytes& b) { Put16(b, 0x3C, 0x100); },
       "ROFS directory at 0x30: entry at 0x3C of 256 bytes runs past its block (ends at 0x60)"},
      {"name length past the entry", [](Bytes& b) { Put8(b, 0x3C + 29, 200); },
       "ROFS entry at 0x3C: name of 200 units at +30 runs past the entry (size 36)"},
      {"name offset inside the head", [](Bytes& b) { Put8(b, 0x3C + 18, 4); },
       "ROFS entry at 0x3C: name offset 4 points into the 30-byte entry head"},
      {"directory loop to the root", [](Bytes& b) { Put32(b, 0x74 + 24, 0x30); },
       "ROFS entry at 0x74 (\"deeper\"): directory block 0x30 is reached a second time "
       "(directory loop)"},
      {"directory that contains itself", [](Bytes& b) { Put32(b, 0x74 + 24, 0x68); },
       "ROFS entry at 0x74 (\"deeper\"): directory block 0x68 is reached a second time "
       "(directory loop)"},
      {"subdirectory outside the tree", [](Bytes& b) { Put32(b, 0x3C + 24, 0xBC); },
       "ROFS entry at 0x3C (\"sub\"): directory block address 0xBC is not an aligned block "
       "inside the directory tree 0x30..0xBC"},
      {"subdirectory block misaligned", [](Bytes& b) { Put32(b, 0x3C + 24, 0x6A); },
       "ROFS entry at 0x3C (\"sub\"): directory block address 0x6A is not an aligned block "
       "inside the directory tree 0x30..0xBC"},
      {"subdirectory entry without the directory bit", [](Bytes& b) { Put8(b, 0x3C + 19, 0x01); },
       "ROFS entry at 0x3C (\"sub\"): a subdirectory entry without the directory attribute "
       "(attributes 0x1)"},
      {"file entry with the directory bit", [](Bytes& b) { Put8(b, 0xBC + 19, 0x11); },
       "ROFS entry at 0xBC (\"a.txt\"): a file entry with the directory attribute (attributes "
       "0x11)"},
      {"struct size below the block head", [](Bytes& b) { Put16(b, 0x30, 4); },
       "ROFS directory at 0x30: struct size 4 is smaller than the 12-byte block head"},
      {"struct size past the tree", [](Bytes& b) { Put16(b, 0x30, 0xFFFF); },
       "ROFS directory at 0x30: struct size 65535 runs past the directory tree (ends at 0xBC)"},
      {"first entry offset misaligned", [](Bytes& b) { Put8(b, 0x33, 13); },
       "ROFS directory at 0x30: first entry offset 13 is not a 4-byte aligned offset from 12 to "
       "the struct size 48"},
      {"file block outside its region", [](Bytes& b) { Put32(b, 0x34, 0x40); },
       "ROFS directory at 0x30: file block 0x40..0x68 is not an aligned part of the file-entry "
       "region 0xBC..0x134"},
      {"file block size past its region", [](Bytes& b) { Put32(b, 0xA8 + 8, 0x100); },
       "ROFS directory at 0xA8: file block 0x10C..0x20C is not an aligned part of the file-entry "
       "region 0xBC..0x134"},
      {"file block size without a block", [](Bytes& b) { Put32(b, 0x34, 0); },
       "ROFS directory at 0x30: file block size 0x28 without a file block"},
      {"file entry past its block", [](Bytes& b) { Put32(b, 0x38, 36); },
       "ROFS file block at 0xBC: entry at 0xBC of 40 bytes runs past its block (ends at 0xE0)"},
      {"file data past the image", [](Bytes& b) { Put32(b, 0xBC + 20, 0x100); },
       "ROFS entry at 0xBC (\"a.txt\"): file data 0x134..0x234 lies outside the data region "
       "0x134..0x158"},
      {"file data inside the tree", [](Bytes& b) { Put32(b, 0xBC + 24, 0x30); },
       "ROFS entry at 0xBC (\"a.txt\"): file data 0x30..0x35 lies outside the data region "
       "0x134..0x158"},
      {"file data address wraps", [](Bytes& b) { Put32(b, 0xBC + 24, 0xFFFFFFFE); },
       "ROFS entry at 0xBC (\"a.txt\"): file data 0xFFFFFFFE..0x100000003 lies outside the data "
       "region 0x134..0x158"},
  };
  for (const Damage& damage : cases) {
    SCOPED_TRACE(damage.label);
    auto bytes = BaseImage();
    damage.apply(bytes);
    try {
      ParseRofsImage(bytes, "bad.img");
      ADD_FAILURE() << "no error";
    } catch (const FormatError& error) {
      EXPECT_EQ(std::string(error.what()), std::string("bad.img: ") + damage.message);
    }
    // The same image where it lies across the payloads of a firmware file:
    // every field may run across a join, and the same error comes out.
    for (const std::vector<std::size_t>& sizes : {std::vector<std::size_t>{1}, {3, 5}}) {
      try {
        ParseRofsImage(testing::InPieces(bytes, sizes), "bad.img");
        ADD_FAILURE() << "no error in pieces of " << sizes[0];
      } catch (const FormatError& error) {
        EXPECT_EQ(std::string(error.what()), std::string("bad.img: ") + damage.message) << "pieces of " << sizes[0];
      }
    }
  }
}

TEST(RofsReaderTest, EveryShorterLengthIsRefused) {
  const auto full = BaseImage();
  for (std::size_t length = 0; length < full.size(); ++length) {
    SCOPED_TRACE("length " + std::to_string(length));
    std::vector<std::uint8_t> cut(full.begin(), full.begin() + length);
    EXPECT_THROW(ParseRofsImage(cut, "cut.img"), FormatError);
    // The same, with a header that agrees with the cut: the deeper checks
    // must catch it instead of the image-size check.
    if (length >= kHeaderSize) {
      Put32(cut, kHeaderImageSizeOffset, static_cast<std::uint32_t>(length));
      EXPECT_THROW(ParseRofsImage(cut, "cut.img"), FormatError);
    }
  }
  const std::vector<std::uint8_t> short_file(20, 0);
  try {
    ParseRofsImage(short_file, "tiny.img");
    ADD_FAILURE() << "no error";
  } catch (const FormatError& error) {
    EXPECT_EQ(std::string(error.what()),
              "tiny.img: the file holds 20 bytes, fewer than the 48-byte ROFS header");
  }
}

TEST(RofsReaderTest, ReferenceImagesCutShortAreRefused) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  for (const char* name : {"case1_bad_trunc_0x200.img", "case1_bad_trunc_0x1000.img"}) {
    SCOPED_TRACE(name);
    const auto bytes = testing::ReadBytes(shared / name);
    try {
      ParseRofsImage(bytes, name);
      ADD_FAILURE() << "no error";
    } catch (const FormatError& error) {
      EXPECT_EQ(std::string(error.what()),
                std::string(name) + ": ROFS header at 0x24: image size 0x105988 is larger than " +
                    "the file (" + HexNumber(bytes.size()) + " bytes); the image is cut short");
    }
  }
}

TEST(RofsReaderTest, ReadsTheReferenceImage) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto bytes = testing::ReadBytes(shared / "case1_rofs2r.img");
  const RofsImage image = ParseRofsImage(bytes, "case1_rofs2r.img");
  EXPECT_EQ(image.directory_count, 6u);
  EXPECT_EQ(image.file_count, 210u);
  EXPECT_EQ(image.header.time, 0x00E33FEFD6DF2200);
  EXPECT_EQ(image.root.files.at(1).name, u"Grüße Über.txt");
  // The empty file shares its address with the next one.
  EXPECT_EQ(image.root.files.at(2).address, 0x2AECu);
  EXPECT_EQ(image.root.files.at(3).address, 0x2AECu);
}

// A chain of `depth` folders named "d" below the root and no file, laid out
// by hand: the writer refuses to nest deeper than the reader reads.
std::vector<std::uint8_t> FolderChain(std::uint32_t depth) {
  constexpr std::uint32_t kBlock = kDirBlockFixedSize + EntrySize(1);  // 44: a multiple of 4
  const std::uint32_t tree_size = depth * kBlock + kDirBlockFixedSize;
  const std::uint32_t entries = kHeaderSize + tree_size;  // an unused file-entry region of 4 bytes
  std::vector<std::uint8_t> bytes(entries + 4, 0);
  std::copy(kIdentifier, kIdentifier + 4, bytes.begin());
  Put8(bytes, kHeaderSizeOffset, kHeaderSize);
  Put16(bytes, kHeaderFormatVersionOffset, kFormatVersion);
  Put32(bytes, kHeaderDirTreeOffsetOffset, kHeaderSize);
  Put32(bytes, kHeaderDirTreeSizeOffset, tree_size);
  Put32(bytes, kHeaderFileEntriesOffsetOffset, entries);
  Put32(bytes, kHeaderFileEntriesSizeOffset, 4);
  Put32(bytes, kHeaderImageSizeOffset, entries + 4);
  for (std::uint32_t level = 0; level <= depth; ++level) {
    const std::uint32_t block = kHeaderSize + level * kBlock;
    Put16(bytes, block + kDirStructSizeOffset, level < depth ? kBlock : kDirBlockFixedSize);
    Put8(bytes, block + kDirFirstEntryOffsetOffset, kDirBlockFixedSize);
    if (level == depth) break;
    const std::uint32_t entry = block + kDirBlockFixedSize;
    Put16(bytes, entry + kEntryStructSizeOffset, EntrySize(1));
    Put8(bytes, entry + kEntryNameOffsetOffset, kEntryFixedSize);
    Put8(bytes, entry + kEntryAttributesOffset, kAttDirectory);
    Put32(bytes, entry + kEntryAddressOffset, block + kBlock);
    Put8(bytes, entry + kEntryExtraAttributesOffset, kDefaultExtraAttributes);
    Put8(bytes, entry + kEntryNameLengthOffset, 1);
    Put8(bytes, entry + kEntryFixedSize, 'd');
  }
  return bytes;
}

TEST(RofsReaderTest, NestingIsBoundedAtTheLimit) {
  std::string path;
  for (int i = 0; i < kMaxDirectoryDepth; ++i) path += "d\\";
  EXPECT_NO_THROW(ParseRofsImage(testing::BuildInMemory({{path + "f", "x"}}), "deep.img"));
  EXPECT_NO_THROW(ParseRofsImage(FolderChain(kMaxDirectoryDepth), "deep.img"));
  try {
    ParseRofsImage(FolderChain(kMaxDirectoryDepth + 1), "deep.img");
    ADD_FAILURE() << "no error";
  } catch (const FormatError& error) {
    EXPECT_NE(std::string(error.what()).find("directories nest deeper than 128 levels"),
              std::string::npos)
        << error.what();
  }
}

// An image of a few KiB cut at every length: as it is, every shorter file
// is refused by its size; with the size field set to the cut, the walk meets
// the end inside the tree, an entry or the data, and must refuse that too or
// read only what is there.
TEST(RofsReaderTest, EveryTruncationEndsInATreeOrAFormatError) {
  std::vector<testing::MemoryFile> files;
  for (int i = 0; i < 12; ++i) {
    files.push_back({"dir" + std::to_string(i % 3) + "\\sub" + std::to_string(i % 2) + "\\file" + std::to_string(i) + ".dat",
                     std::string(100 + 37 * i, static_cast<char>('a' + i))});
  }
  const auto good = testing::BuildInMemory(files);
  ASSERT_GT(good.size(), 3000u);
  for (std::size_t length = 0; length < good.size(); ++length) {
    const std::vector<std::uint8_t> cut(good.begin(), good.begin() + length);
    const std::string expected =
        length < kHeaderSize ? "cut.img: the file holds " + std::to_string(length) + " bytes, fewer than the 48-byte ROFS header"
                             : "cut.img: ROFS header at 0x24: image size " + HexNumber(good.size()) + " is larger than the file (" +
                                   HexNumber(length) + " bytes); the image is cut short";
    try {
      ParseRofsImage(cut, "cut.img");
      FAIL() << "cut at " << length << " was read";
    } catch (const FormatError& error) {
      ASSERT_EQ(std::string(error.what()), expected);
    }
    if (length < kHeaderSize) continue;
    std::vector<std::uint8_t> resized = cut;
    Put32(resized, kHeaderImageSizeOffset, static_cast<std::uint32_t>(length));
    try {
      const RofsImage image = ParseRofsImage(resized, "cut.img");
      const std::function<void(const RofsDirectory&)> check = [&](const RofsDirectory& dir) {
        for (const RofsFile& file : dir.files) EXPECT_LE(std::uint64_t{file.address} + file.size, length);
        for (const RofsDirectory& sub : dir.subdirectories) check(sub);
      };
      check(image.root);
    } catch (const FormatError& error) {
      ASSERT_EQ(std::string(error.what()).rfind("cut.img: ROFS ", 0), 0u) << error.what();
    }
  }
}

// The tree of an image as lines: "path size" for a file ("path hidden" for
// a hidden entry), "path/" for a folder, marked when it has no file block.
void ListTree(const RofsDirectory& dir, const std::string& prefix, std::string& out) {
  for (const RofsFile& file : dir.files) {
    out += prefix + Utf16ToUtf8Lossy(file.name) +
           (file.hidden() ? std::string(" hidden") : " " + std::to_string(file.size)) + "\n";
  }
  for (const RofsDirectory& sub : dir.subdirectories) {
    const std::string path = prefix + Utf16ToUtf8Lossy(sub.name) + "/";
    out += path + (sub.file_block_address == 0 ? " (no file block)" : "") + "\n";
    ListTree(sub, path, out);
  }
}

// An image read where it lies across payloads, without a copy, gives the
// tree it gives in one piece, hidden entries included.
TEST(RofsReaderTest, AnImageInPiecesReadsAsTheWholeImage) {
  std::vector<testing::MemoryFile> files = {{"sys\\bin\\gone.dll", "", true}};
  for (int i = 0; i < 40; ++i) {
    files.push_back({"dir" + std::to_string(i % 4) + "\\a long file name number " + std::to_string(i) + ".dat",
                     std::string(50 + 31 * i, static_cast<char>('a' + i % 26))});
  }
  const auto bytes = testing::BuildInMemory(files);
  const RofsImage whole = ParseRofsImage(bytes, "whole.img");
  std::string expected;
  ListTree(whole.root, "", expected);
  ASSERT_NE(expected.find("sys/bin/gone.dll hidden"), std::string::npos);
  for (const std::vector<std::size_t>& sizes :
       {std::vector<std::size_t>{1}, {2, 7}, {48}, {0x400, 3}, {bytes.size() - 1}}) {
    const RofsImage pieces = ParseRofsImage(testing::InPieces(bytes, sizes), "whole.img");
    std::string listed;
    ListTree(pieces.root, "", listed);
    EXPECT_EQ(listed, expected) << "pieces of " << sizes[0];
    EXPECT_EQ(pieces.header.time, whole.header.time);
    EXPECT_EQ(pieces.header.image_size, whole.header.image_size);
    EXPECT_EQ(pieces.file_count, whole.file_count);
    EXPECT_EQ(pieces.root.subdirectories.at(1).files.at(3).uids, whole.root.subdirectories.at(1).files.at(3).uids);
  }
}

// What the extraction step sees: the partition carved at the ROFS magic,
// then read. The tree, or the error.
std::string CarveAndRead(const std::vector<std::uint8_t>& stripped) {
  const std::string_view carved =
      CarvePartition(std::string_view(reinterpret_cast<const char*>(stripped.data()), stripped.size()),
                     HexToBytes(kRofsMagicHex));
  const std::span<const std::uint8_t> image(reinterpret_cast<const std::uint8_t*>(carved.data()),
                                            carved.size());
  try {
    const RofsImage parsed = ParseRofsImage(image, "shape.img");
    std::string out = "max " + HexNumber(parsed.header.max_image_size) + "\n";
    ListTree(parsed.root, "", out);
    return out;
  } catch (const FormatError& error) {
    return error.what();
  }
}

// `image` with `gap` bytes of 0xFF between the header and the directory
// tree, every address moved along: an image whose tree does not follow the
// header, as a builder with another layout may write it.
std::vector<std::uint8_t> WithGapAfterHeader(const std::vector<std::uint8_t>& image,
                                             std::uint32_t gap) {
  const RofsImage parsed = ParseRofsImage(image, "gap.img");
  std::vector<std::uint8_t> moved(image.begin(), image.begin() + kHeaderSize);
  moved.insert(moved.end(), gap, kFillByte);
  moved.insert(moved.end(), image.begin() + kHeaderSize, image.end());
  const auto add = [&](std::size_t at, std::uint32_t field) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) value |= std::uint32_t{moved[at + field + i]} << (8 * i);
    Put32(moved, at + field, value + gap);
  };
  for (std::uint32_t field : {kHeaderDirTreeOffsetOffset, kHeaderFileEntriesOffsetOffset,
                              kHeaderImageSizeOffset}) {
    add(0, field);
  }
  const std::function<void(const RofsDirectory&)> move = [&](const RofsDirectory& dir) {
    if (dir.file_block_address != 0) add(dir.block_offset + gap, kDirFileBlockAddressOffset);
    for (const RofsFile& file : dir.files) {
      if (!file.hidden()) add(file.entry_offset + gap, kEntryAddressOffset);
    }
    for (const RofsDirectory& sub : dir.subdirectories) {
      add(sub.entry_offset + gap, kEntryAddressOffset);
      move(sub);
    }
  };
  move(parsed.root);
  return moved;
}

std::vector<std::uint8_t> Joined(std::vector<std::uint8_t> front,
                                 const std::vector<std::uint8_t>& back) {
  front.insert(front.end(), back.begin(), back.end());
  return front;
}

// Shapes met in real firmware files, each with what reading it gives.
TEST(RofsReaderTest, ReadsTheShapesOfRealImages) {
  const std::string base_tree =
      "max 0x10000000\n"
      "a.txt 5\n"
      "sub/\n"
      "sub/b.txt 6\n"
      "sub/deeper/\n"
      "sub/deeper/c.bin 20\n";
  std::vector<std::uint8_t> block_header(0x400, 0xFF);
  for (auto [at, hex] : {std::pair<std::size_t, const char*>{0, "A3959780"}, {0x3D0, "E8EADE31"}}) {
    const std::string bytes = HexToBytes(hex);
    std::copy(bytes.begin(), bytes.end(), block_header.begin() + at);
  }
  std::vector<std::uint8_t> padded = BaseImage();
  padded.resize(0x8000, 0xFF);
  std::vector<std::uint8_t> old_hidden =
      testing::BuildInMemory({{"keep.txt", "kept"}, {"sys\\bin\\gone.dll", "", true}});
  const std::uint32_t gone = ParseRofsImage(old_hidden, "x").root.subdirectories.at(0)
                                 .subdirectories.at(0).files.at(0).entry_offset;
  Put32(old_hidden, gone + kEntryAddressOffset, 0);
  std::vector<std::uint8_t> extension = BaseImage();
  extension[3] = 'x';
  Put32(extension, kHeaderDirTreeOffsetOffset, 0x100030);
  std::vector<std::uint8_t> small_max = BaseImage();
  Put32(small_max, kHeaderMaxImageSizeOffset, 0x200000);

  struct Shape {
    const char* label;
    std::vector<std::uint8_t> bytes;
    std::string result;
  };
  const std::vector<Shape> shapes = {
      {"a 0x400-byte block header in front", Joined(block_header, BaseImage()), base_tree},
      {"0x1000 zero bytes in front", Joined(std::vector<std::uint8_t>(0x1000, 0), BaseImage()),
       base_tree},
      {"0x200 zero bytes in front", Joined(std::vector<std::uint8_t>(0x200, 0), BaseImage()),
       base_tree},
      {"0xFF after the image size up to a block boundary", padded, base_tree},
      {"a max image size below 256 MiB", small_max,
       "max 0x200000\n" + base_tree.substr(base_tree.find('\n') + 1)},
      {"a directory tree that does not follow the header", WithGapAfterHeader(BaseImage(), 0x40),
       base_tree},
      {"an empty file whose address is the image end",
       testing::BuildInMemory({{"a.txt", "hello"}, {"z.dat", ""}}),
       "max 0x10000000\na.txt 5\nz.dat 0\n"},
      {"a folder without files",
       testing::BuildInMemory({{"top.txt", "t"}, {"only\\folders\\here.txt", "h"}}),
       "max 0x10000000\ntop.txt 1\nonly/ (no file block)\nonly/folders/\nonly/folders/here.txt 1\n"},
      {"a hidden entry of the 0xFFFFFFFF kind",
       testing::BuildInMemory({{"keep.txt", "kept"}, {"sys\\bin\\gone.dll", "", true}}),
       "max 0x10000000\nkeep.txt 4\nsys/ (no file block)\nsys/bin/\nsys/bin/gone.dll hidden\n"},
      {"a hidden entry of address 0 and size 0", old_hidden,
       "max 0x10000000\nkeep.txt 4\nsys/ (no file block)\nsys/bin/\nsys/bin/gone.dll hidden\n"},
      {"an extension image", extension,
       "shape.img: ROFS header at 0x0: an extension image (identifier \"ROFx\") cannot be read "
       "on its own: it extends a core ROFS image and needs that core image in front of it (its "
       "directory tree at 0x100030 counts from the start of a core image of 0x100000 bytes)"},
  };
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.label);
    EXPECT_EQ(CarveAndRead(shape.bytes), shape.result);
  }
  // The empty last file lies exactly at the end of the image.
  const auto empty_last = testing::BuildInMemory({{"a.txt", "hello"}, {"z.dat", ""}});
  const RofsImage parsed = ParseRofsImage(empty_last, "x");
  EXPECT_EQ(parsed.root.files.at(1).address, parsed.header.image_size);
  EXPECT_EQ(parsed.header.image_size, empty_last.size());
}

}  // namespace
}  // namespace larkspur::rofs
