#include "format/firmware_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "format/partition.h"
#include "testing/firmware_fixture.h"
#include "testing/said_in_english.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;
using testing::FirmwareSpec;
using testing::MakeBlock;
using testing::MakeFirmware;
using testing::NamedBlockBytes;
using testing::PatternBytes;

std::string AllProblems(const FirmwareCheck& check) {
  std::string text;
  using testing::SaidInEnglish;
  for (const auto& p : check.problems) text += SaidInEnglish(p) + "\n";
  for (const auto& b : check.blocks) {
    for (const auto& p : b.problems) text += "block " + std::to_string(b.index) + ": " + SaidInEnglish(p) + "\n";
  }
  for (const auto& n : check.named) {
    for (const auto& p : n.problems) text += "named block " + std::to_string(n.index) + ": " + SaidInEnglish(p) + "\n";
  }
  return text;
}

// "12 bytes left)", "1 byte left)".
std::string BytesLeft(std::size_t count) {
  return std::to_string(count) + (count == 1 ? " byte left)" : " bytes left)");
}

TEST(FirmwareCheckTest, GoodFilesOfEveryProfilePass) {
  for (int model = 0; model < kModelCount; ++model) {
    for (const bool uda : {false, true}) {
      const FirmwareSpec spec{.model = model, .uda = uda, .prefix = "PREFIX", .start_address = 0xFFFF0000};
      const std::string file = MakeFirmware(spec, std::string(300, '\0') + "ROFS0\xFF" + testing::PatternBytes(0x50000));
      const FirmwareCheck check = CheckFirmware(file, uda ? PartitionKind::kUda : PartitionKind::kRofs, BlockFormatOf(model, uda ? PartitionKind::kUda : PartitionKind::kRofs));
      EXPECT_TRUE(check.AllRight()) << model << uda << "\n" << AllProblems(check);
      EXPECT_EQ(check.prefix_length, 6u);
      EXPECT_EQ(check.header_size, model == 1 && uda ? 26 : 19);
      if (!uda) {
        EXPECT_EQ(check.magic_offset, 300u);
      }
    }
  }
}

TEST(FirmwareCheckTest, EachDamageIsNamedWithItsBlock) {
  const FirmwareSpec spec{.prefix = "P"};
  const std::string good = MakeFirmware(spec, testing::PatternBytes(0x90000));
  const std::size_t second = 1 + 19 + 0x40000;  // offset of block 1's header
  struct Case {
    const char* name;
    std::size_t offset;  // byte to change
    const char* expected;
  };
  const Case cases[] = {
      {"header checksum", second + 18, "block 1: header checksum expected"},
      {"check value", second + 7, "block 1: check value expected"},
      {"payload byte", second + 19 + 5, "block 1: check value expected"},
      // Real files carry other type fields: only the checksum tells.
      {"type field", second + 9, "block 1: header checksum expected F8, found 38"},
      {"load address", second + 16, "block 1: load address expected 0x01040000"},
      // The first header is then not found, and its block would pass for
      // part of the prefix.
      {"first signature byte", 1,
       "damaged block header at file offset 0x00000001, before block 0: signature expected 54 01 17 0E 00 03 00, "
       "found 14 01 17 0E 00 03 00"},
      {"last signature byte", 1 + 6,
       "damaged block header at file offset 0x00000001, before block 0: signature expected 54 01 17 0E 00 03 00, "
       "found 54 01 17 0E 00 03 40"},
  };
  for (const Case& c : cases) {
    std::string file = good;
    file[c.offset] ^= 0x40;
    const FirmwareCheck check = CheckFirmware(file, PartitionKind::kRofs, BlockFormatOf(0, PartitionKind::kRofs));
    EXPECT_FALSE(check.AllRight()) << c.name;
    EXPECT_NE(AllProblems(check).find(c.expected), std::string::npos) << c.name << "\n" << AllProblems(check);
  }
}

// One block whose payload holds, by chance, a whole block of its own that
// ends with the file; the outer header's signature has one byte wrong, so
// the inner block is the first one found, and it is right.
std::string FirstSignatureDamagedAroundABlock() {
  const std::string inner = testing::MakeBlock({}, "inner payload", 0x2000);
  std::string file = testing::MakeBlock({}, "outer " + inner, 0x1000);
  file[2] ^= 0x40;
  return file;
}

