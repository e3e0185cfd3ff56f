// The names Windows cannot hold under exactly that name, each refused with
// the rule it breaks, and names in every script that it holds whatever the
// ANSI code page: on their own and through an extraction.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_reader.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

namespace fs = std::filesystem;

TEST(HostNamesWin32Test, NamesWindowsCannotHoldAreRefusedWithTheirRule) {
  const std::string device = "Windows reserves the name ";
  const std::string dot = "Windows drops a dot at the end of a file name";
  const std::string blank = "Windows drops a blank at the end of a file name";
  const std::string control = "Windows file names cannot hold control characters";
  struct Case {
    std::u16string name;
    std::string rule;
  };
  const Case cases[] = {
      {u"CON", device + "CON for a device, whatever follows a dot"},
      {u"con.txt", device + "CON for a device, whatever follows a dot"},
      {u"Nul.tar.gz", device + "NUL for a device, whatever follows a dot"},
      {u"aux .log", device + "AUX for a device, whatever follows a dot"},
      {u"prn", device + "PRN for a device, whatever follows a dot"},
      {u"COM1", device + "COM1 for a device, whatever follows a dot"},
      {u"com0.bin", device + "COM0 for a device, whatever follows a dot"},
      {u"lpt9.dat", device + "LPT9 for a device, whatever follows a dot"},
      {u"LPT\u00B2", device + "LPT\u00B2 for a device, whatever follows a dot"},
      {u"conin$", device + "CONIN$ for a device, whatever follows a dot"},
      {u"CONOUT$.txt", device + "CONOUT$ for a device, whatever follows a dot"},
      {u"name.", dot},
      {u"...", dot},
      {u"CON.", dot},
      {u"name ", blank},
      {u"a<b", "Windows file names cannot hold the character '<'"},
      {u"a>b", "Windows file names cannot hold the character '>'"},
      {u"say \"hi\"", "Windows file names cannot hold the character '\"'"},
      {u"a|b", "Windows file names cannot hold the character '|'"},
      {u"why?.txt", "Windows file names cannot hold the character '?'"},
      {u"*.txt", "Windows file names cannot hold the character '*'"},
      {u"tab\there", control},
      {std::u16string(u"\x01" u"a"), control},
      {u"half\xD800", "the name holds an unpaired UTF-16 surrogate, which has no UTF-8 form"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(QuotedName(c.name));
    EXPECT_EQ(HostNameRefusal(c.name).value_or("(held)"), c.rule);
    EXPECT_FALSE(HostNameFromImageName(c.name));
  }
  // Near the rules, and names in every script: held as they are.
  const std::u16string held[] = {u"CONSOLE.txt", u"COM10",          u"LPT",         u"xCON",   u"con1.txt",
                                 u"a.CON",       u".hidden_config", u"a b.c d",     u"Grüße Über.txt",
                                 u"été.txt",     u"Привет.txt",     u"日本.txt",     u"\u0F40\u0F41",
                                 u"\xD83D\xDE00.txt"};
  for (const std::u16string& name : held) {
    const std::wstring wide(name.begin(), name.end());
    EXPECT_EQ(HostNameRefusal(name), std::nullopt) << QuotedName(name);
    EXPECT_EQ(HostNameFromImageName(name).value_or(fs::path(L"(refused)")).native(), wide);
  }
}

// The image's names in every script land on the disk as they are, whatever
// the ANSI code page; one it cannot hold stops the extraction before
// anything is written, with its rule.
TEST(HostNamesWin32Test, AnExtractionWritesEveryScriptAndNamesTheRuleOfARefusedName) {
  const auto bytes = testing::BuildInMemory({{"sort\\Привет.txt", "ru"},
                                             {"sort\\日本.txt", "ja"},
                                             {"Grüße Über.txt", "de"},
                                             {"été\\\u0F40\u0F41.txt", "bo"}});
  const RofsImage image = ParseRofsImage(bytes, "mem.img");
  testing::ScratchFolder temp;
  ExtractImage(bytes, image, "mem.img", temp.root() / "rofs2");
  EXPECT_EQ(testing::ReadBytes(temp.root() / L"rofs2" / L"sort" / L"\u041F\u0440\u0438\u0432\u0435\u0442.txt"),
            testing::ByteVector("ru"));
  EXPECT_EQ(testing::ReadBytes(temp.root() / L"rofs2" / L"sort" / L"\u65E5\u672C.txt"), testing::ByteVector("ja"));
  EXPECT_EQ(testing::ReadBytes(temp.root() / L"rofs2" / L"Gr\u00FC\u00DFe \u00DCber.txt"), testing::ByteVector("de"));
  EXPECT_EQ(testing::ReadBytes(temp.root() / L"rofs2" / L"\u00E9t\u00E9" / L"\u0F40\u0F41.txt"),
            testing::ByteVector("bo"));

  const auto refused = testing::BuildInMemory({{"a.txt", "a"}, {"sys\\con.log", "c"}});
  const RofsImage refused_image = ParseRofsImage(refused, "con.img");
  try {
    ExtractImage(refused, refused_image, "con.img", temp.root() / "refused");
    ADD_FAILURE() << "extracted";
  } catch (const FormatError& error) {
    const std::string text = error.what();
    EXPECT_NE(text.find(": name \"con.log\" cannot be extracted: this system's file names cannot hold it: Windows "
                        "reserves the name CON for a device, whatever follows a dot"),
              std::string::npos)
        << text;
  }
  EXPECT_FALSE(fs::exists(temp.root() / "refused"));
}

}  // namespace
}  // namespace larkspur::rofs
