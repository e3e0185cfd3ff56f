// The ROFS build step's handling of the image it moves.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "port/files.h"
#include "testing/firmware_fixture.h"
#include "testing/program_folder.h"

namespace larkspur {
namespace {

// What stands where the built image goes (even a folder) is put aside for
// the length of the Repack, and goes once the REB- file is written.
TEST(BuildStepTest, WhatStandsWhereTheImageGoesIsPutAside) {
  testing::ProgramFolder home;
  home.InstallBuiltTools();
  home.Write("rofs2/readme.txt", "hello");
  home.Write("temp/rofs2r.img/keep", "x");
  testing::Session s(home);
  const std::string input = home.Write("fw.rofs2.V1", testing::MakeFirmware({}, "ROFS0\xFF" "abc"));
  home.MarkExtracted(input);
  s.Open(input);
  s.Repack();
  EXPECT_EQ(s.form.LastOutcome(), TForm1::Outcome::kDone);
  EXPECT_FALSE(home.Exists("exebat/rofs2r.img"));
  EXPECT_TRUE(std::filesystem::is_regular_file(home.Path("temp/rofs2r.img")));
  EXPECT_FALSE(home.Exists("temp/rofs2r.img.held"));
  EXPECT_TRUE(home.Exists("REB-fw.rofs2.V1"));
  EXPECT_TRUE(s.MenuEnabled(MenuItem::kOpen));
}

}  // namespace
}  // namespace larkspur
