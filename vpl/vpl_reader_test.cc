#include "vpl/vpl_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/hex.h"
#include "testing/vpl_fixtures.h"
#include "vpl/vpl_errors.h"

namespace larkspur::vpl {
namespace {

using testing::EncodedVpl;
using testing::kFlatVplText;
using testing::kPackageVplText;
using testing::kVplForms;
using testing::VplForm;

// `text` as `form` stores it, for comparing with bytes of the file.
std::string Stored(std::string_view text, const VplForm& form) {
  // Without the byte order mark, which EncodedVpl puts in front.
  const std::string bytes = EncodedVpl(text, form);
  switch (form.encoding) {
    case VplEncoding::kUtf8:
      return bytes;
    case VplEncoding::kUtf8WithBom:
      return bytes.substr(3);
    default:
      return bytes.substr(2);
  }
}

std::string Message(std::string_view bytes) {
  try {
    ParseVpl(bytes, "t.vpl");
  } catch (const VplFormatError& error) {
    return error.what();
  }
  return "(read)";
}

bool operator==(const VplEntry& a, const VplEntry& b) {
  return a.file_offset == b.file_offset && a.name == b.name && a.has_crc == b.has_crc && a.crc_text == b.crc_text &&
         a.crc_offset == b.crc_offset && a.crc_size == b.crc_size;
}

// Every form gives the same entries, and each entry's places hold in the
// file's own bytes what the entry says: "<File" at file_offset, the <Crc>'s
// content at crc_offset.
TEST(VplReaderTest, ReadsEveryFormToTheSameEntries) {
  for (const VplForm& form : kVplForms) {
    SCOPED_TRACE(form.label);
    const std::string bytes = EncodedVpl(kPackageVplText, form);
    const VplFile vpl = ParseVpl(bytes, "p.vpl");
    EXPECT_EQ(vpl.encoding, form.encoding);
    ASSERT_EQ(vpl.entries.size(), 5u);
    const struct {
      const char* name;
      bool has_crc;
      const char* crc_text;
    } kExpected[] = {
        {"RM-596_11.0.027.rofs2.V20", true, "c0d79d0d"},
        {"RM-596_11.0.027.uda.V1", true, "0A1B2C3D"},
        {"RM-596_11.0.027.dcp", true, ""},
        {"RM-596_signature.bin", false, ""},
        {"Gr\xC3\xBC\xC3\x9F" "e & \xF0\x9D\x84\x9E.txt", true, "89abcdef"},
    };
    for (std::size_t i = 0; i < vpl.entries.size(); ++i) {
      const VplEntry& entry = vpl.entries[i];
      EXPECT_EQ(entry.name, kExpected[i].name);
      EXPECT_EQ(entry.has_crc, kExpected[i].has_crc);
      EXPECT_EQ(entry.crc_text, kExpected[i].crc_text);
      EXPECT_EQ(bytes.substr(entry.file_offset, Stored("<File", form).size()), Stored("<File", form)) << i;
      EXPECT_EQ(bytes.substr(entry.crc_offset, entry.crc_size), Stored(entry.crc_text, form)) << i;
    }
    // <Crc/> has no content: zero bytes at its tag.
    EXPECT_EQ(vpl.entries[2].crc_size, 0u);
    EXPECT_EQ(bytes.substr(vpl.entries[2].crc_offset, Stored("<Crc/>", form).size()), Stored("<Crc/>", form));
  }
}

// What the reader passes over, and what a <Name> and a <Crc> hold.
TEST(VplReaderTest, ToleratesWhatItDoesNotNeed) {
  const struct {
    const char* text;
    std::vector<std::string> names;
    std::vector<std::string> crc_texts;
  } kCases[] = {
      {"", {}, {}},
      {"no markup at all", {}, {}},
      {"<Name>x</Name><Crc>00000000</Crc>", {}, {}},
      {"<File><Name>&lt;a&gt; &#x41;&#66;&quot;&apos;<![CDATA[&c<]]><!--x--></Name></File>", {"<a> AB\"'&c<"}, {""}},
      {"<File><Info><Name>inner</Name><Crc>1</Crc></Info><Name>outer</Name><Crc>12345678</Crc></File>",
       {"outer"}, {"12345678"}},
      {"<File\n><Name\t>a</Name ><Crc\r\n>c0d79d0d</Crc\t></File >", {"a"}, {"c0d79d0d"}},
      {"<!DOCTYPE p [ <!ENTITY e \"a>b\"> ]><File note=\"a>b/>\" x='\"'><Name>n</Name></File>", {"n"}, {""}},
      {"<?pi <File>?><File><Name>a</Name><Crc><!--c-->c0d79d0d</Crc></File>", {"a"}, {"<!--c-->c0d79d0d"}},
      {"<File><Name>a</Name><Crc> c0d79d0d </Crc></File><File><Name/><Crc></Crc></File>", {"a", ""},
       {" c0d79d0d ", ""}},
      {"<File><Name>\xC3\x9C &amp;</Name><Crc><b>1</b></Crc></File>", {"\xC3\x9C &"}, {"<b>1</b>"}},
      {"<a/><File><Name>x</Name></File>text & more", {"x"}, {""}},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.text);
    const VplFile vpl = ParseVpl(test.text, "t.vpl");
    std::vector<std::string> names;
    std::vector<std::string> crc_texts;
    for (const VplEntry& entry : vpl.entries) {
      names.push_back(entry.name);
      crc_texts.push_back(entry.crc_text);
    }
    EXPECT_EQ(names, test.names);
    EXPECT_EQ(crc_texts, test.crc_texts);
  }
}

TEST(VplReaderTest, NamesTheOffsetAndTheFaultOfABrokenList) {
  std::string deep;  // 256 elements open, as deep as a list may go
  for (int i = 0; i < 256; ++i) deep += "<a>";
  const struct {
    std::string bytes;
    const char* message;
  } kCases[] = {
      {"<a><File><Name>x</Name>", "t.vpl at byte 0x3: <File> without </File>"},
      {"<File><Name>x", "t.vpl at byte 0x6: <Name> without </Name>"},
      {"<File><Name>x</Name></Files>", "t.vpl at byte 0x14: </Files> where <File> at byte 0x0 is open"},
      {"<a></a></File>", "t.vpl at byte 0x7: </File> with no element open"},
      {"<File><Crc>1</Crc></File>", "t.vpl at byte 0x0: <File> without <Name>"},
      {"<File/>", "t.vpl at byte 0x0: <File> without <Name>"},
      {"<File><Name>a</Name><Name>b</Name></File>", "t.vpl at byte 0x14: a second <Name> in the <File> at byte 0x0"},
      {"<File><Name>a</Name><Crc/><Crc>1</Crc></File>",
       "t.vpl at byte 0x1A: a second <Crc> in the <File> at byte 0x0"},
      {"<File><Name>a</Name><x><File>", "t.vpl at byte 0x17: <File> inside the <File> at byte 0x0"},
      {"<File><Name>a<b/></Name></File>", "t.vpl at byte 0xD: <b> inside the <Name> at byte 0x6"},
      {"<File><Name>a&nbsp;</Name></File>",
       "t.vpl at byte 0xD: &nbsp; in <Name> is neither one of XML's five entities nor a character reference"},
      {"<File><Name>&#0;&#xD800;</Name></File>",
       "t.vpl at byte 0xC: &#0; in <Name> is neither one of XML's five entities nor a character reference"},
      {"<File><Name>a &amp</Name></File>", "t.vpl at byte 0xE: '&' in <Name> without its ';'"},
      {"<!-- x --", "t.vpl at byte 0x0: <!-- without -->"},
      {"<?xml version=\"1.0\"", "t.vpl at byte 0x0: <? without ?>"},
      {"<a><![CDATA[x]]", "t.vpl at byte 0x3: <![CDATA[ without ]]>"},
      {"<!DOCTYPE x [ <!ENTITY a \"b>\"> ", "t.vpl at byte 0x0: <! without its closing >"},
      {"<File a=\"x>", "t.vpl at byte 0x0: <File without its closing >"},
      {"<File <Name>", "t.vpl at byte 0x6: '<' inside the tag <File at byte 0x0"},
      {"< File>", "t.vpl at byte 0x0: '<' not followed by a name"},
      {"<a></ a>", "t.vpl at byte 0x3: </ not followed by a name"},
      {"<a></a b>", "t.vpl at byte 0x3: </a without its closing >"},
      {"<\x01\x7F", "t.vpl at byte 0x0: <\\x01\\x7F without its closing >"},
      {deep + "<b/><c>", "t.vpl at byte 0x304: <c> nested deeper than 256 elements"},
      {std::string("<a>x\0y</a>", 10), "t.vpl at byte 0x4: a NUL byte (UTF-16 text is read only after its byte order mark)"},
      // UTF-16 without its byte order mark.
      {std::string("<\0F\0>\0", 6), "t.vpl at byte 0x1: a NUL byte (UTF-16 text is read only after its byte order mark)"},
      {std::string("\xFF\xFE<\0a", 5), "t.vpl at byte 0x4: UTF-16 text that ends in the middle of a code unit"},
      {std::string("\xFF\xFE<\0\0\0", 6), "t.vpl at byte 0x4: a NUL character"},
      // Offsets count the bytes of the file, byte order mark included.
      {EncodedVpl("<a>\n<File>", kVplForms[2]), "t.vpl at byte 0xC: <File> without </File>"},
      {EncodedVpl("<a>\n<File>", kVplForms[4]), "t.vpl at byte 0xA: <File> without </File>"},
      {EncodedVpl("<a>\n<File>", kVplForms[1]), "t.vpl at byte 0x8: <File> without </File>"},
  };
  for (const auto& test : kCases) {
    EXPECT_EQ(Message(test.bytes), test.message) << PrintableBytes(test.bytes);
  }
}

// Every cut of a valid list either reads as a list of the first entries,
// each as in the whole list, or fails with a VplFormatError that names the
// list and an offset inside the cut bytes; in every form. The flat list
// reads at every cut after one of its </File>s.
TEST(VplReaderTest, EveryCutReadsAsAPrefixOrNamesItsFault) {
  for (const char* text : {kPackageVplText, kFlatVplText}) {
    for (const VplForm& form : kVplForms) {
      SCOPED_TRACE(form.label);
      const std::string bytes = EncodedVpl(text, form);
      const VplFile whole = ParseVpl(bytes, "cut.vpl");
      std::vector<bool> prefix_seen(whole.entries.size() + 1, false);
      for (std::size_t cut = 0; cut < bytes.size(); ++cut) {
        try {
          const VplFile part = ParseVpl(std::string_view(bytes).substr(0, cut), "cut.vpl");
          ASSERT_LE(part.entries.size(), whole.entries.size()) << "cut at " << cut;
          for (std::size_t i = 0; i < part.entries.size(); ++i) {
            ASSERT_TRUE(part.entries[i] == whole.entries[i]) << "cut at " << cut << ", entry " << i;
          }
          prefix_seen[part.entries.size()] = true;
        } catch (const VplFormatError& error) {
          ASSERT_LE(error.offset(), cut) << error.what();
          ASSERT_EQ(std::string(error.what()).rfind("cut.vpl at byte 0x", 0), 0u) << error.what();
        }
      }
      if (text == kFlatVplText) {
        for (std::size_t count = 0; count < prefix_seen.size(); ++count) {
          EXPECT_TRUE(prefix_seen[count]) << "no cut reads as the first " << count << " entries";
        }
      }
    }
  }
}

TEST(VplReaderTest, CrcOfEntryTakesExactlyEightHexDigits) {
  const struct {
    const char* text;
    std::optional<std::uint32_t> value;
  } kCases[] = {
      {"c0d79d0d", 0xC0D79D0D}, {"0A1B2C3D", 0x0A1B2C3D}, {"00000000", 0},  {"FfFfFfFf", 0xFFFFFFFF},
      {"", std::nullopt},        {"c0d79d0", std::nullopt}, {"c0d79d0d0", std::nullopt}, {" c0d79d0d", std::nullopt},
      {"c0d79d0g", std::nullopt}, {"0xc0d79d", std::nullopt}, {"-0d79d0d", std::nullopt},
  };
  for (const auto& test : kCases) {
    VplEntry entry;
    entry.has_crc = true;
    entry.crc_text = test.text;
    EXPECT_EQ(CrcOfEntry(entry), test.value) << test.text;
  }
}

// The flasher runs on Windows: ASCII letters match in either case, other
// bytes only as they are.
TEST(VplReaderTest, FindsEntriesByNameInAnyAsciiCase) {
  EXPECT_TRUE(SameFileName("RM-596.rofs2.V20", "rm-596.ROFS2.v20"));
  EXPECT_FALSE(SameFileName("RM-596.rofs2.V20", "RM-596.rofs2.V2"));
  EXPECT_FALSE(SameFileName("\xC3\x9C.bin", "\xC3\xBC.bin"));  // Ü and ü
  EXPECT_FALSE(SameFileName("a@", "A`"));                      // the neighbours of the letters do not fold
  EXPECT_FALSE(SameFileName("[", "{"));

  const VplFile vpl = ParseVpl(EncodedVpl(kPackageVplText, kVplForms[2]), "p.vpl");
  EXPECT_EQ(EntriesNaming(vpl, "rm-596_11.0.027.ROFS2.v20"), std::vector<std::size_t>{0});
  EXPECT_EQ(EntriesNaming(vpl, "RM-596_11.0.027.uda.V1"), std::vector<std::size_t>{1});
  EXPECT_EQ(EntriesNaming(vpl, "Gr\xC3\xBC\xC3\x9F" "E & \xF0\x9D\x84\x9E.TXT"), std::vector<std::size_t>{4});
  EXPECT_TRUE(EntriesNaming(vpl, "RM-596_11.0.027.rofs3.V20").empty());
  const VplFile twice = ParseVpl("<File><Name>a.bin</Name></File><File><Name>A.BIN</Name></File>", "t.vpl");
  EXPECT_EQ(EntriesNaming(twice, "a.Bin"), (std::vector<std::size_t>{0, 1}));
}

}  // namespace
}  // namespace larkspur::vpl
