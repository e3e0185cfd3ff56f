#include "pipeline/difference_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/difference_fixtures.h"

namespace larkspur::pipeline {
namespace {

using diff::EntryDifference;
using diff::EntryStatus;
using diff::Field;
using diff::FirmwareDifference;

// A Repack's summary: the counts, the warning when most of the input is
// gone, the entries up to the cap and a count of the rest.
TEST(DifferenceReportTest, TheSummaryCountsCapsAndWarns) {
  FirmwareDifference difference;
  difference.old_blocks = 34;
  difference.new_blocks = 33;
  difference.differing_blocks = 12;
  difference.old_files = 210;
  difference.new_files = 185;
  difference.old_file_bytes = 1000;
  difference.new_file_bytes = 900;
  difference.entries.push_back(testing::FileDifference("a/", EntryStatus::kAdded, 0, 0));
  difference.entries.back().folder = true;
  difference.entries.push_back(testing::FileDifference("a/hidden.dll", EntryStatus::kAdded, 0, 0));
  difference.entries.back().new_hidden = true;
  for (int i = 0; i < 25; ++i) {
    difference.entries.push_back(
        testing::FileDifference("gone" + std::to_string(10 + i) + ".txt", EntryStatus::kRemoved, 4, 0));
  }
  EntryDifference changed = testing::FileDifference("z.txt", EntryStatus::kChanged, 100, 120);
  changed.fields.push_back({Field::kTime, {}, "2010-01-02 03:04:06", "2024-05-17 13:45:08"});
  difference.entries.push_back(changed);
  EntryDifference made_hidden = testing::FileDifference("y.dll", EntryStatus::kChanged, 8, 0);
  made_hidden.content_changed = false;
  made_hidden.new_hidden = true;
  difference.entries.push_back(made_hidden);

  std::vector<Text> lines = SummaryLines(difference, 3);
  EXPECT_EQ(lines,
            (std::vector<Text>{
                Text("新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.",
                     {std::string("1"), std::string("2"), std::string("25"), std::string("34"), std::string("12")}),
                Text("  新增文件夹 %1", {std::string("a/")}),
                Text("  新增 %1 (隐藏项)", {std::string("a/hidden.dll")}),
                Text("  删除 %1 (%2 字节)", {std::string("gone10.txt"), std::string("4")}),
                Text("  ……还有 %1 项", {std::string("26")}),
            }));
  lines = SummaryLines(difference, 100);
  ASSERT_EQ(lines.size(), 1u + 29u);
  const Text time_changed("%1: %2 -> %3",
                          {Text("修改时间"), std::string("2010-01-02 03:04:06"), std::string("2024-05-17 13:45:08")});
  EXPECT_EQ(
      lines[lines.size() - 2],
      Text("  修改 %1 (%2)", {std::string("z.txt"),
                              Text("%1; %2", {Text("内容不同, 大小 %1 -> %2", {std::string("100"), std::string("120")}),
                                              time_changed})}));
  EXPECT_EQ(lines.back(), Text("  修改 %1 (%2)", {std::string("y.dll"), Text("文件变为隐藏项")}));

  // Fewer than half the files, or fewer than half their bytes, are left.
  const char* warning =
      "警告: 新文件只剩原文件不到一半的文件或字节 (剩下 %2 个文件中的 %1 个, %4 字节中的 %3 字节), 请确认这是你想要的.";
  difference.new_files = 1;
  EXPECT_EQ(SummaryLines(difference, 0).at(1),
            Text(warning, {std::string("1"), std::string("210"), std::string("900"), std::string("1000")}));
  difference.new_files = 105;
  difference.new_file_bytes = 499;
  EXPECT_EQ(SummaryLines(difference, 0).at(1),
            Text(warning, {std::string("105"), std::string("210"), std::string("499"), std::string("1000")}));
  difference.new_file_bytes = 500;
  EXPECT_EQ(SummaryLines(difference, 0).size(), 2u) << "exactly half is no warning";

  difference.partition_problem = "new: ROFS header at 0x6: format version 0x300 is not 0x200";
  EXPECT_EQ(SummaryLines(difference, 20),
            (std::vector<Text>{Text("无法比较分区中的文件 (%1); %2 个块中有 %3 个不同.",
                                    {difference.partition_problem, std::string("34"), std::string("12")})}));
}

// The whole report: fields with words where a value is none or a yes or
// no, and the runs of blocks.
TEST(DifferenceReportTest, TheReportTellsEverythingOrThatTheFilesAreTheSame) {
  EXPECT_EQ(ReportLines(FirmwareDifference{}), (std::vector<Text>{Text("两个文件完全相同 (同一个固件, 逐字节一致).")}));
  FirmwareDifference difference;
  difference.old_blocks = difference.new_blocks = 5;
  difference.differing_blocks = 3;
  difference.partition.push_back({Field::kVolumeLabel, {}, "\"PHONE\"", std::nullopt});
  difference.partition.push_back({Field::kFatCopiesAgree, {}, "true", "false"});
  difference.outside.push_back({Field::kNamedBlockPayload, {"0", "NOLO"}, "1024, 00000000", "1024, 11111111"});
  difference.block_ranges = {{1, 1, 0x01000400, 0x010083FF}, {3, 4, 0x01010400, 0x010183FF}};
  EXPECT_EQ(
      ReportLines(difference),
      (std::vector<Text>{
          Text("新增 %1 个文件, 修改 %2 个, 删除 %3 个; %4 个块中有 %5 个不同.",
               {std::string("0"), std::string("0"), std::string("0"), std::string("5"), std::string("3")}),
          Text("  分区: %1", {Text("%1: %2 -> %3", {Text("卷标", {}), std::string("\"PHONE\""), Text("无")})}),
          Text("  分区: %1", {Text("%1: %2 -> %3", {Text("各份 FAT 一致", {}), Text("是"), Text("否")})}),
          Text("  载荷之外: %1",
               {Text("%1: %2 -> %3",
                     {Text("命名块 %1 (%2) 的载荷 (长度, CRC-32)", {std::string("0"), std::string("NOLO")}),
                      std::string("1024, 00000000"), std::string("1024, 11111111")})}),
          Text("  不同的块: %1 (地址 %2-%3)", {std::string("1"), std::string("0x01000400"), std::string("0x010083FF")}),
          Text("  不同的块: %1 (地址 %2-%3)",
               {std::string("3-4"), std::string("0x01010400"), std::string("0x010183FF")}),
      }));
}

}  // namespace
}  // namespace larkspur::pipeline
