#include "rofs/rofs_extract.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "rofs/rofs_errors.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

std::string FileText(const fs::path& path) {
  const auto bytes = testing::ReadBytes(path);
  return std::string(bytes.begin(), bytes.end());
}

TEST(RofsExtractTest, TheReferenceImageGivesBackItsInputTree) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto bytes = testing::ReadBytes(shared / "case1_rofs2r.img");
  const RofsImage image = ParseRofsImage(bytes, "case1_rofs2r.img");
  ScratchFolder temp;
  const fs::path out = temp.root() / "new" / "rofs2";  // made on demand
  const ExtractStats stats = ExtractImage(bytes, image, "case1_rofs2r.img", out);
  EXPECT_EQ(stats.files, 210u);
  EXPECT_EQ(stats.folders, 5u);

  std::set<std::string> expected;
  for (const auto& entry : testing::ReadTar(testing::ReadBytes(shared / "case1_input_tree.tar"))) {
    if (entry.is_directory) continue;
    const std::string relative = entry.path.substr(std::string("rofs2/").size());
    expected.insert(relative);
    EXPECT_EQ(testing::ReadBytes(out / testing::Utf8Path(relative)), entry.data) << relative;
  }
  // Names keep their stored case, folders included.
  EXPECT_TRUE(expected.count("my documents/Second Note.TXT"));
  EXPECT_EQ(testing::FilesBelow(out), expected);
}

TEST(RofsExtractTest, HiddenEntriesAreNotWrittenAndOldFilesAreReplaced) {
  const auto bytes = testing::BuildInMemory(
      {{"Sys\\Bin\\old.dll", "", true}, {"Sys\\Bin\\New.dll", "new"}, {"top.txt", "top"}});
  const RofsImage image = ParseRofsImage(bytes, "mem.img");
  ScratchFolder temp;
  fs::create_directories(temp.root() / "Sys" / "Bin");
  testing::WriteBytes(temp.root() / "top.txt", testing::ByteVector("an older and longer text"));
  std::vector<std::pair<std::size_t, std::size_t>> reports;
  const ExtractStats stats =
      ExtractImage(bytes, image, "mem.img", temp.root(),
                   [&reports](std::size_t done, std::size_t total) { reports.emplace_back(done, total); });
  EXPECT_EQ(stats.hidden_skipped, 1u);
  EXPECT_EQ(stats.files, 2u);
  // Folders and hidden entries are not counted.
  EXPECT_EQ(reports, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 2}, {1, 2}, {2, 2}}));
  EXPECT_EQ(FileText(temp.root() / "top.txt"), "top");
  EXPECT_EQ(testing::FilesBelow(temp.root()), (std::set<std::string>{"Sys/Bin/New.dll", "top.txt"}));
}

// Files are created under their own names: a file beside one, named like
// its temporary copy ("x.partial"), is left as it is.
TEST(RofsExtractTest, AFileNamedLikeAnotherFilesTemporaryCopyIsLeftAlone) {
  const auto bytes = testing::BuildInMemory({{"x", "the file"}});
  const RofsImage image = ParseRofsImage(bytes, "mem.img");
  ScratchFolder temp;
  testing::WriteBytes(temp.root() / "x.partial", testing::ByteVector("kept"));
  ExtractImage(bytes, image, "mem.img", temp.root());
  EXPECT_EQ(FileText(temp.root() / "x"), "the file");
  EXPECT_EQ(FileText(temp.root() / "x.partial"), "kept");
}

struct BadName {
  const char* label;
  bool is_folder;
  std::u16string name;  // written over a placeholder of the same length
  std::string reason;
};

// An image whose entry name was changed after building, since the writer
// refuses to store such names.
std::vector<std::uint8_t> ImageWithName(bool is_folder, const std::u16string& name,
                                        std::uint32_t& entry_offset) {
  const std::string placeholder(std::max<std::size_t>(name.size(), 1), 'p');
  auto bytes = testing::BuildInMemory(
      {{"ok.txt", "ok"}, {is_folder ? placeholder + "\\f.txt" : placeholder, "data"}});
  const RofsImage image = ParseRofsImage(bytes, "bad.img");
  entry_offset =
      is_folder ? image.root.subdirectories[0].entry_offset : image.root.files[1].entry_offset;
  bytes[entry_offset + kEntryNameLengthOffset] = static_cast<std::uint8_t>(name.size());
  for (std::size_t i = 0; i < name.size(); ++i) {
    bytes[entry_offset + kEntryFixedSize + 2 * i] = static_cast<std::uint8_t>(name[i]);
    bytes[entry_offset + kEntryFixedSize + 2 * i + 1] = static_cast<std::uint8_t>(name[i] >> 8);
  }
  return bytes;
}

