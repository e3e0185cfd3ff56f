#include "vpl/vpl_writer.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/crc32.h"
#include "base/hex.h"
#include "testing/test_bytes.h"
#include "testing/vpl_fixtures.h"
#include "vpl/vpl_errors.h"

namespace larkspur::vpl {
namespace {

using testing::EncodedVpl;
using testing::kPackageVplText;
using testing::kVplForms;
using testing::VplForm;

// Python's zlib.crc32 of testing::PatternBytes(1000, 11) (made by a Python
// copy of PatternBytes), printed once with "%08x": what the list must say
// after a rewrite, worked out apart from base/crc32 and base/hex.
constexpr std::uint32_t kRepackedCrc = 0x2a1a2703;
constexpr char kRepackedCrcText[] = "2a1a2703";

TEST(VplWriterTest, ChangesOnlyTheEightDigitsOfTheOneCrc) {
  ASSERT_EQ(Crc32Of(testing::PatternBytes(1000, 11)), kRepackedCrc);
  EXPECT_EQ(CrcText(kRepackedCrc), kRepackedCrcText);
  EXPECT_EQ(CrcText(0x0000ABCD), "0000abcd");
  for (const VplForm& form : kVplForms) {
    SCOPED_TRACE(form.label);
    const std::string bytes = EncodedVpl(kPackageVplText, form);
    const VplFile vpl = ParseVpl(bytes, "p.vpl");
    for (std::size_t index : {0u, 1u, 4u}) {
      SCOPED_TRACE(index);
      const VplEntry& entry = vpl.entries[index];
      const std::string rewritten = RewriteCrc(bytes, vpl, entry, kRepackedCrc, "p.vpl");

      // The list's text with the one <Crc> edited, stored anew: the bytes
      // the rewrite must give, made without its byte arithmetic.
      std::string text = kPackageVplText;
      const std::size_t at = text.find(">" + entry.crc_text + "<");
      ASSERT_NE(at, std::string::npos);
      text.replace(at + 1, 8, kRepackedCrcText);
      EXPECT_EQ(rewritten, EncodedVpl(text, form));

      // Only bytes of that <Crc>'s content differ.
      ASSERT_EQ(rewritten.size(), bytes.size());
      for (std::size_t k = 0; k < bytes.size(); ++k) {
        if (rewritten[k] == bytes[k]) continue;
        EXPECT_TRUE(k >= entry.crc_offset && k < entry.crc_offset + entry.crc_size) << "byte " << k << " changed";
      }
      const VplFile reread = ParseVpl(rewritten, "p.vpl");
      ASSERT_EQ(reread.entries.size(), vpl.entries.size());
      EXPECT_EQ(CrcOfEntry(reread.entries[index]), kRepackedCrc);
      EXPECT_EQ(reread.entries[index].crc_offset, entry.crc_offset);
    }
  }
}

TEST(VplWriterTest, RefusesACrcItCannotRewriteWithoutGuessing) {
  const struct {
    const char* text;
    const char* message;
  } kCases[] = {
      {"<File><Name>a</Name></File>", "t.vpl at byte 0x0: the <File> of \"a\" has no <Crc>; nothing is rewritten"},
      {"<File><Name>a</Name><Crc/></File>",
       "t.vpl at byte 0x14: the <Crc> of \"a\" is \"\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc></Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \"\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc> c0d79d0d</Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \" c0d79d0d\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc>c0d79d0d\r\n</Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \"c0d79d0d\\x0D\\x0A\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc>c0d79d0</Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \"c0d79d0\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc>c0d7<!---->9d0d</Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \"c0d7<!---->9d0d\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>a</Name><Crc>c0d79d0&#x64;</Crc></File>",
       "t.vpl at byte 0x19: the <Crc> of \"a\" is \"c0d79d0&#x64;\", not eight hex digits; nothing is rewritten"},
      {"<File><Name>\xC3\x9C\x01</Name><Crc>0x12345678</Crc></File>",
       "t.vpl at byte 0x1B: the <Crc> of \"\\xC3\\x9C\\x01\" is \"0x12345678\", not eight hex digits; nothing is "
       "rewritten"},
  };
  for (const auto& test : kCases) {
    const VplFile vpl = ParseVpl(test.text, "t.vpl");
    ASSERT_EQ(vpl.entries.size(), 1u) << test.text;
    try {
      RewriteCrc(test.text, vpl, vpl.entries[0], kRepackedCrc, "t.vpl");
      ADD_FAILURE() << "rewritten: " << test.text;
    } catch (const VplFormatError& error) {
      EXPECT_EQ(std::string(error.what()), test.message);
    }
  }
}

// An entry read from other bytes is a caller's mistake, not a list to
// edit blindly.
TEST(VplWriterTest, RefusesAnEntryOfOtherBytes) {
  const std::string bytes = "<File><Name>a</Name><Crc>c0d79d0d</Crc></File>";
  const VplFile vpl = ParseVpl(bytes, "t.vpl");
  const VplEntry& entry = vpl.entries[0];
  EXPECT_THROW(RewriteCrc("<File><Name>a</Name><Crc>c0d79d0e</Crc></File>", vpl, entry, 1, "t.vpl"),
               std::invalid_argument);
  EXPECT_THROW(RewriteCrc(bytes.substr(0, 30), vpl, entry, 1, "t.vpl"), std::invalid_argument);
  const VplFile utf16 = ParseVpl(EncodedVpl(bytes, kVplForms[2]), "t.vpl");
  EXPECT_THROW(RewriteCrc(bytes, utf16, utf16.entries[0], 1, "t.vpl"), std::invalid_argument);
  EXPECT_EQ(RewriteCrc(bytes, vpl, entry, 0xFFFFFFFF, "t.vpl"), "<File><Name>a</Name><Crc>ffffffff</Crc></File>");
}

}  // namespace
}  // namespace larkspur::vpl
