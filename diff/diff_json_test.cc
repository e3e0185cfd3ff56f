#include "diff/diff_json.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/difference_fixtures.h"

namespace larkspur::diff {
namespace {

// The JSON shape the README documents, byte for byte.
TEST(DiffJsonTest, JsonHasTheDocumentedShape) {
  FirmwareDifference difference;
  difference.kind = PartitionKind::kUda;
  difference.old_blocks = 2;
  difference.new_blocks = 3;
  difference.differing_blocks = 2;
  difference.old_files = 2;
  difference.new_files = 2;
  difference.old_file_bytes = 10;
  difference.new_file_bytes = 12;
  difference.entries.push_back(testing::FileDifference("new \"quoted\"\\name\x01.txt", EntryStatus::kAdded, 0, 7));
  EntryDifference changed = testing::FileDifference("dir/", EntryStatus::kChanged, 0, 0);
  changed.folder = true;
  changed.content_changed = false;
  changed.fields.push_back({Field::kTime, {}, "2010-01-02 03:04:06", "2010-01-02 03:14:06"});
  difference.entries.push_back(changed);
  difference.partition.push_back({Field::kVolumeLabel, {}, "\"PHONE\"", std::nullopt});
  difference.outside.push_back({Field::kNamedBlockHeader, {"0", "NOLO", "+5"}, "01 02", "01 03"});
  difference.block_ranges = {{1, 2, 0x40000, 0x9FFFF}};
  EXPECT_EQ(
      DiffJson(difference, "/fw/a.uda.bin", "/fw/REB-a.uda.bin"),
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
      "\"time\", \"at\": [], \"old\": \"2010-01-02 03:04:06\", \"new\": \"2010-01-02 03:14:06\"}]}\n"
      "  ],\n"
      "  \"partition\": [{\"field\": \"volume label\", \"at\": [], \"old\": \"\\\"PHONE\\\"\", \"new\": null}],\n"
      "  \"outside\": [{\"field\": \"named block header\", \"at\": [\"0\", \"NOLO\", \"+5\"], \"old\": \"01 02\", "
      "\"new\": \"01 03\"}],\n"
      "  \"blocks\": {\"old\": 2, \"new\": 3, \"differ\": 2, \"ranges\": [{\"first\": 1, \"last\": 2, "
      "\"first_address\": 262144, \"last_address\": 655359}]}\n"
      "}\n");
}

}  // namespace
}  // namespace larkspur::diff