TEST(FirmwareCheckTest, StructuralProblemsAreNotAPass) {
  const std::string good = MakeFirmware({}, testing::PatternBytes(0x50000));
  const struct {
    const char* name;
    std::string file;
    const char* expected;
  } cases[] = {
      {"no header at all", "just bytes", "no block header"},
      {"cut inside a header", good.substr(0, 19 + 0x40000 + 10), "header cut short"},
      {"cut inside a payload", good.substr(0, good.size() - 1), "runs past the end"},
      {"first signature damaged, a whole block inside its payload", FirstSignatureDamagedAroundABlock(),
       "damaged block header at file offset 0x00000000, before block 0: signature expected 54 01 17 0E 00 03 00, "
       "found 54 01 57 0E 00 03 00"},
      {"wrong profile", good, "no block header"},
  };
  for (const auto& c : cases) {
    const bool wrong = std::string(c.name) == "wrong profile";
    const PartitionKind kind = wrong ? PartitionKind::kUda : PartitionKind::kRofs;
    const FirmwareCheck check = CheckFirmware(c.file, kind, BlockFormatOf(wrong ? 1 : 0, kind));
    EXPECT_FALSE(check.AllRight()) << c.name;
    EXPECT_NE(AllProblems(check).find(c.expected), std::string::npos) << c.name << "\n" << AllProblems(check);
  }
}

// A good file cut at every length: each shorter file passes only when it
// ends exactly after a block, and otherwise names what the cut broke.
TEST(FirmwareCheckTest, EveryTruncationIsAProblemUnlessItEndsAfterABlock) {
  const FirmwareSpec spec{.model = 1, .uda = true, .prefix = std::string(0x40, 'P')};
  const std::string good = MakeFirmware(spec, testing::PatternBytes(0x8000 + 0x200));
  const std::size_t header = 26, second = 0x40 + header + 0x8000;
  const std::vector<std::size_t> block_ends = {second, good.size()};
  for (const std::size_t length : testing::CutLengths(good.size(), {0x40, 0x40 + header, second, second + header})) {
    const std::string cut = good.substr(0, length);
    const FirmwareCheck check = CheckFirmware(cut, PartitionKind::kUda, BlockFormatOf(1, PartitionKind::kUda));
    const bool block_end = std::find(block_ends.begin(), block_ends.end(), length) != block_ends.end();
    ASSERT_EQ(check.AllRight(), block_end) << "cut at " << length << "\n" << AllProblems(check);
    if (block_end) continue;
    // Where the cut falls decides what is reported.
    const std::size_t block_start = length < second ? 0x40 : second;
    std::string expected;
    if (length < 0x40 + 7) {
      expected = "no block header (signature 54 01 30 15 01 01 00) in the file";
    } else if (length < block_start + 7) {
      expected = "block 0: no block header where this block ends, at file offset 0x0000805A";
    } else if (length < block_start + header) {
      expected = "header cut short: " + std::to_string(length - block_start) + " of 26 bytes";
    } else {
      expected = "runs past the end of the file (" + BytesLeft(length - block_start - header);
    }
    ASSERT_NE(AllProblems(check).find(expected), std::string::npos) << "cut at " << length << "\n" << AllProblems(check);
  }
}

TEST(FirmwareCheckTest, FindsTheMagicAcrossABlockBoundary) {
  const std::string magic = "ROFS0\xFF";
  for (const std::size_t at : {std::size_t{0}, std::size_t{0x8000 - 3}, std::size_t{0x8000 - 6}, std::size_t{0x8000},
                               std::size_t{0x10000 - 1}}) {
    std::string partition(0x18000, 'x');
    partition.replace(at, magic.size(), magic);
    const std::string file = testing::MakeFirmware({.model = 1, .prefix = "P"}, partition);
    const FirmwareCheck check = CheckFirmware(file, PartitionKind::kRofs, BlockFormatOf(1, PartitionKind::kRofs));
    EXPECT_EQ(check.magic_offset, at) << at;
  }
  const FirmwareCheck none = CheckFirmware(testing::MakeFirmware({.model = 1}, std::string(0x9000, 'x')),
                                           PartitionKind::kRofs, BlockFormatOf(1, PartitionKind::kRofs));
  EXPECT_FALSE(none.magic_offset);
}

// A file as real flashers' packages have them: a table of contents, a
// named block and padding in front; 26-byte headers carrying a type field
// the profile does not give, padding between them; a named block and
// padding behind them.
struct RealFile {
  std::string bytes;
  std::size_t nolo, block0, block1, cert;  // where each begins
};

const std::string kRealTypeField = BytesFromSpacedHex("00 00 00 08 FF FF FF FF");

