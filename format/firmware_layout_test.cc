#include "format/firmware_layout.h"

#include <gtest/gtest.h>

#include "format/block_header.h"
#include "testing/firmware_fixture.h"
#include "testing/said_in_english.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::BytesFromSpacedHex;
using testing::UncheckedBlock;

const std::string kSignature = BytesFromSpacedHex("54 01 17 0E 00 03 00");

TEST(FirmwareLayoutTest, WalksFromTheFirstSignatureByThePayloadLengths) {
  // The first payload holds the signature by chance; the chain skips it.
  const std::string first_payload = "xx" + kSignature + "yy";
  const std::string data = "PREFIX" + UncheckedBlock(kSignature, 19, first_payload, first_payload.size()) +
                           UncheckedBlock(kSignature, 19, "", 0) + UncheckedBlock(kSignature, 19, "abc", 3);
  const FirmwareLayout layout = ReadFirmwareLayout(data, kSignature, 19);
  ASSERT_TRUE(layout.chain_intact);
  EXPECT_EQ(layout.end, ChainEnd::kIntact);
  EXPECT_EQ(layout.prefix_length, 6u);
  ASSERT_EQ(layout.blocks.size(), 3u);
  EXPECT_EQ(layout.blocks[0].header_offset, 6u);
  EXPECT_EQ(layout.blocks[1].header_offset, 6u + 19 + first_payload.size());
  EXPECT_EQ(layout.blocks[2].payload_length, 3u);
  EXPECT_EQ(layout.blocks[2].address, ReadBigEndian32("AAAA", 0));
}

// How the walk ends, where, and which whole blocks it read before.
TEST(FirmwareLayoutTest, SaysHowAndWhereTheChainEnds) {
  const std::string good = "PRE" + UncheckedBlock(kSignature, 19, "abc", 3) + UncheckedBlock(kSignature, 19, "defg", 4) +
                           UncheckedBlock(kSignature, 19, "hi", 2);
  const std::size_t second = 3 + 19 + 3, third = second + 19 + 4;
  const struct {
    const char* why;
    std::string data;
    int header_size;
    ChainEnd end;
    std::size_t blocks;      // whole blocks walked
    std::size_t end_offset;  // where it ended (the cut or missing header)
    bool inside_header;
  } cases[] = {
      {"intact", good, 19, ChainEnd::kIntact, 3, good.size(), false},
      {"no signature", "nothing here", 19, ChainEnd::kNoHeader, 0, 0, false},
      {"unknown header size", good, 20, ChainEnd::kNoHeader, 0, 0, false},
      {"inside the last payload", good.substr(0, good.size() - 1), 19, ChainEnd::kCutShort, 2, third, false},
      {"right after a header", good.substr(0, third + 19), 19, ChainEnd::kCutShort, 2, third, false},
      {"inside a header, after its signature", good.substr(0, third + 12), 19, ChainEnd::kCutShort, 2, third, true},
      {"inside a signature", good.substr(0, second + 3), 19, ChainEnd::kCutShort, 1, second, true},
      {"inside the first header", good.substr(0, 3 + 10), 19, ChainEnd::kCutShort, 0, 3, true},
      {"length past the end", UncheckedBlock(kSignature, 19, "abc", 4), 19, ChainEnd::kCutShort, 0, 0, false},
      {"next header without signature",
       UncheckedBlock(kSignature, 19, "abc", 2) + "c" + UncheckedBlock(kSignature, 19, "de", 5), 19, ChainEnd::kBroken,
       1, 21, false},
      {"ends in bytes that are no signature", good + "z", 19, ChainEnd::kBroken, 3, good.size(), false},
  };
  for (const auto& c : cases) {
    const FirmwareLayout layout = ReadFirmwareLayout(c.data, kSignature, c.header_size);
    EXPECT_EQ(layout.end, c.end) << c.why;
    EXPECT_EQ(layout.chain_intact, c.end == ChainEnd::kIntact) << c.why;
    EXPECT_EQ(layout.HasHeader(), c.end != ChainEnd::kNoHeader) << c.why;
    EXPECT_EQ(layout.blocks.size(), c.blocks) << c.why;
    EXPECT_EQ(layout.end_offset, c.end_offset) << c.why;
    EXPECT_EQ(layout.ends_inside_header, c.inside_header) << c.why;
  }
}

