#include "vpl/package_folder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "port/errors.h"
#include "port/files.h"
#include "port/folders.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/vpl_fixtures.h"
#include "vpl/file_crc.h"
#include "vpl/vpl_writer.h"

namespace larkspur::vpl {
namespace {

using testing::EncodedVpl;
using testing::kVplForms;
using testing::PatternBytes;
using testing::ScratchFolder;

constexpr char kListsFirmware[] =
    "<Files>\n<File><Name>RM-596.ROFS2.V20</Name><Crc>c0d79d0d</Crc></File>\n"
    "<File><Name>RM-596.dcp</Name><Signed>true</Signed></File>\n</Files>\n";
constexpr char kListsOther[] = "<File><Name>other.bin</Name><Crc>00000000</Crc></File>";
constexpr char kListsFirmwareTwice[] =
    "<File><Name>RM-596.rofs2.V20</Name></File><File><Name>rm-596.rofs2.v20</Name></File>";
constexpr char kBroken[] = "<File><Name>RM-596.rofs2.V20</Name>";

std::vector<std::string> FileNamesIn(const std::string& folder) {
  std::vector<port::DirEntry> entries;
  EXPECT_TRUE(port::ListDirectory(folder, entries)) << folder;
  std::vector<std::string> names;
  for (const port::DirEntry& entry : entries) names.push_back(entry.name + (entry.is_directory ? "/" : ""));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(PackageFolderTest, FindsTheOneListOfAFirmwareFile) {
  const std::string utf16_lists_firmware = EncodedVpl(kListsFirmware, kVplForms[2]);
  const struct {
    const char* label;
    std::map<std::string, std::string> files;  // in the folder pkg
    VplListing::Kind kind;
    const char* vpl;     // kListed: the list's name
    const char* reason;  // "@" stands for the folder
  } kCases[] = {
      {"listed in another letter case", {{"a.vpl", kListsFirmware}}, VplListing::Kind::kListed, "a.vpl", ""},
      {"in UTF-16, beside lists of others",
       {{"a.vpl", kListsOther}, {"b.VPL", utf16_lists_firmware}, {"c.vpl", ""}},
       VplListing::Kind::kListed, "b.VPL", ""},
      {"no list", {{"RM-596.dcp", "x"}}, VplListing::Kind::kNotListed, "", ""},
      {"lists of others, an empty one, names that only look like lists",
       {{"a.vpl", kListsOther}, {"e.vpl", ""}, {"vpl", kBroken}, {"x.vpl.bak", kBroken}, {"dir.vpl/x", kBroken}},
       VplListing::Kind::kNotListed, "", ""},
      {"two lists", {{"a.vpl", kListsFirmware}, {"b.vpl", utf16_lists_firmware}, {"c.vpl", kBroken}},
       VplListing::Kind::kAmbiguous, "",
       "\"rm-596.rofs2.v20\" is named by more than one <File>: 1 in \"@a.vpl\", 1 in \"@b.vpl\""},
      {"one list, twice", {{"a.vpl", kListsFirmwareTwice}}, VplListing::Kind::kAmbiguous, "",
       "\"rm-596.rofs2.v20\" is named by more than one <File>: 2 in \"@a.vpl\""},
      {"a list that cannot be read", {{"a.vpl", kListsFirmware}, {"z.vpl", kBroken}}, VplListing::Kind::kUnreadable,
       "", "@z.vpl at byte 0x0: <File> without </File>"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    ScratchFolder scratch;
    scratch.Write("pkg/rm-596.rofs2.v20", "firmware");
    for (const auto& [name, content] : test.files) scratch.Write("pkg/" + name, content);
    const std::string folder = port::JoinPath(scratch.Path("pkg"), "");
    const VplListing listing = FindVplListing(folder + "rm-596.rofs2.v20");
    EXPECT_EQ(listing.kind, test.kind);
    std::string reason = test.reason;
    if (const auto at = reason.find('@'); at != std::string::npos) reason.replace(at, 1, folder);
    if (const auto at = reason.find('@'); at != std::string::npos) reason.replace(at, 1, folder);
    EXPECT_EQ(listing.reason, reason);
    if (test.kind == VplListing::Kind::kListed) {
      EXPECT_EQ(listing.vpl_path, folder + test.vpl);
      EXPECT_EQ(listing.vpl_bytes, scratch.Read("pkg/" + std::string(test.vpl)));
      EXPECT_EQ(listing.entry().name, "RM-596.ROFS2.V20");
      EXPECT_EQ(CrcOfEntry(listing.entry()), 0xC0D79D0Du);
    }
    if (test.kind == VplListing::Kind::kAmbiguous) {
      EXPECT_GE(listing.listing_paths.size(), 2u);
    }
  }
  ScratchFolder scratch;
  const VplListing missing = FindVplListing(scratch.Path("none/RM-596.rofs2.V20"));
  EXPECT_EQ(missing.kind, VplListing::Kind::kUnreadable);
  EXPECT_EQ(missing.reason, "Cannot list folder \"" + port::JoinPath(scratch.Path("none"), "") + "\"");
}

// Python's zlib.crc32 of PatternBytes(1000, 11), printed once with "%08x":
// the repacked file's CRC.
constexpr std::uint32_t kRepackedCrc = 0x2a1a2703;

// A package folder "pkg" with its list in UTF-16, a repacked file in
// "home", and the sources for a flashable copy of the package.
class FlashableFolderTest : public ::testing::Test {
 protected:
  FlashableFolderTest() {
    scratch_.Write("pkg/RM-596.rofs2.V20", PatternBytes(5000, 1));
    vpl_bytes_ = EncodedVpl(kListsFirmware, kVplForms[2]);
    scratch_.Write("pkg/RM-596.vpl", vpl_bytes_);
    scratch_.Write("pkg/RM-596.dcp", PatternBytes(300, 2));
    // "a.partial" is the name a file "a" is written through, and on Windows
    // that is "A.partial" too, which comes before "a" in name order.
    scratch_.Write("pkg/a", "a");
    scratch_.Write("pkg/A.partial", "not a temporary");
    scratch_.Write("pkg/empty.bin", "");
    scratch_.Write("pkg/sub/inner.txt", "inner");
    repacked_ = PatternBytes(1000, 11);
    const VplFile vpl = ParseVpl(vpl_bytes_, "RM-596.vpl");
    sources_ = {.package_folder = scratch_.Path("pkg"),
                .firmware_name = "RM-596.rofs2.V20",
                .repacked_path = scratch_.Write("home/REB-RM-596.rofs2.V20", repacked_),
                .vpl_name = "RM-596.vpl",
                .vpl_bytes = RewriteCrc(vpl_bytes_, vpl, vpl.entries[0], kRepackedCrc, "RM-596.vpl")};
    target_ = scratch_.Path("out");
  }

  // The copy holds the package with the repacked file and the new list,
  // the flasher finds the repacked file's CRC in it, and the package is
  // as it was.
  void ExpectFlashableCopy(const FlashableFolderWritten& written) {
    EXPECT_EQ(written.folder, target_);
    EXPECT_EQ(written.firmware_name, "RM-596.rofs2.V20");
    EXPECT_EQ(written.copied, (std::vector<std::string>{"A.partial", "RM-596.dcp", "a", "empty.bin"}));
    EXPECT_EQ(written.left_out, std::vector<std::string>{"sub"});
    EXPECT_EQ(FileNamesIn(target_), (std::vector<std::string>{"A.partial", "RM-596.dcp", "RM-596.rofs2.V20",
                                                              "RM-596.vpl", "a", "empty.bin"}));
    EXPECT_EQ(scratch_.Read("out/RM-596.rofs2.V20"), repacked_);
    EXPECT_EQ(scratch_.Read("out/RM-596.vpl"), sources_.vpl_bytes);
    EXPECT_EQ(scratch_.Read("out/RM-596.dcp"), PatternBytes(300, 2));
    EXPECT_EQ(scratch_.Read("out/a"), "a");
    EXPECT_EQ(scratch_.Read("out/A.partial"), "not a temporary");
    EXPECT_EQ(scratch_.Read("out/empty.bin"), "");
    EXPECT_FALSE(scratch_.Exists("out.partial"));
    const VplListing listing = FindVplListing(port::JoinPath(target_, "RM-596.rofs2.V20"));
    ASSERT_EQ(listing.kind, VplListing::Kind::kListed);
    EXPECT_EQ(CrcOfEntry(listing.entry()), kRepackedCrc);
    EXPECT_EQ(Crc32OfFile(port::JoinPath(target_, "RM-596.rofs2.V20")), kRepackedCrc);
    EXPECT_EQ(scratch_.Read("pkg/RM-596.rofs2.V20"), PatternBytes(5000, 1));
    EXPECT_EQ(scratch_.Read("pkg/RM-596.vpl"), vpl_bytes_);
  }

  // The error's what() when the write is refused.
  std::string Refusal() {
    try {
      WriteFlashableFolder(sources_, target_);
    } catch (const Error& error) {
      return error.what();
    }
    return "(written)";
  }

  // What a refused write must leave: no target, no temporary folder.
  void ExpectRefused(const std::string& message) {
    EXPECT_EQ(Refusal(), message);
    EXPECT_FALSE(scratch_.Exists("out"));
    EXPECT_FALSE(scratch_.Exists("out.partial"));
  }

  std::string Cannot(const std::string& reason) const {
    return "Cannot write the package folder \"" + target_ + "\". " + reason;
  }

  ScratchFolder scratch_;
  std::string vpl_bytes_;
  std::string repacked_;
  FlashableFolderSources sources_;
  std::string target_;
};

TEST_F(FlashableFolderTest, WritesThePackageWithTheRepackedFileAndItsCrc) {
  ExpectFlashableCopy(WriteFlashableFolder(sources_, target_ + port::kPathSeparator));
}

// The name as the user typed it differs from the package's in letter case:
// the package's spelling stays, and no second file appears.
TEST_F(FlashableFolderTest, KeepsThePackagesSpellingOfTheNames) {
  sources_.firmware_name = "rm-596.ROFS2.v20";
  sources_.vpl_name = "RM-596.VPL";
  ExpectFlashableCopy(WriteFlashableFolder(sources_, target_));
}

TEST_F(FlashableFolderTest, TakesAnEmptyFolderAsTarget) {
  port::CreateNewFolder(target_);
  ExpectFlashableCopy(WriteFlashableFolder(sources_, target_));
}

TEST_F(FlashableFolderTest, LeavesATargetThatIsThere) {
  scratch_.Write("out/keep.txt", "keep");
  EXPECT_EQ(Refusal(), Cannot("It exists and is not empty"));
  EXPECT_EQ(FileNamesIn(target_), std::vector<std::string>{"keep.txt"});
  EXPECT_FALSE(scratch_.Exists("out.partial"));

  ScratchFolder other;
  target_ = other.Write("out", "a file");
  EXPECT_EQ(Refusal(), Cannot("It exists and is not a folder"));
  EXPECT_EQ(other.Read("out"), "a file");
}

// A list that does not give the repacked file its CRC would make the
// flasher refuse the folder: nothing is written.
TEST_F(FlashableFolderTest, RefusesAListWithoutTheRepackedFilesCrc) {
  sources_.vpl_bytes = vpl_bytes_;
  ExpectRefused(Cannot("The new \"RM-596.vpl\" does not give \"RM-596.rofs2.V20\" its CRC 2a1a2703, but \"c0d79d0d\""));
  sources_.vpl_bytes = EncodedVpl(kListsFirmwareTwice, kVplForms[0]);
  ExpectRefused(Cannot("The new \"RM-596.vpl\" does not give \"RM-596.rofs2.V20\" its CRC 2a1a2703, naming it 2 times"));
  sources_.vpl_bytes = kBroken;
  ExpectRefused(port::JoinPath(target_, "RM-596.vpl") + " at byte 0x0: <File> without </File>");
}

TEST_F(FlashableFolderTest, RemovesWhatItWroteWhenAFileCannotBeRead) {
  sources_.repacked_path = scratch_.Path("home/missing");
  ExpectRefused("Cannot open file \"" + sources_.repacked_path + "\". The file is missing or not a regular file");
}

// A temporary folder left by a run that stopped is not taken over.
TEST_F(FlashableFolderTest, LeavesATemporaryFolderThatIsThere) {
  scratch_.Write("out.partial/left.txt", "left");
  const std::string refusal = Refusal();
  EXPECT_EQ(refusal.rfind("Cannot create folder \"" + target_ + ".partial\". ", 0), 0u) << refusal;
  EXPECT_EQ(scratch_.Read("out.partial/left.txt"), "left");
  EXPECT_FALSE(scratch_.Exists("out"));
}

#ifndef _WIN32
// Two names the flasher cannot tell apart: which one to replace is not
// guessed.
TEST_F(FlashableFolderTest, RefusesAPackageWithTheFirmwareNameTwice) {
  scratch_.Write("pkg/rm-596.ROFS2.v20", "other");
  ExpectRefused(Cannot("The package folder holds both \"RM-596.rofs2.V20\" and \"rm-596.ROFS2.v20\""));
}
#endif

}  // namespace
}  // namespace larkspur::vpl