TEST(RofsExtractTest, UnsafeNamesAreRefusedBeforeAnythingIsWritten) {
  const std::vector<BadName> cases = {
      {"empty", false, u"", "the name is empty"},
      {"dot", true, u".", "the name \".\" or \"..\" would leave its folder"},
      {"dot dot folder", true, u"..", "the name \".\" or \"..\" would leave its folder"},
      {"dot dot file", false, u"..", "the name \".\" or \"..\" would leave its folder"},
      {"slash", false, u"../x", "the name holds a path separator"},
      {"backslash", true, u"..\\x", "the name holds a path separator"},
      {"absolute", false, u"/etc", "the name holds a path separator"},
      {"drive", false, u"C:x", "the name holds a colon"},
      {"nul", false, std::u16string(u"a\0b", 3), "the name holds a NUL character"},
      {"unpaired surrogate", false, u"a\xD800", "the name holds an unpaired UTF-16 surrogate"},
  };
  for (const BadName& c : cases) {
    SCOPED_TRACE(c.label);
    std::uint32_t entry_offset = 0;
    const auto bytes = ImageWithName(c.is_folder, c.name, entry_offset);
    const RofsImage image = ParseRofsImage(bytes, "bad.img");
    ScratchFolder temp;
    const fs::path out = temp.root() / "out";
    try {
      ExtractImage(bytes, image, "bad.img", out);
      ADD_FAILURE() << "no error";
    } catch (const FormatError& error) {
      const std::string shown = c.label == std::string("nul") ? std::string("a\\x00b")
                                : c.label == std::string("unpaired surrogate")
                                    ? "a\xEF\xBF\xBD"
                                    : std::string(c.name.begin(), c.name.end());
      EXPECT_EQ(std::string(error.what()), "bad.img: ROFS entry at " + HexNumber(entry_offset) +
                                               ": name \"" + shown +
                                               "\" cannot be extracted: " + c.reason);
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(testing::FilesBelow(temp.root()), std::set<std::string>{});
  }
}

TEST(RofsExtractTest, NamesThePhoneTakesAsEqualAreRefused) {
  auto bytes = testing::BuildInMemory({{"dir\\Readme.txt", "1"}, {"dir\\zzzzzz.txt", "2"}});
  const RofsImage clean = ParseRofsImage(bytes, "dup.img");
  const std::uint32_t second = clean.root.subdirectories[0].files[1].entry_offset;
  const std::u16string clash = u"README.TXT";
  // Same length as "zzzzzz.txt", so the entry keeps its size.
  for (std::size_t i = 0; i < clash.size(); ++i) {
    bytes[second + kEntryFixedSize + 2 * i] = static_cast<std::uint8_t>(clash[i]);
    bytes[second + kEntryFixedSize + 2 * i + 1] = 0;
  }
  const RofsImage image = ParseRofsImage(bytes, "dup.img");
  ScratchFolder temp;
  try {
    ExtractImage(bytes, image, "dup.img", temp.root() / "out");
    ADD_FAILURE() << "no error";
  } catch (const FormatError& error) {
    EXPECT_EQ(std::string(error.what()),
              "dup.img: ROFS entry at " + HexNumber(second) +
                  ": name \"README.TXT\" repeats the name of "
                  "the entry at " +
                  HexNumber(clean.root.subdirectories[0].files[0].entry_offset) +
                  " in the same folder (names match ignoring ASCII case)");
  }
  EXPECT_FALSE(fs::exists(temp.root() / "out"));
}

TEST(RofsExtractTest, SymbolicLinksInTheOutputFolderAreNotFollowed) {
  const auto bytes = testing::BuildInMemory({{"sys\\f.txt", "inside"}, {"a.txt", "new"}});
  const RofsImage image = ParseRofsImage(bytes, "link.img");
  struct LinkCase {
    const char* label;
    bool folder;
    const char* link_name;
  };
  for (const LinkCase& c :
       {LinkCase{"folder link", true, "sys"}, LinkCase{"file link", false, "a.txt"}}) {
    SCOPED_TRACE(c.label);
    ScratchFolder temp;
    const fs::path out = temp.root() / "out";
    const fs::path elsewhere = temp.root() / "elsewhere";
    fs::create_directories(out);
    fs::create_directories(elsewhere);
    testing::WriteBytes(elsewhere / "a.txt", testing::ByteVector("untouched"));
    try {
      if (c.folder) {
        fs::create_directory_symlink(elsewhere, out / c.link_name);
      } else {
        fs::create_symlink(elsewhere / "a.txt", out / c.link_name);
      }
    } catch (const fs::filesystem_error& error) {
      GTEST_SKIP() << "this system cannot make symbolic links here: " << error.what();
    }
    try {
      ExtractImage(bytes, image, "link.img", out);
      ADD_FAILURE() << "no error";
    } catch (const HostFileError& error) {
      EXPECT_EQ(std::string(error.what()),
                "Refusing to write through the symbolic link \"" + (out / c.link_name).string() +
                    "\": it stands where the image has a " + (c.folder ? "folder" : "file"));
    }
    EXPECT_EQ(testing::FilesBelow(elsewhere), std::set<std::string>{"a.txt"});
    EXPECT_EQ(FileText(elsewhere / "a.txt"), "untouched");
  }
}

TEST(RofsExtractTest, AFileWhereAFolderBelongsStopsExtraction) {
  const auto bytes = testing::BuildInMemory({{"sys\\f.txt", "x"}});
  const RofsImage image = ParseRofsImage(bytes, "in.img");
  ScratchFolder temp;
  testing::WriteBytes(temp.root() / "sys", testing::ByteVector("a file"));
  try {
    ExtractImage(bytes, image, "in.img", temp.root());
    ADD_FAILURE() << "no error";
  } catch (const HostFileError& error) {
    EXPECT_EQ(std::string(error.what()), "Cannot create folder \"" +
                                             (temp.root() / "sys").string() +
                                             "\": something that is not a folder has that name");
  }
}

}  // namespace
}  // namespace larkspur::rofs
