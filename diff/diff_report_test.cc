#include "diff/diff_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspur::diff {
namespace {

EntryDifference File(const std::string& path, EntryStatus status, std::uint64_t old_size, std::uint64_t new_size) {
  EntryDifference entry;
  entry.path = path;
  entry.status = status;
  entry.old_size = old_size;
  entry.new_size = new_size;
  entry.content_changed = status == EntryStatus::kChanged;
  return entry;
}

// A Repack's summary: the counts, the warning when most of the input is
// gone, the entries up to the cap and a count of the rest.
TEST(DiffReportTest, TheSummaryCountsCapsAndWarns) {
  FirmwareDifference difference;
  difference.old_blocks = 34;
  difference.new_blocks = 33;
  difference.differing_blocks = 12;
  difference.old_files = 210;
  difference.new_files = 185;
  difference.old_file_bytes = 1000;
  difference.new_file_bytes = 900;
  difference.entries.push_back(File("a/", EntryStatus::kAdded, 0, 0));
  difference.entries.back().folder = true;
  difference.entries.push_back(File("a/hidden.dll", EntryStatus::kAdded, 0, 0));
  difference.entries.back().new_hidden = true;
  for (int i = 0; i < 25; ++i) {
    difference.entries.push_back(File("gone" + std::to_string(10 + i) + ".txt", EntryStatus::kRemoved, 4, 0));
  }
  EntryDifference changed = File("z.txt", EntryStatus::kChanged, 100, 120);
  changed.fields.push_back({"time", "2010-01-02 03:04:06", "2024-05-17 13:45:08"});
  difference.entries.push_back(changed);

  std::vector<DiffLine> lines = SummaryLines(difference, 3);
  EXPECT_EQ(lines, (std::vector<DiffLine>{
                       {"新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.", {"1", "1", "25", "34", "12"}},
                       {"  新增文件夹 %1", {"a/"}},
                       {"  新增 %1 (隐藏项)", {"a/hidden.dll"}},
                       {"  删除 %1 (%2 字节)", {"gone10.txt", "4"}},
                       {"  ……还有 %1 项", {"25"}},
                   }));
  lines = SummaryLines(difference, 100);
  EXPECT_EQ(lines.size(), 1u + 28u);
  EXPECT_EQ(lines.back(),
            (DiffLine{"  修改 %1 (%2)", {"z.txt", "content, 100 -> 120 bytes; time 2010-01-02 03:04:06 -> 2024-05-17 13:45:08"}}));

  // Fewer than half the files, or fewer than half their bytes, are left.
  const DiffLine warning{"警告: 新文件只剩原文件不到一半的文件或字节 (%1 of %2 files, %3 of %4 bytes are left), "
                         "请确认这是你想要的.",
                         {"1", "210", "900", "1000"}};
  difference.new_files = 1;
  EXPECT_EQ(SummaryLines(difference, 0).at(1), warning);
  difference.new_files = 105;
  difference.new_file_bytes = 499;
  EXPECT_EQ(SummaryLines(difference, 0).at(1).values, (std::vector<std::string>{"105", "210", "499", "1000"}));
  difference.new_file_bytes = 500;
  EXPECT_EQ(SummaryLines(difference, 0).size(), 2u) << "exactly half is no warning";

  difference.partition_problem = "new: ROFS header at 0x6: format version 0x300 is not 0x200";
  EXPECT_EQ(SummaryLines(difference, 20),
            (std::vector<DiffLine>{{"无法比较分区中的文件 (%1); %2 个块中有 %3 个不同.",
                                    {difference.partition_problem, "34", "12"}}}));
}

TEST(DiffReportTest, TheReportTellsEverythingOrThatTheFilesAreTheSame) {
  FirmwareDifference same;
  EXPECT_EQ(ReportLines(same), (std::vector<DiffLine>{{"两个文件完全相同 (the same firmware, byte for byte).", {}}}));
  FirmwareDifference difference;
  difference.old_blocks = difference.new_blocks = 5;
  difference.differing_blocks = 3;
  difference.partition.push_back({"volume label", "\"PHONE\"", "\"OTHER\""});
  difference.outside.push_back({"prefix", "4 bytes, CRC-32 00000000", "6 bytes, CRC-32 11111111"});
  difference.block_ranges = {{1, 1, 0x01000400, 0x010083FF}, {3, 4, 0x01010400, 0x010183FF}};
  EXPECT_EQ(ReportLines(difference),
            (std::vector<DiffLine>{
                {"新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.", {"0", "0", "0", "5", "3"}},
                {"  分区: %1: %2 -> %3", {"volume label", "\"PHONE\"", "\"OTHER\""}},
                {"  载荷之外: %1: %2 -> %3", {"prefix", "4 bytes, CRC-32 00000000", "6 bytes, CRC-32 11111111"}},
                {"  块 %1 不同 (地址 %2-%3)", {"1", "0x01000400", "0x010083FF"}},
                {"  块 %1 不同 (地址 %2-%3)", {"3-4", "0x01010400", "0x010183FF"}},
            }));
}

// The JSON shape the README documents, byte for byte.
TEST(DiffReportTest, JsonHasTheDocumentedShape) {
  FirmwareDifference difference;
  difference.kind = PartitionKind::kUda;
  difference.old_blocks = 2;
  difference.new_blocks = 3;
  difference.differing_blocks = 2;
  difference.old_files = 2;
  difference.new_files = 2;
  difference.old_file_bytes = 10;
  difference.new_file_bytes = 12;
  difference.entries.push_back(File("new \"quoted\"\\name\x01.txt", EntryStatus::kAdded, 0, 7));
  EntryDifference changed = File("dir/", EntryStatus::kChanged, 0, 0);
  changed.folder = true;
  changed.content_changed = false;
  changed.fields.push_back({"time", "2010-01-02 03:04:06", "2010-01-02 03:14:06"});
  difference.entries.push_back(changed);
  difference.partition.push_back({"volume label", "\"PHONE\"", "none"});
  difference.block_ranges = {{1, 2, 0x40000, 0x9FFFF}};
  EXPECT_EQ(DiffJson(difference, "/fw/a.uda.bin", "/fw/REB-a.uda.bin"),
            "{\n"
            "  \"old\": \"/fw/a.uda.bin\",\n"
            "  \"new\": \"/fw/REB-a.uda.bin\",\n"
            "  \"kind\": \"UDA\",\n"
            "  \"model\": 0,\n"
            "  \"same\": false,\n"
            "  \"summary\": {\"files_added\": 1, \"files_changed\": 0, \"files_removed\": 0, \"folders_added\": 0, "
            "\"folders_changed\": 1, \"folders_removed\": 0, \"blocks_differ\": 2},\n"
            "  \"partition_problem\": null,\n"
            "  \"files\": {\"old\": 2, \"new\": 2, \"old_bytes\": 10, \"new_bytes\": 12},\n"
            "  \"entries\": [\n"
            "    {\"path\": \"new \\\"quoted\\\"\\\\name\\u0001.txt\", \"folder\": false, \"status\": \"added\", "
            "\"old_size\": null, \"new_size\": 7, \"old_hidden\": false, \"new_hidden\": false, "
            "\"content_changed\": false, \"fields\": []},\n"
            "    {\"path\": \"dir/\", \"folder\": true, \"status\": \"changed\", \"old_size\": null, \"new_size\": null, "
            "\"old_hidden\": false, \"new_hidden\": false, \"content_changed\": false, \"fields\": [{\"field\": "
            "\"time\", \"old\": \"2010-01-02 03:04:06\", \"new\": \"2010-01-02 03:14:06\"}]}\n"
            "  ],\n"
            "  \"partition\": [{\"field\": \"volume label\", \"old\": \"\\\"PHONE\\\"\", \"new\": \"none\"}],\n"
            "  \"outside\": [],\n"
            "  \"blocks\": {\"old\": 2, \"new\": 3, \"differ\": 2, \"ranges\": [{\"first\": 1, \"last\": 2, "
            "\"first_address\": 262144, \"last_address\": 655359}]}\n"
            "}\n");
}

}  // namespace
}  // namespace larkspur::diff
