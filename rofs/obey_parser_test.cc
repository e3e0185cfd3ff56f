#include "rofs/obey_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rofs/rofs_errors.h"
#include "testing/rofs_images.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

constexpr char kHead[] = "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n";

TEST(ObeyParserTest, ReadsTheObeyGeneratorsForm) {
  const std::string text = std::string(kHead) +
                           "data=\"..\\rofs2\\readme.txt\" \"readme.txt\"\r\n"
                           "data=\"..\\rofs2\\my documents\\Grüße Über.txt\" "
                           "\"my documents\\Grüße Über.txt\"\r\n";
  const ObeyFile obey = ParseObey(text, "rofs2.obey");
  EXPECT_EQ(obey.rofs_name, "rofs2r.img");
  EXPECT_EQ(obey.rofs_name_line, 1);
  EXPECT_EQ(obey.rofs_size, 0x10000000u);
  EXPECT_EQ(obey.rofs_size_line, 2);
  EXPECT_FALSE(obey.time.has_value());
  ASSERT_EQ(obey.files.size(), 2u);
  EXPECT_EQ(obey.files[0].source, "..\\rofs2\\readme.txt");
  EXPECT_EQ(obey.files[0].image_path, (std::vector<std::u16string>{u"readme.txt"}));
  EXPECT_EQ(obey.files[0].attributes, kAttReadOnly);
  EXPECT_EQ(obey.files[1].line, 4);
  EXPECT_EQ(obey.files[1].source, "..\\rofs2\\my documents\\Grüße Über.txt");
  EXPECT_EQ(obey.files[1].image_path,
            (std::vector<std::u16string>{u"my documents", u"Grüße Über.txt"}));
}

TEST(ObeyParserTest, ReadsTheWholeReferenceObeyFile) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto bytes = testing::ReadBytes(shared / "case1_rofs2.obey");
  const ObeyFile obey =
      ParseObey(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), "c");
  EXPECT_EQ(obey.files.size(), 210u);
  EXPECT_EQ(obey.files.back().image_path,
            (std::vector<std::u16string>{u"my documents", u"note one.txt"}));
}

