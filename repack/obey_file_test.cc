#include "repack/obey_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "rofs/host_names.h"
#include "rofs/kept_entries.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_reader.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_files.h"

namespace larkspur {
namespace {

TEST(ObeyFileTest, DataLinesAreWrittenAsTheyAre) {
  EXPECT_EQ(ObeyDataLine("rofs2\\readme.txt"), R"(data="..\rofs2\readme.txt" "readme.txt")");
  EXPECT_EQ(ObeyDataLine("rofs2\\sys\\bin\\app.exe"), R"(data="..\rofs2\sys\bin\app.exe" "sys\bin\app.exe")");
  EXPECT_EQ(ObeyDataLine("rofs2\\my docs\\Grüße \"x\".txt"),
            "data=\"..\\rofs2\\my docs\\Grüße \"x\".txt\" \"my docs\\Grüße \"x\".txt\"");
  EXPECT_EQ(JoinObeyLines({kObeyNameLine, kObeySizeLine}), "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n");
  EXPECT_EQ(JoinObeyLines({kObeyNameLine, kObeySizeLine}).size(), 42u);
}

TEST(ObeyFileTest, AttributeWordsAreSpelledAsTheSymbianToolsWriteThem) {
  struct Case {
    std::uint8_t attributes, extra;
    const char* words;
    bool expressible;
  };
  const Case cases[] = {
      {0x01, 0xFF, "", true},
      {0x06, 0xFF, " attrib=HS", true},
      {0x00, 0xFF, " attrib=W", true},
      {0x07, 0xFF, " attrib=RHS", true},
      {0x02, 0xFF, " attrib=H", true},
      {0x01, 0xFD, " exattrib=U", true},
      {0x04, 0xFD, " attrib=S exattrib=U", true},
      // Archive and the extra bits besides "unique" have no obey word.
      {0x21, 0xFF, "", false},
      {0x20, 0xFF, " attrib=W", false},
      {0x01, 0xFE, "", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    EXPECT_EQ(ObeyDataLine("rofs2\\attr\\a.txt", c.attributes, c.extra),
              std::string(R"(data="..\rofs2\attr\a.txt" "attr\a.txt")") + c.words);
    EXPECT_EQ(ObeyAttributesExpressible(c.attributes, c.extra), c.expressible);
  }
  EXPECT_EQ(ObeyHideLine({u"sys", u"bin", u"gone.dll"}), R"(hide "sys\bin\gone.dll")");
  EXPECT_EQ(ObeyHideLine({u"my docs", u"\u65E5\u672C.dll"}), "hide \"my docs\\\u65E5\u672C.dll\"");
}

TEST(ObeyFileTest, WithoutKeptEntriesTheLinesAreThePlainDataLines) {
  const std::vector<std::string> found = {"rofs2\\readme.txt", "rofs2\\sys\\bin\\app.exe"};
  const ObeyFileLines lines = BuildObeyFileLines(found, {});
  EXPECT_EQ(lines.lines, (std::vector<std::string>{ObeyDataLine(found[0]), ObeyDataLine(found[1])}));
  EXPECT_EQ(lines.hidden_kept, 0u);
  EXPECT_EQ(lines.attributes_kept, 0u);
  EXPECT_TRUE(lines.hidden_replaced.empty());
}

TEST(ObeyFileTest, KeptEntriesGiveAttributeWordsAndHideLines) {
  rofs::KeptEntries kept;
  kept.hidden = {{u"sys", u"bin", u"gone.dll"},
                 {u"Old", u"Thing.dll"},      // a file of rofs2 now stands there
                 {u"data", u"x"},             // a folder of rofs2 now stands there
                 {u"f.txt", u"sub"},          // below what is now a file
                 {u"bad\"name"},              // no obey line can hold it
                 {u"sys", u"bin", u"GONE.DLL"}};  // the same path again
  kept.attributes = {{{u"attr", u"HS.txt"}, 0x06, 0xFF},
                     {{u"ATTR", u"u.txt"}, 0x01, 0xFD},
                     {{u"arch.txt"}, 0x21, 0xFF},
                     {{u"deleted.txt"}, 0x00, 0xFF}};
  const std::vector<std::string> found = {
      "rofs2\\plain.txt",    "rofs2\\arch.txt",       "rofs2\\f.txt",  "rofs2\\attr\\hs.txt",
      "rofs2\\attr\\U.TXT", "rofs2\\old\\thing.dll", "rofs2\\data\\x\\y.txt"};
  const ObeyFileLines lines = BuildObeyFileLines(found, kept);
  EXPECT_EQ(lines.lines, (std::vector<std::string>{
                             R"(data="..\rofs2\plain.txt" "plain.txt")",
                             R"(data="..\rofs2\arch.txt" "arch.txt")",
                             R"(data="..\rofs2\f.txt" "f.txt")",
                             R"(data="..\rofs2\attr\hs.txt" "attr\hs.txt" attrib=HS)",
                             R"(data="..\rofs2\attr\U.TXT" "attr\U.TXT" exattrib=U)",
                             R"(data="..\rofs2\old\thing.dll" "old\thing.dll")",
                             R"(data="..\rofs2\data\x\y.txt" "data\x\y.txt")",
                             R"(hide "sys\bin\gone.dll")",
                         }));
  EXPECT_EQ(lines.hidden_kept, 1u);
  EXPECT_EQ(lines.attributes_kept, 2u);
  EXPECT_EQ(lines.hidden_replaced,
            (std::vector<std::string>{"Old\\Thing.dll", "data\\x", "f.txt\\sub", "sys\\bin\\GONE.DLL"}));
  EXPECT_EQ(lines.hidden_unwritable, (std::vector<std::string>{"bad\"name: a name with a double quote"}));
  EXPECT_EQ(lines.attributes_partial, (std::vector<std::string>{"arch.txt"}));
  EXPECT_EQ(lines.attributes_without_file, (std::vector<std::string>{"deleted.txt"}));
}

TEST(ObeyFileTest, PatternsMatchAsTheWindowsListingDoes) {
  EXPECT_TRUE(MatchesPattern("noext", "*.*"));
  EXPECT_TRUE(MatchesPattern("a.txt", "*.txt"));
  EXPECT_FALSE(MatchesPattern("a.bin", "*.txt"));
  EXPECT_TRUE(MatchesPattern("f01.txt", "f??.*"));
}

// Windows hides by attribute and needs a privilege for links: see
// obey_file_win32_test.cc.
#ifndef _WIN32
TEST(ObeyFileTest, WalksFilesFirstThenEachSubtreeAndSkipsHiddenFolders) {
  testing::ScratchFolder rofs2;
  rofs2.Write("zfile.txt", "");
  rofs2.Write(".hidden_file", "");
  rofs2.Write("a_sub/inner.txt", "");
  rofs2.Write("a_sub/deeper/deep.txt", "");
  rofs2.Write(".hidden_dir/secret.txt", "");
  std::filesystem::create_directory_symlink(rofs2.Path("a_sub"), rofs2.Path("a_sub/loop"));
  std::vector<std::string> found;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", found);

  // Files of a folder come before anything of its subfolders, whatever the
  // names; the order inside a folder is the listing's own.
  ASSERT_EQ(found.size(), 4u);
  const std::vector<std::string> top(found.begin(), found.begin() + 2);
  EXPECT_NE(std::find(top.begin(), top.end(), "rofs2\\zfile.txt"), top.end());
  EXPECT_NE(std::find(top.begin(), top.end(), "rofs2\\.hidden_file"), top.end());
  EXPECT_EQ(found[2], "rofs2\\a_sub\\inner.txt");
  EXPECT_EQ(found[3], "rofs2\\a_sub\\deeper\\deep.txt");
}
#endif

TEST(ObeyFileTest, AFolderThatCannotBeListedIsAnErrorNamingIt) {
  std::vector<std::string> found;
  try {
    ListFilesDepthFirst("/no/such/folder", "*.*", true, "rofs2\\", found);
    FAIL() << "no error";
  } catch (const FolderListError& error) {
    EXPECT_EQ(error.folder(), "/no/such/folder");
    EXPECT_STREQ(error.what(), "Cannot list folder \"/no/such/folder\"");
  }
  EXPECT_TRUE(found.empty());
}

#ifndef _WIN32
TEST(ObeyFileTest, NamesHoldingABackslashAreSetApartNotListed) {
  testing::ScratchFolder rofs2;
  rofs2.Write("ok.txt", "");
  rofs2.Write("a\\b.txt", "");
  rofs2.Write("sub\\dir/inner.txt", "");
  std::vector<std::string> found, refused;
  ListFilesDepthFirst(rofs2.path(), "*.*", true, "rofs2\\", found, &refused);
  EXPECT_EQ(found, std::vector<std::string>{"rofs2\\ok.txt"});
  std::sort(refused.begin(), refused.end());
  EXPECT_EQ(refused, (std::vector<std::string>{rofs2.Path("a\\b.txt"), rofs2.Path("sub\\dir")}));
}
#endif

// A program folder as Extract and Repack use it: the obey file is built in
// exebat with our rofsbuild, the files lie in rofs2.
class ObeyBuildFolder {
 public:
  ObeyBuildFolder() { std::filesystem::create_directories(root_.Path("exebat")); }

  // Builds the image of `file_lines` behind the name and size lines that
  // Repack writes; returns its bytes.
  std::vector<std::uint8_t> Build(const std::vector<std::string>& file_lines) const {
    std::vector<std::string> lines = {kObeyNameLine, kObeySizeLine};
    lines.insert(lines.end(), file_lines.begin(), file_lines.end());
    const rofs::ObeyFile obey =
        rofs::ParseObey(JoinObeyLines(lines), "rofs2.obey", rofs::ImageNameFromObeyBytes);
    const rofs::BuildResult built =
        rofs::BuildImageFromObey(obey, root_.Path("exebat"), 63'435'758'706'000'000);
    return testing::ReadBytes(built.image_path);
  }

  // Extract: the kept record through its text, as it passes the temp
  // folder, and the files into a fresh rofs2.
  rofs::KeptEntries Extract(const std::vector<std::uint8_t>& image) const {
    std::filesystem::remove_all(root_.Path("rofs2"));
    const rofs::RofsImage parsed = rofs::ParseRofsImage(image, "rofs2.img");
    rofs::ExtractImage(image, parsed, "rofs2.img", rofs::HostPathFromBytes(root_.Path("rofs2")));
    return rofs::ParseKeptEntries(
        rofs::FormatKeptEntries(rofs::KeptEntriesFromImage(image, "rofs2.img")), "kept.txt");
  }

  std::vector<std::string> Found() const {
    std::vector<std::string> found;
    ListFilesDepthFirst(root_.Path("rofs2"), "*.*", true, "rofs2\\", found);
    return found;
  }

  const testing::ScratchFolder& root() const { return root_; }

 private:
  testing::ScratchFolder root_;
};

// The text of kept entries in a fixed order, so two images whose folders
// were listed in different orders compare equal (and differences print).
std::string SortedText(rofs::KeptEntries kept) {
  std::sort(kept.hidden.begin(), kept.hidden.end());
  std::sort(kept.attributes.begin(), kept.attributes.end(),
            [](const auto& a, const auto& b) { return a.path < b.path; });
  return rofs::FormatKeptEntries(kept);
}

TEST(ObeyFileTest, ARoundTripKeepsHiddenEntriesAndAttributes) {
  ObeyBuildFolder program;
  program.root().Write("src/plain.txt", "plain");
  program.root().Write("src/attr.txt", "attributes");
  const rofs::KeptEntries original = program.Extract(program.Build({
      R"(data="..\src\plain.txt" "plain.txt")",
      R"(data="..\src\attr.txt" "attr\hidden_system.txt" attrib=HS)",
      R"(data="..\src\attr.txt" "attr\writable.txt" attrib=W)",
      R"(data="..\src\attr.txt" "attr\unique.txt" exattrib=U)",
      R"(data="..\src\attr.txt" "attr\changed.txt" attrib=S)",
      R"(hide "sys\bin\gone.dll")",
      R"(hide "sys\bin\back.dll")",
      R"(hide "Private\old.ini")",
  }));
  ASSERT_EQ(original.hidden.size(), 3u);
  ASSERT_EQ(original.attributes.size(), 4u);

  // The user edits a file and puts a real file where a hidden entry was.
  program.root().Write("rofs2/attr/changed.txt", "edited");
  program.root().Write("rofs2/sys/bin/back.dll", "MZ back");
  const ObeyFileLines lines = BuildObeyFileLines(program.Found(), original);
  EXPECT_EQ(lines.hidden_kept, 2u);
  EXPECT_EQ(lines.attributes_kept, 4u);
  EXPECT_EQ(lines.hidden_replaced, (std::vector<std::string>{"sys\\bin\\back.dll"}));
  const std::vector<std::uint8_t> rebuilt = program.Build(lines.lines);

  rofs::KeptEntries expected = original;
  std::erase(expected.hidden, rofs::KeptPath{u"sys", u"bin", u"back.dll"});
  EXPECT_EQ(SortedText(rofs::KeptEntriesFromImage(rebuilt, "rebuilt.img")), SortedText(expected));
  const rofs::RofsImage parsed = rofs::ParseRofsImage(rebuilt, "rebuilt.img");
  EXPECT_EQ(parsed.header.max_image_size, 0x10000000u);  // rofssize=0x10000000 kept
  program.Extract(rebuilt);
  EXPECT_EQ(program.root().Read("rofs2/attr/changed.txt"), "edited");
  EXPECT_EQ(program.root().Read("rofs2/sys/bin/back.dll"), "MZ back");
}

// Its Cyrillic and Japanese names go through on Windows too, whatever the
// ANSI code page.
TEST(ObeyFileTest, TheSymbianCase2ImageKeepsItsHiddenEntryAndAttributesThroughARoundTrip) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto reference = testing::ReadBytes(shared / "case2_rofs2r_case2.img");
  ObeyBuildFolder program;
  const rofs::KeptEntries kept = program.Extract(reference);
  EXPECT_EQ(rofs::FormatKeptEntries(kept),
            "larkspur kept entries 1\n"
            "hidden sys\\bin\\gone.dll\n"
            "attributes 06 FF attr\\hidden_system.txt\n"
            "attributes 00 FF attr\\writable.txt\n"
            "attributes 01 FD attr\\unique.txt\n");
  const ObeyFileLines lines = BuildObeyFileLines(program.Found(), kept);
  EXPECT_EQ(lines.hidden_kept, 1u);
  EXPECT_EQ(lines.attributes_kept, 3u);
  const std::vector<std::uint8_t> rebuilt = program.Build(lines.lines);
  EXPECT_EQ(SortedText(rofs::KeptEntriesFromImage(rebuilt, "rebuilt.img")), SortedText(kept));

  // Every file comes back with its bytes.
  const rofs::RofsImage before = rofs::ParseRofsImage(reference, "case2");
  const rofs::RofsImage after = rofs::ParseRofsImage(rebuilt, "rebuilt");
  EXPECT_EQ(after.file_count, before.file_count);
  EXPECT_EQ(after.directory_count, before.directory_count);
}

}  // namespace
}  // namespace larkspur