RealFile MakeRealFile() {
  const FirmwareSpec spec{.model = 1, .uda = true, .type_field = kRealTypeField};
  RealFile file;
  file.bytes = testing::TableOfContentsBytes({testing::EraseAreaEntry({{0x00800000, 0x00FFFFFF}})});
  file.nolo = file.bytes.size();
  file.bytes += NamedBlockBytes("NOLO", PatternBytes(0x40, 3), 0x000C0000) + std::string(16, '\xFF');
  file.block0 = file.bytes.size();
  file.bytes += MakeBlock(spec, PatternBytes(0x8000, 4), 0x00800000) + std::string(8, '\xFF');
  file.block1 = file.bytes.size();
  file.bytes += MakeBlock(spec, PatternBytes(0x100, 5), 0x00808000);
  file.cert = file.bytes.size();
  file.bytes += NamedBlockBytes("CERT", PatternBytes(0x20, 6), 0, true) + std::string(4, '\xFF');
  return file;
}

FirmwareCheck CheckN96Uda(std::string_view file) {
  return CheckFirmware(file, PartitionKind::kUda, BlockFormatOf(1, PartitionKind::kUda), true);
}

TEST(FirmwareCheckTest, ARealFilePassesAndWhatItCarriesIsRecorded) {
  const RealFile real = MakeRealFile();
  const FirmwareCheck check = CheckN96Uda(real.bytes);
  ASSERT_TRUE(check.AllRight()) << AllProblems(check);
  EXPECT_TRUE(check.toc.has_value());
  EXPECT_TRUE(check.prefix_walked);
  EXPECT_EQ(check.prefix_length, real.block0);
  ASSERT_EQ(check.blocks.size(), 2u);
  EXPECT_EQ(check.blocks[0].padding_after, 8u);
  EXPECT_EQ(check.blocks[1].padding_after, 0u);
  for (const BlockCheck& block : check.blocks) EXPECT_EQ(block.other_type_field, kRealTypeField);
  ASSERT_EQ(check.named.size(), 2u);
  EXPECT_EQ(check.named[0].block.header_offset, real.nolo);
  EXPECT_EQ(check.named[1].block.header_offset, real.cert);
  EXPECT_EQ(check.code_end, real.cert);
  // The profile's own type field is not recorded.
  const FirmwareCheck plain = CheckN96Uda(MakeFirmware({.model = 1, .uda = true}, "abc"));
  ASSERT_TRUE(plain.AllRight()) << AllProblems(plain);
  EXPECT_EQ(plain.blocks[0].other_type_field, "");
}

// The real file cut at every length: it passes only where a code block, its
// padding or the named block behind it ends, and otherwise names what the
// cut broke.
TEST(FirmwareCheckTest, EveryCutOfARealFileIsNamedUnlessItEndsAfterABlock) {
  const RealFile real = MakeRealFile();
  const std::size_t size = real.bytes.size(), header = 26, end0 = real.block1 - 8, cert_end = real.cert + 72 + 0x20;
  for (const std::size_t length :
       testing::CutLengths(size, {real.nolo, real.block0, real.block0 + header, end0, real.block1, real.block1 + header,
                                  real.cert, real.cert + 72, cert_end})) {
    const std::string cut = real.bytes.substr(0, length);
    const FirmwareCheck check = CheckN96Uda(cut);
    const bool passes = (length >= end0 && length <= real.block1) || length == real.cert || length >= cert_end;
    ASSERT_EQ(check.AllRight(), passes) << "cut at " << length << "\n" << AllProblems(check);
    if (passes) continue;
    std::string expected;
    if (length <= real.block0) {
      expected = "no block header (signature 54 01 30 15 01 01 00) in the file";
    } else if (length < real.block0 + 7) {
      expected = "named block 0: no block header where this block ends, at file offset " + HexNumber(real.block0, 8);
    } else if (length < real.block0 + header) {
      expected = "block 0: header cut short: " + std::to_string(length - real.block0) + " of 26 bytes";
    } else if (length < end0) {
      expected = "block 0: payload length 0x00008000 runs past the end of the file (" +
                 BytesLeft(length - real.block0 - header);
    } else if (length < real.block1 + 7) {
      expected = "block 0: no block header where this block ends, at file offset " + HexNumber(real.block1, 8);
    } else if (length < real.block1 + header) {
      expected = "block 1: header cut short: " + std::to_string(length - real.block1) + " of 26 bytes";
    } else if (length < real.cert) {
      expected = "block 1: payload length 0x00000100 runs past the end of the file";
    } else if (length < real.cert + 4) {
      expected = "named block 1: header cut short: " + std::to_string(length - real.cert) +
                 (length - real.cert == 1 ? " byte\n" : " bytes\n");
    } else if (length < real.cert + 72) {
      expected = "named block 1: header cut short: " + std::to_string(length - real.cert) + " of 72 bytes\n";
    } else {
      expected = "named block 1: payload length 0x00000020 runs past the end of the file (" +
                 BytesLeft(length - real.cert - 72);
    }
    ASSERT_NE(AllProblems(check).find(expected), std::string::npos) << "cut at " << length << "\n"
                                                                    << AllProblems(check);
  }
}