TEST(ObeyParserTest, AcceptsTheVariantsOfTheSyntax) {
  const std::string text =
      "\xEF\xBB\xBF"  // a byte-order mark
      "REM built by hand\n"
      "ROFSNAME = out.img\n"
      "\n"
      "rofssize=4096\n"
      "time=02/03/2010_04:05:06\n"
      "version=1.2(345)\n"
      "\tdata=../src/a.bin   /sys/bin/a.bin\n"
      "file=\"..\\src\\b c.exe\" sys\\bin\\\"b c.exe\" attrib=HS\n"
      "hide sys\\bin\\old.dll\n"
      "rem data=ignored ignored\n";
  const ObeyFile obey = ParseObey(text, "hand.obey");
  EXPECT_EQ(obey.rofs_name, "out.img");
  EXPECT_EQ(obey.rofs_size, 4096u);
  EXPECT_EQ(obey.time, 63'435'758'706'000'000);
  EXPECT_EQ(obey.version.major, 1);
  EXPECT_EQ(obey.version.minor, 2);
  EXPECT_EQ(obey.version.build, 345);
  ASSERT_EQ(obey.files.size(), 3u);
  EXPECT_EQ(obey.files[0].source, "../src/a.bin");
  EXPECT_EQ(obey.files[0].image_path,
            (std::vector<std::u16string>{u"sys", u"bin", u"a.bin"}));  // leading '/' ignored
  EXPECT_EQ(obey.files[1].source, "..\\src\\b c.exe");
  EXPECT_EQ(obey.files[1].image_path, (std::vector<std::u16string>{u"sys", u"bin", u"b c.exe"}));
  EXPECT_EQ(obey.files[1].attributes, kAttHidden | kAttSystem);
  EXPECT_TRUE(obey.files[2].hidden);
  EXPECT_EQ(obey.files[2].line, 9);
}

TEST(ObeyParserTest, AttributeWordsGiveTheBytesOfTheSymbianBuilder) {
  struct Case {
    const char* words;
    std::uint8_t attributes;
    std::uint8_t extra_attributes;
  };
  // attrib= builds the byte from nothing; exattrib= starts from 0xFF.
  const Case cases[] = {
      {"", kAttReadOnly, 0xFF},
      {" attrib=HS", 0x06, 0xFF},
      {" attrib=W", 0x00, 0xFF},
      {" attrib=RHS", 0x07, 0xFF},
      {" attrib=Hh", 0x00, 0xFF},
      {" exattrib=U", kAttReadOnly, 0xFD},
      {" exattrib=Uu", kAttReadOnly, 0xFF},
      {" attrib=HS exattrib=U", 0x06, 0xFD},
      {" EXATTRIB=U ATTRIB=w", 0x01, 0xFD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.words);
    const ObeyFile obey =
        ParseObey(std::string("rofsname=x\nrofssize=64\ndata=a a") + c.words + "\n", "a.obey");
    EXPECT_EQ(obey.files.at(0).attributes, c.attributes);
    EXPECT_EQ(obey.files.at(0).extra_attributes, c.extra_attributes);
  }
}

struct BadObey {
  const char* label;
  std::string text;
  std::string message;
};

TEST(ObeyParserTest, EachMistakeNamesItsLine) {
  const std::string head = kHead;
  const std::string file = "data=a.txt a.txt\r\n";
  const std::vector<BadObey> cases = {
      {"empty file", "", "bad.obey: no rofsname= line names the image file"},
      {"no rofssize", "rofsname=x.img\r\n" + file,
       "bad.obey: no rofssize= line gives the image size"},
      {"no files", head,
       "bad.obey: no data=, file= or hide= line: there is nothing to put into the image"},
      {"only comments", head + "REM data=a.txt a.txt\r\n",
       "bad.obey: no data=, file= or hide= line: there is nothing to put into the image"},
      {"unknown keyword", head + "extensionrofs=x\r\n" + file,
       "bad.obey:3: unknown keyword \"extensionrofs\""},
      {"unclosed quote", head + "data=\"a.txt a.txt\r\n",
       "bad.obey:3: a double quote is not closed"},
      {"missing image path", head + "data=a.txt\r\n",
       "bad.obey:3: missing word: the form is data=<host path> <image path> [attrib=<letters>] "
       "[exattrib=<letters>]"},
      {"extra word", head + "data=a.txt a.txt b.txt\r\n",
       "bad.obey:3: unexpected word \"b.txt\": the form is data=<host path> <image path> "
       "[attrib=<letters>] [exattrib=<letters>]"},
      {"not an attribute", head + "data=a.txt a.txt compress=1\r\n",
       "bad.obey:3: unexpected word \"compress\": the form is data=<host path> <image path> "
       "[attrib=<letters>] [exattrib=<letters>]"},
      {"bad attribute letter", head + "data=a.txt a.txt attrib=RX\r\n",
       "bad.obey:3: attribute letter 'X' is not one of R r W w H h S s"},
      {"bad extra attribute letter", head + "data=a.txt a.txt exattrib=X\r\n",
       "bad.obey:3: extra attribute letter 'X' is not one of U u"},
      {"empty extra attributes", head + "data=a.txt a.txt exattrib=\"\"\r\n",
       "bad.obey:3: exattrib= gives no letter"},
      {"attributes twice", head + "data=a.txt a.txt attrib=R attrib=H\r\n",
       "bad.obey:3: attrib= is given twice"},
      {"attribute without letters", head + "data=a.txt a.txt exattrib\r\n",
       "bad.obey:3: missing word: the form is data=<host path> <image path> [attrib=<letters>] "
       "[exattrib=<letters>]"},
      {"empty host path", head + "data=\"\" a.txt\r\n", "bad.obey:3: the host path is empty"},
      {"image path not UTF-8",
       head + "data=x \"latin1_Gr\xFC\xDF"
              "e.txt\"\r\n",
       "bad.obey:3: image path \"latin1_Gr\\xFC\\xDFe.txt\" is not valid UTF-8"},
      {"empty folder name", head + "data=x a\\\\b.txt\r\n",
       "bad.obey:3: image path \"a\\\\b.txt\" has an empty folder or file name"},
      {"trailing separator", head + "data=x a\\\r\n",
       "bad.obey:3: image path \"a\\\" has an empty folder or file name"},
      {"rofssize not a number", "rofsname=x\r\nrofssize=256M\r\n" + file,
       "bad.obey:2: rofssize \"256M\" is not a size from 1 to 0xFFFFFFFF (decimal or 0x hex)"},
      {"rofssize too large", "rofsname=x\r\nrofssize=0x100000000\r\n" + file,
       "bad.obey:2: rofssize \"0x100000000\" is not a size from 1 to 0xFFFFFFFF (decimal or 0x "
       "hex)"},
      {"rofssize zero", "rofsname=x\r\nrofssize=0\r\n" + file,
       "bad.obey:2: rofssize \"0\" is not a size from 1 to 0xFFFFFFFF (decimal or 0x hex)"},
      {"rofssize twice", head + "rofssize=0x1000\r\n" + file,
       "bad.obey:3: rofssize= is given again (first on line 2)"},
      {"bad time", head + "time=2010-03-02\r\n" + file,
       "bad.obey:3: time \"2010-03-02\" is not dd/mm/yyyy[_hh:mm:ss[.micro]] with a year from "
       "1970 to 2060"},
      {"bad version", head + "version=1.300\r\n" + file,
       "bad.obey:3: version \"1.300\" is not major[.minor][(build)] with major and minor up to "
       "127 and build up to 32767"},
      {"empty rofsname", "rofsname=\"\"\r\n", "bad.obey:1: the image file name is empty"},
  };
  for (const BadObey& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      ParseObey(c.text, "bad.obey");
      ADD_FAILURE() << "no error";
    } catch (const ObeyError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
}

}  // namespace
}  // namespace larkspur::rofs
