#include "tools/larkspur-cli/cli_options.h"

#include <gtest/gtest.h>

namespace larkspur {
namespace {

TEST(CliOptionsTest, ParsesCommandsModelsAndHome) {
  const CliOptions a = ParseCliOptions({"--model", "n96", "--home", "/h", "extract", "f.uda.bin"});
  EXPECT_EQ(a.command, CliOptions::Command::kExtract);
  EXPECT_EQ(a.model, 1);
  EXPECT_EQ(a.home, "/h");
  EXPECT_EQ(a.file, "f.uda.bin");
  const std::pair<const char*, int> models[] = {{"0", 0},    {"5530", 0}, {"5800", 0}, {"N97", 0}, {"n86", 0},
                                                     {"N96", 1},  {"2", 2},    {"5320", 2}, {"n78", 3}};
  for (const auto& [name, index] : models) EXPECT_EQ(ParseCliOptions({"--model", name, "info", "f"}).model, index);
  EXPECT_FALSE(ParseCliOptions({"verify", "f"}).model);
  EXPECT_EQ(ParseCliOptions({"--version"}).command, CliOptions::Command::kVersion);
  EXPECT_EQ(ParseCliOptions({"--kind", "Uda", "info", "f"}).kind, "UDA");
  EXPECT_EQ(ParseCliOptions({"--kind=rofs", "info", "f"}).kind, "ROFS");
  EXPECT_TRUE(ParseCliOptions({"--accept-damaged", "extract", "f"}).accept_damaged);
  const CliOptions repack = ParseCliOptions({"repack", "--keep-lead", "--extend-erase-area", "f"});
  EXPECT_TRUE(repack.keep_lead && repack.extend_erase_area);
  EXPECT_FALSE(repack.accept_damaged);
  const CliOptions diff = ParseCliOptions({"--json", "diff", "old.uda.bin", "REB-old.uda.bin"});
  EXPECT_EQ(diff.command, CliOptions::Command::kDiff);
  EXPECT_TRUE(diff.json);
  EXPECT_EQ(diff.file, "old.uda.bin");
  EXPECT_EQ(diff.new_file, "REB-old.uda.bin");
  // The installed launcher puts its --home in front of every command, and a
  // user's own --home after it wins.
  for (const char* command : {"info", "verify", "extract", "repack"}) {
    const CliOptions o = ParseCliOptions({"--home", "/data/larkspur", "--home=/mine", command, "f"});
    EXPECT_EQ(o.home, "/mine") << command;
    EXPECT_EQ(o.file, "f") << command;
  }
}

TEST(CliOptionsTest, UsageErrors) {
  const std::vector<std::vector<std::string>> bad = {
      {}, {"extract"}, {"frobnicate", "f"}, {"--model", "9", "info", "f"}, {"--model"}, {"--bogus", "info", "f"},
      {"info", "a", "b"}, {"--kind", "fat", "info", "f"}, {"--home"},
      {"--accept-damaged", "repack", "f"}, {"--keep-lead", "extract", "f"}, {"--extend-erase-area", "verify", "f"},
      {"diff", "a"}, {"diff", "a", "b", "c"}, {"--json", "info", "f"},
  };
  for (const auto& arguments : bad) EXPECT_THROW(ParseCliOptions(arguments), UsageError) << arguments.size();
}

}  // namespace
}  // namespace larkspur