TEST(FirmwareLayoutTest, WalksFromAGivenOffset) {
  const std::string block = UncheckedBlock(kSignature, 19, "abc", 3);
  const std::string data = block + "junk" + block;
  const FirmwareLayout layout = ReadFirmwareLayout(data, kSignature, 19, block.size());
  EXPECT_EQ(layout.prefix_length, block.size() + 4);
  EXPECT_TRUE(layout.chain_intact);
  EXPECT_FALSE(ReadFirmwareLayout(data, kSignature, 19, data.size() + 1).HasHeader());
}

// Which models a file fits, and why the others do not.
TEST(FirmwareLayoutTest, ModelsThatFitFollowTheBlockFormats) {
  const std::string partition = testing::PatternBytes(0x50000);
  const struct {
    const char* why;
    int model;
    bool uda;
    bool n96_short;
    std::vector<int> fitting;
  } cases[] = {
      {"default blocks of 0x40000", 0, false, false, {0}},
      {"blocks of 0x20000: 5320 and N78", 3, false, false, {2, 3}},
      {"the N96's ROFS with its short first block", 1, false, true, {1}},
      {"the N96's 26-byte UDA headers", 1, true, false, {1}},
      {"UDA blocks of 0x20000", 2, true, false, {2, 3}},
  };
  for (const auto& c : cases) {
    const std::string file = testing::MakeFirmware(
        {.model = c.model, .uda = c.uda, .prefix = "P", .n96_short_first_block = c.n96_short}, partition);
    EXPECT_EQ(ModelsThatFit(file, c.uda ? PartitionKind::kUda : PartitionKind::kRofs), c.fitting) << c.why;
  }
  // One short block fits every model whose blocks are at least as long.
  EXPECT_EQ(ModelsThatFit(testing::MakeFirmware({}, "abc"), PartitionKind::kRofs), (std::vector<int>{0, 2, 3}));
  EXPECT_EQ(ModelsThatFit("no header", PartitionKind::kRofs), std::vector<int>{});
  EXPECT_EQ(testing::SaidInEnglish(ModelNames({2, 3})), "Phone model (5320), Phone model (N78)");
}

// The headers of real files (from the layouts' public descriptions): each
// checksum holds, so the one rule covers code and named blocks alike.
TEST(FirmwareLayoutTest, RealHeadersCarryTheOneChecksum) {
  for (const char* header : {
           "54 01 17 0E 00 03 00 A3 F6 01 00 02 00 00 01 F2 00 00 47",
           "54 01 30 15 00 03 00 61 81 00 00 00 08 FF FF FF FF 00 04 00 00 00 00 00 00 CC",
           "5D 01 27 2D A5 40 4A E8 3A 59 4E CA DE E5 32 F0 C2 36 BF A6 C5 3C 9A F0 4E 4F 4C 4F 00 00 00 00 00 00 "
           "00 00 00 00 00 6D 92 00 00 04 00 00 0C 00 00 D4",
       }) {
    const std::string bytes = BytesFromSpacedHex(header);
    EXPECT_EQ(HeaderChecksum(bytes), bytes.back()) << header;
  }
  EXPECT_EQ(NamedHeaderSize(std::string("\x01\x27\x2D", 3)), 50);
  EXPECT_EQ(NamedHeaderSize(std::string("\x01\x28\x43", 3)), 72);
  EXPECT_FALSE(NamedHeaderSize(std::string("\x01\x29\x2D", 3)));
}

