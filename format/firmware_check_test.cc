#include "format/firmware_check.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "testing/firmware_fixture.h"

namespace larkspur {
namespace {

using testing::FirmwareSpec;
using testing::MakeFirmware;

std::string AllProblems(const FirmwareCheck& check) {
  std::string text;
  for (const auto& p : check.problems) text += p + "\n";
  for (const auto& b : check.blocks) {
    for (const auto& p : b.problems) text += "block " + std::to_string(b.index) + ": " + p + "\n";
  }
  return text;
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
      {"type field", second + 9, "block 1: type field expected 01"},
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
      expected = "runs past the end of the file (" + std::to_string(length - block_start - header) + " bytes left)";
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

}  // namespace
}  // namespace larkspur