// Damage the walk by structure finds, named with the block before it.
TEST(FirmwareCheckTest, AStructureThatBreaksIsNamedWithTheBlockBeforeIt) {
  const RealFile real = MakeRealFile();
  const std::string another_model = MakeBlock({}, "abc", 0);
  const struct {
    const char* label;
    std::string file;
    std::string expected;  // every problem
  } cases[] = {
      {"unknown bytes behind the named block behind the code blocks",
       real.bytes.substr(0, real.cert + 72 + 0x20) + "\x77rest",
       "named block 1: no block header where this block ends, at file offset " + HexNumber(real.cert + 72 + 0x20, 8) +
           " (found 77 72 65 73 74)\n"},
      // The walk goes on at the next signature: the second block is the
      // first one checked.
      {"the first code header's signature damaged",
       [&] {
         std::string file = real.bytes;
         file[real.block0 + 1] ^= 0x40;
         return file;
       }(),
       "named block 0: no block header where this block ends, at file offset " + HexNumber(real.block0, 8) +
           " (found 54 41 30 15 01 01 00)\n"},
      {"another model's code block right after the table", real.bytes.substr(0, real.nolo) + another_model,
       "no block header where the table of contents ends, at file offset " + HexNumber(real.nolo, 8) +
           " (found 54 01 17 0E 00 03 00)\nno block header (signature 54 01 30 15 01 01 00) in the file\n"},
      {"a named block's checksum",
       [&] {
         std::string file = real.bytes;
         ++file[real.nolo + 49];
         return file;
       }(),
       "named block 0: header checksum expected " +
           HexDigits(static_cast<unsigned char>(real.bytes[real.nolo + 49]), 2) + ", found " +
           HexDigits(static_cast<unsigned char>(real.bytes[real.nolo + 49] + 1), 2) + "\n"},
  };
  for (const auto& c : cases) {
    const FirmwareCheck check = CheckN96Uda(c.file);
    EXPECT_FALSE(check.AllRight()) << c.label;
    EXPECT_EQ(AllProblems(check), c.expected) << c.label;
  }
}

// Where the FAT boot sector lies in the payloads, found block by block, is
// where FindFatBootSector finds it in the payloads laid end to end: also
// when it runs across two blocks.
TEST(FirmwareCheckTest, FindsTheBootSectorAndTheLeadAcrossBlocks) {
  const std::string boot = testing::FatBootSector(0x800);
  const struct {
    const char* label;
    std::string stream;
    std::uint64_t leading_zeros;
  } cases[] = {
      {"at the start", boot + PatternBytes(0x600), 0},
      {"after two zero sectors, across a block boundary", std::string(0x400, '\0') + boot + PatternBytes(0x600), 0x400},
      {"after a sector that is not all zero", std::string(0x3FF, '\0') + "x" + boot + PatternBytes(0x600), 0x3FF},
      {"not at a sector boundary", std::string(0x410, '\0') + boot + PatternBytes(0x600), 0x410},
      {"only zero bytes", std::string(0x900, '\0'), 0x900},
  };
  for (const auto& c : cases) {
    // Blocks of 0x280 bytes, so sectors run across blocks.
    std::string file = "P";
    for (std::size_t at = 0; at < c.stream.size(); at += 0x280) {
      file += MakeBlock({}, c.stream.substr(at, 0x280), static_cast<std::uint32_t>(0x1000 + at));
    }
    const FirmwareCheck check = CheckFirmware(file, PartitionKind::kUda, BlockFormatOf(0, PartitionKind::kUda));
    ASSERT_TRUE(check.AllRight()) << c.label << "\n" << AllProblems(check);
    EXPECT_EQ(check.boot_sector_offset, FindFatBootSector(c.stream)) << c.label;
    EXPECT_EQ(check.leading_zeros, c.leading_zeros) << c.label;
    EXPECT_EQ(check.payload_lead, c.stream.substr(0, 4)) << c.label;
  }
  EXPECT_EQ(FindFatBootSector(std::string(0x400, '\0') + boot), 0x400u);  // the oracle finds what it should
}

}  // namespace
}  // namespace larkspur
