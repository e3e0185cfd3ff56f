#include "format/table_of_contents.h"

#include <gtest/gtest.h>

#include "testing/firmware_fixture.h"
#include "testing/said_in_english.h"

namespace larkspur {
namespace {

using testing::BigEndian;
using testing::EraseAreaEntry;
using testing::TableOfContentsBytes;
using testing::TocEntryBytes;

// A table with an entry of every kind: 1- and 2-byte lengths, an array
// holding an erase area, a date, a description, and bytes after the
// entries.
std::string EveryKindOfEntry() {
  return TableOfContentsBytes(
      {EraseAreaEntry({{0x00040000, 0x00FFFFFF}}), TocEntryBytes(0xE6, BigEndian(1300000000)),
       TocEntryBytes(0xF4, std::string("RM-596\0rofs2 image\0", 19)), TocEntryBytes(0xE4, std::string(300, 'w')),
       TocEntryBytes(0xEE, std::string(1, '\x02') + EraseAreaEntry({{0x01000000, 0x01FFFFFF}, {0x02000000, 0x0203FFFF}}) +
                               TocEntryBytes(0xC2, "\x01")),
       TocEntryBytes(0x2F, "\x11\x22")},
      "extra");
}

TEST(TableOfContentsTest, ReadsEveryKindOfEntryAndItsEraseAreas) {
  const std::string table = EveryKindOfEntry();
  const TocReading reading = ReadTableOfContents(table + "first block");
  ASSERT_TRUE(reading.toc) << reading.problem;
  EXPECT_EQ(reading.toc->end(), table.size());
  ASSERT_EQ(reading.toc->entries.size(), 6u);
  EXPECT_EQ(reading.toc->entries[3].value.size(), 300u);
  ASSERT_EQ(reading.toc->entries[4].items.size(), 2u);
  const std::vector<EraseArea> areas = EraseAreasOf(*reading.toc);
  ASSERT_EQ(areas.size(), 3u);
  EXPECT_EQ(areas[0], (EraseArea{0x00040000, 0x00FFFFFF, 9 + 2 + 3 + 4}));
  EXPECT_EQ(areas[2].start, 0x02000000u);
  EXPECT_EQ(ReadBigEndian32(table, areas[2].end_offset), 0x0203FFFFu);
  EXPECT_EQ(AreaCovering(areas, 0x01000400), areas[1]);
  EXPECT_FALSE(AreaCovering(areas, 0x00010000));
  std::vector<std::string> lines;
  for (const Text& line : DescribeTableOfContents(*reading.toc)) lines.push_back(testing::SaidInEnglish(line));
  std::string w_hex = "77";
  for (int i = 1; i < 300; ++i) w_hex += " 77";
  const std::vector<std::string> expected = {
      "erase area: NAND 0x00040000-0x00FFFFFF",
      "date: 2011-03-13 07:06:40 UTC",
      "description: RM-596 | rofs2 image",
      "tag E4: " + w_hex,
      "array: 2 entries",
      "  erase area: NAND 0x01000000-0x01FFFFFF 0x02000000-0x0203FFFF",
      "  CMT type: 01",
      "partition info: 11 22",
  };
  EXPECT_EQ(lines, expected);
}

// A table that does not parse is named with its offset; the file is then
// read as one without a table.
TEST(TableOfContentsTest, DamagedTablesAreNamedWithTheirOffset) {
  const std::string good = EveryKindOfEntry();
  const struct {
    const char* label;
    std::string file;
    std::string problem;
  } cases[] = {
      {"not a table", "\x54 rest", ""},
      {"cut inside its header", std::string("\xB2\x00\x00", 3), "table of contents at 0x00000000: the file ends inside the table's header (3 bytes)"},
      {"header length past the file", "\xB2" + BigEndian(0x1000) + BigEndian(0),
       "table of contents at 0x00000001: header length 0x1000 does not fit the file (0x9 bytes)"},
      {"count larger than the entries", "\xB2" + BigEndian(6) + BigEndian(2) + TocEntryBytes(0xC2, ""),
       "table of contents at 0x0000000B: entry 2 of 2 would start past the table's end 0x0000000B"},
      {"value past the end", "\xB2" + BigEndian(7) + BigEndian(1) + "\xC2\x05\x01",
       "table of contents at 0x00000009: entry 1 (tag C2, 5 bytes) runs past the table's end 0x0000000C"},
      {"two-byte length cut", "\xB2" + BigEndian(6) + BigEndian(1) + std::string("\xE4\x00", 2),
       "table of contents at 0x00000009: entry 1 (tag E4) has no room for its length before the table's end "
       "0x0000000B"},
      {"array without its count", "\xB2" + BigEndian(7) + BigEndian(1) + TocEntryBytes(0xEE, ""),
       "table of contents at 0x00000009: an array (tag EE) without its count byte"},
  };
  for (const auto& c : cases) {
    const TocReading reading = ReadTableOfContents(c.file);
    EXPECT_FALSE(reading.toc) << c.label;
    EXPECT_EQ(reading.problem, c.problem) << c.label;
  }
  // Every shorter cut of a good table is either no table or a named
  // problem, never a read past its end.
  for (std::size_t length = 0; length < good.size(); ++length) {
    const TocReading reading = ReadTableOfContents(good.substr(0, length));
    EXPECT_FALSE(reading.toc) << length;
    EXPECT_EQ(reading.problem.empty(), length == 0) << length;
  }
}

// The budget of a payload in its erase area, and how far the area may grow.
TEST(TableOfContentsTest, EraseAreasAreABudget) {
  const std::vector<EraseArea> areas = {{0x01000000, 0x0103FFFF, 0}, {0x01100000, 0x011FFFFF, 0}};
  const auto inside = EraseBudgetOf(areas, 0x01000000, 0x30000);
  ASSERT_TRUE(inside);
  EXPECT_EQ(inside->area, areas[0]);
  EXPECT_EQ(inside->free, 0x10000);
  const auto over = EraseBudgetOf(areas, 0x01000000, 0x40001);
  ASSERT_TRUE(over);
  EXPECT_EQ(over->free, -1);
  EXPECT_FALSE(EraseBudgetOf(areas, 0x00FFFFFF, 1));
  // The start is aligned to 16 MiB, the end + 1 (0x01040000) to 0x40000:
  // the area grows by 0x40000 steps, not to the next 16 MiB, and not into
  // the second area.
  EXPECT_EQ(ExtendedAreaEnd(areas, areas[0], 0x01040001), 0x0107FFFFu);
  EXPECT_EQ(ExtendedAreaEnd(areas, areas[0], 0x01100000), 0x010FFFFFu);
  EXPECT_FALSE(ExtendedAreaEnd(areas, areas[0], 0x01100001));
  const std::vector<EraseArea> aligned = {{0x00040000, 0x0007FFFF, 0}, {0x00200000, 0x002FFFFF, 0}};
  EXPECT_EQ(ExtendedAreaEnd(aligned, aligned[0], 0x00080001), 0x000BFFFFu);
  EXPECT_EQ(ExtendedAreaEnd(aligned, aligned[0], 0x00200000), 0x001FFFFFu);
  EXPECT_FALSE(ExtendedAreaEnd(aligned, aligned[0], 0x00200001));
  EXPECT_FALSE(ExtendedAreaEnd(aligned, aligned[0], 0x100000001));
}

}  // namespace
}  // namespace larkspur