// Files as real flashers' packages have them: the walk starts after a
// table of contents, keeps named blocks and padding out of the code blocks,
// and ends where the file ends.
TEST(FirmwareLayoutTest, WalksTablesNamedBlocksAndPaddingByStructure) {
  const BlockFormat& format = BlockFormatOf(0, PartitionKind::kRofs);
  const std::string partition = testing::PatternBytes(0x50000);
  // A table whose description holds the signature bytes by chance.
  const std::string toc = testing::TableOfContentsBytes(
      {testing::EraseAreaEntry({{0x01000000, 0x01FFFFFF}}), testing::TocEntryBytes(0xF4, "x" + format.signature + "y")});
  const std::string nolo = testing::NamedBlockBytes("NOLO", testing::PatternBytes(0x400, 3), 0x000C0000);
  const std::string cert = testing::NamedBlockBytes("CERT", testing::PatternBytes(0x80, 4), 0, true);
  const struct {
    const char* label;
    std::string lead;  // before the code blocks
    testing::FirmwareSpec spec;
    std::size_t named;
    bool toc;
  } cases[] = {
      {"a table holding the signature in a value", toc, {}, 0, true},
      {"named blocks 5D 27 and 5D 28 before the code blocks", toc + nolo + cert, {}, 2, true},
      {"padding after the table and between the blocks", toc + std::string(0x20, '\xFF'),
       {.padding_between = 0x10, .trail = std::string(0x30, '\xFF')}, 0, true},
      {"a named block after the code blocks", toc, {.trail = nolo}, 1, true},
      {"named blocks in the prefix of a file without a table", "HEAD" + nolo, {}, 0, false},
  };
  for (const auto& c : cases) {
    testing::FirmwareSpec spec = c.spec;
    spec.prefix = c.lead;
    const std::string file = testing::MakeFirmware(spec, partition);
    const FirmwareLayout layout = ReadFirmwareLayout(file, format);
    EXPECT_TRUE(layout.chain_intact) << c.label;
    EXPECT_EQ(layout.toc.has_value(), c.toc) << c.label;
    EXPECT_EQ(layout.prefix_length, c.lead.size()) << c.label;
    ASSERT_EQ(layout.blocks.size(), 2u) << c.label;
    EXPECT_EQ(layout.blocks[0].padding_after, c.spec.padding_between) << c.label;
    EXPECT_EQ(layout.code_end, file.size() - c.spec.trail.size()) << c.label;
    EXPECT_EQ(layout.named.size(), c.named) << c.label;
    EXPECT_FALSE(layout.named_between_code) << c.label;
  }
  // What the named blocks say of themselves.
  const FirmwareLayout with_named = ReadFirmwareLayout(testing::MakeFirmware({.prefix = toc + nolo + cert}, partition), format);
  ASSERT_EQ(with_named.named.size(), 2u);
  EXPECT_EQ(with_named.named[0].description, "NOLO");
  EXPECT_EQ(with_named.named[0].header_size, 50);
  EXPECT_EQ(with_named.named[0].payload_length, 0x400u);
  EXPECT_EQ(with_named.named[0].address, 0x000C0000u);
  EXPECT_EQ(with_named.named[1].header_size, 72);
  EXPECT_EQ(with_named.named[1].address, 0xFFFFFFFFu);
}

TEST(FirmwareLayoutTest, WhatBreaksTheStructure) {
  const BlockFormat& format = BlockFormatOf(0, PartitionKind::kRofs);
  const std::string toc = testing::TableOfContentsBytes({testing::TocEntryBytes(0xC2, "\x01")});
  const std::string block = testing::MakeBlock({}, "abc", 0x100);
  const std::string nolo = testing::NamedBlockBytes("NOLO", "payload", 0x000C0000);
  const struct {
    const char* label;
    std::string file;
    ChainEnd end;
    std::size_t end_offset;
    std::string toc_problem;
  } cases[] = {
      {"an unknown block type between blocks", toc + block + "\x77rest", ChainEnd::kBroken, toc.size() + block.size(),
       ""},
      {"a named block of an unknown kind", toc + block + std::string("\x5D\x01\x29\x2D", 4) + "rest",
       ChainEnd::kBroken, toc.size() + block.size(), ""},
      {"cut inside a named block's payload", toc + nolo.substr(0, nolo.size() - 1) , ChainEnd::kCutShort, toc.size(), ""},
      {"another model's code block after the table", toc + testing::MakeBlock({.model = 1}, "abc", 0), ChainEnd::kNoHeader,
       toc.size(), ""},
      // The table leads to no block: the file is read as one without it,
      // from its first signature.
      {"a table that leads nowhere", toc + "junk" + block, ChainEnd::kIntact, toc.size() + 4 + block.size(),
       "table of contents at 0x00000000: no block header begins where it ends, at 0x0000000C"},
  };
  for (const auto& c : cases) {
    const FirmwareLayout layout = ReadFirmwareLayout(c.file, format);
    EXPECT_EQ(layout.end, c.end) << c.label;
    EXPECT_EQ(layout.end_offset, c.end_offset) << c.label;
    EXPECT_EQ(layout.toc_problem, c.toc_problem) << c.label;
  }
  // A named block between code blocks is walked, and said.
  const FirmwareLayout split = ReadFirmwareLayout(toc + block + nolo + block, format);
  EXPECT_TRUE(split.chain_intact);
  EXPECT_TRUE(split.named_between_code);
}

}  // namespace
}  // namespace larkspur
