#include "rofs/kept_entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rofs/rofs_reader.h"
#include "testing/rofs_images.h"
#include "testing/test_bytes.h"

namespace larkspur::rofs {
namespace {

using testing::ImagePath;

ImageFileSpec FileSpec(std::string_view path, int line, std::uint8_t attributes = 0x01,
                       std::uint8_t extra = 0xFF, bool hidden = false) {
  ImageFileSpec file;
  file.path = ImagePath(path);
  file.line = line;
  file.attributes = attributes;
  file.extra_attributes = extra;
  file.hidden = hidden;
  return file;
}

std::vector<std::uint8_t> ImageOf(const std::vector<ImageFileSpec>& files) {
  ImageSpec spec;
  spec.origin = "kept.obey";
  spec.max_image_size = 0x10000;
  spec.files = files;
  return testing::WriteInMemory(spec, std::vector<std::vector<std::uint8_t>>(
                                          files.size(), testing::ByteVector("data")));
}

TEST(KeptEntriesTest, KeepsHiddenEntriesAndAttributesThatDifferFromTheDefaults) {
  const auto image = ImageOf({
      FileSpec("plain.txt", 1),
      FileSpec("sys\\bin\\gone.dll", 2, 0x01, 0xFF, true),
      FileSpec("attr\\hidden_system.txt", 3, 0x06),
      FileSpec("attr\\writable.txt", 4, 0x00),
      FileSpec("attr\\unique.txt", 5, 0x01, 0xFD),
      FileSpec("attr\\archive.txt", 6, 0x21),
      FileSpec("old.dll", 7, 0x01, 0xFF, true),
  });
  const KeptEntries kept = KeptEntriesFromImage(image, "kept.img");
  // Physical order: the files of a folder, then each subfolder.
  EXPECT_EQ(kept.hidden, (std::vector<KeptPath>{{u"old.dll"}, {u"sys", u"bin", u"gone.dll"}}));
  EXPECT_EQ(kept.attributes, (std::vector<KeptAttributes>{
                                 {{u"attr", u"hidden_system.txt"}, 0x06, 0xFF},
                                 {{u"attr", u"writable.txt"}, 0x00, 0xFF},
                                 {{u"attr", u"unique.txt"}, 0x01, 0xFD},
                                 {{u"attr", u"archive.txt"}, 0x21, 0xFF},
                             }));
  EXPECT_EQ(FormatKeptEntries(kept),
            "larkspur kept entries 1\n"
            "hidden old.dll\n"
            "hidden sys\\bin\\gone.dll\n"
            "attributes 06 FF attr\\hidden_system.txt\n"
            "attributes 00 FF attr\\writable.txt\n"
            "attributes 01 FD attr\\unique.txt\n"
            "attributes 21 FF attr\\archive.txt\n");
  EXPECT_EQ(ParseKeptEntries(FormatKeptEntries(kept), "kept.txt"), kept);

  const KeptEntries none = KeptEntriesFromImage(ImageOf({FileSpec("a\\b.txt", 1)}), "plain.img");
  EXPECT_TRUE(none.empty());
  EXPECT_EQ(FormatKeptEntries(none), "larkspur kept entries 1\n");
}

TEST(KeptEntriesTest, OldStyleHiddenEntriesAreKeptAsHidden) {
  // Symbian 9.1 builders mark a hidden entry with address 0 and size 0.
  auto image = ImageOf({FileSpec("keep.txt", 1), FileSpec("gone.dll", 2, 0x01, 0xFF, true)});
  const std::uint32_t entry = ParseRofsImage(image, "x").root.files.at(1).entry_offset;
  for (int i = 0; i < 4; ++i) image[entry + kEntryAddressOffset + i] = 0;
  EXPECT_EQ(KeptEntriesFromImage(image, "old.img").hidden, (std::vector<KeptPath>{{u"gone.dll"}}));
}

TEST(KeptEntriesTest, EveryStorableNameSurvivesTheText) {
  const std::vector<KeptPath> paths = {
      {u"my docs", u"100% sure.txt"},
      {u"sort", u"Привет.txt"},
      {u"日本", u"été\u00A0x"},
      {u"tab\there", u"cr\rlf\n"},
      {u"back\\slash", u"fwd/slash"},
      {u"lone\xD800", u"\xDC01", u"pair\U0001F600"},
      {u"del\x7F", std::u16string(u"nul\0x", 5)},
      {u"", u"empty name above"},  // only a damaged image has one
  };
  KeptEntries kept;
  for (const KeptPath& path : paths) {
    kept.hidden.push_back(path);
    kept.attributes.push_back({path, 0x07, 0x00});
  }
  const std::string text = FormatKeptEntries(kept);
  EXPECT_NE(text.find("hidden my%20docs\\100%25%20sure.txt\n"), std::string::npos) << text;
  EXPECT_NE(text.find("hidden back%5Cslash\\fwd%2Fslash\n"), std::string::npos) << text;
  EXPECT_NE(text.find("hidden lone%uD800\\%uDC01\\pair\xF0\x9F\x98\x80\n"), std::string::npos)
      << text;
  EXPECT_NE(text.find("hidden tab%09here\\cr%0Dlf%0A\n"), std::string::npos) << text;
  EXPECT_NE(text.find("hidden %-\\empty%20name%20above\n"), std::string::npos) << text;
  EXPECT_EQ(ParseKeptEntries(text, "kept.txt"), kept);
  // Windows editors write CR LF.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  EXPECT_EQ(ParseKeptEntries(crlf, "kept.txt"), kept);
}

TEST(KeptEntriesTest, ADamagedRecordNamesItsLine) {
  const std::string head = std::string(kKeptEntriesHeading) + "\n";
  struct Case {
    const char* label;
    std::string text;
    std::string message;
  };
  const std::vector<Case> cases = {
      {"empty", "", "kept.txt:1: the record is empty; its first line must be \"larkspur kept entries 1\""},
      {"other heading", "larkspur kept entries 2\n",
       "kept.txt:1: the first line is not \"larkspur kept entries 1\""},
      {"unknown kind", head + "hidden a\nremoved b\n",
       "kept.txt:3: \"removed\" is not a record kind (hidden, attributes)"},
      {"blank line", head + "\n", "kept.txt:2: \"\" is not a record kind (hidden, attributes)"},
      {"hidden without path", head + "hidden\n", "kept.txt:2: a hidden record is \"hidden <path>\""},
      {"raw blank in a path", head + "hidden a b\n",
       "kept.txt:2: a hidden record is \"hidden <path>\""},
      {"attributes short", head + "attributes 06 a.txt\n",
       "kept.txt:2: an attributes record is \"attributes <2 hex digits> <2 hex digits> <path>\""},
      {"attributes not hex", head + "attributes 0G FF a.txt\n",
       "kept.txt:2: attributes \"0G\" are not two hex digits"},
      {"extra attributes too long", head + "attributes 06 FFF a.txt\n",
       "kept.txt:2: extra attributes \"FFF\" are not two hex digits"},
      {"directory bit", head + "attributes 11 FF a.txt\n",
       "kept.txt:2: attributes 11 give a file the directory bit (0x10)"},
      {"empty name", head + "hidden a\\\\b\n", "kept.txt:2: path \"a\\\\b\" has an empty name"},
      {"trailing separator", head + "hidden a\\\n", "kept.txt:2: path \"a\\\" has an empty name"},
      {"cut escape", head + "hidden a%2\n",
       "kept.txt:2: name \"a%2\": % is not followed by 2 hex digits of an ASCII character"},
      {"escape beyond ASCII", head + "hidden a%C3%A9\n",
       "kept.txt:2: name \"a%C3%A9\": % is not followed by 2 hex digits of an ASCII character"},
      {"surrogate escape of a letter", head + "hidden a%u0041\n",
       "kept.txt:2: name \"a%u0041\": %u is not followed by 4 hex digits of a surrogate (D800 to "
       "DFFF)"},
      {"not UTF-8", head + "hidden Gr\xFC\xDF" "e\n",
       "kept.txt:2: name \"Gr\\xFC\\xDFe\" is not valid UTF-8"},
      {"raw control character", head + "hidden a\tb\n",
       "kept.txt:2: name \"a\\x09b\" holds a blank or control character that is not escaped"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      ParseKeptEntries(c.text, "kept.txt");
      ADD_FAILURE() << "no error";
    } catch (const KeptEntriesError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace larkspur::rofs
