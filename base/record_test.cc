#include "base/record.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspur {
namespace {

// Every kind of awkward byte, alone and in company: each comes back as it
// went in, from a Bytes field and as a name of a path.
TEST(RecordTest, EveryAwkwardByteComesBackAsItWentIn) {
  struct Case {
    const char* label;
    std::string bytes;
    const char* written;  // the field as written; nullptr: not checked
  };
  std::vector<Case> cases = {
      {"plain", "readme.txt", "readme.txt"},
      {"empty", "", "%-"},
      {"the escape sign", "100%", "100%25"},
      {"what looks like an escape", "%41%-", "%2541%25-"},
      {"a blank", "my fw.rofs2.V1", "my%20fw.rofs2.V1"},
      {"a line end and a return", "a\nb\rc", "a%0Ab%0Dc"},
      {"a tab, NUL and DEL", std::string("\t\0\x7F", 3), "%09%00%7F"},
      {"Chinese, an accent, an emoji", "\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80", "\xE4\xB8\xAD\xC3\xA9\xF0\x9F\x98\x80"},
      {"a Latin-1 name (not UTF-8)", "caf\xE9", "caf%E9"},
      {"half of a surrogate pair (WTF-8)", "lone\xED\xA0\x80", "lone%ED%A0%80"},
      {"an overlong slash", "\xC0\xAF", "%C0%AF"},
      {"above U+10FFFF", "\xF4\x90\x80\x80", "%F4%90%80%80"},
      {"a sequence cut short", "\xE4\xB8", "%E4%B8"},
      {"a stray continuation byte", "\x80", "%80"},
      {"slashes, kept in a bytes field", "temp/rofs2.img", "temp/rofs2.img"},
      {"a backslash", "a\\b", "a\\b"},
      {"a heading's words", "larkspur test 2", "larkspur%20test%202"},
      {"an end line's word", "end", "end"},
  };
  std::string every_byte;
  for (int byte = 0; byte < 256; ++byte) every_byte += static_cast<char>(byte);
  cases.push_back({"every byte", every_byte, nullptr});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    RecordWriter writer("test", 2);
    writer.Line("bytes").Bytes(c.bytes);
    writer.Line("names").Names({c.bytes, "x", c.bytes});
    const std::string text = writer.Finish();
    if (c.written != nullptr) {
      EXPECT_EQ(text.substr(0, text.find('\n', 16)), "larkspur test 2\nbytes " + std::string(c.written));
    }
    // The text stays printable: no control character but the line ends.
    for (const char ch : text) {
      const auto byte = static_cast<unsigned char>(ch);
      EXPECT_TRUE(ch == '\n' || (byte > 0x1F && byte != 0x7F)) << static_cast<int>(byte);
    }
    const Record record = ParseRecord(text, "test.record", "test", 2, 2);
    ASSERT_EQ(record.lines.size(), 2u);
    EXPECT_EQ(record.lines[0].word(), "bytes");
    EXPECT_EQ(record.lines[0].Bytes(0), c.bytes);
    EXPECT_EQ(record.lines[1].Names(0), (std::vector<std::string>{c.bytes, "x", c.bytes}));
  }
}

TEST(RecordTest, NamesOfAPathKeepTheirSlashesApart) {
  RecordWriter writer("test", 2);
  writer.Line("path").Names({"a/b", "c\\d", ""});
  const std::string text = writer.Finish();
  EXPECT_NE(text.find("\npath a%2Fb/c%5Cd/%-\n"), std::string::npos) << text;
  const Record record = ParseRecord(text, "test.record", "test", 2, 2);
  EXPECT_EQ(record.lines[0].Names(0), (std::vector<std::string>{"a/b", "c\\d", ""}));
}

TEST(RecordTest, NumbersAndTheWholeTextAreAsWritten) {
  RecordWriter writer("tree-source", 2);
  writer.Line("size").Number(-5);
  writer.Line("attributes").Hex(0x21, 2).Hex(0xFE, 2).Names({"sys", "bin", "app.exe"});
  const std::string text = writer.Finish();
  EXPECT_EQ(text,
            "larkspur tree-source 2\n"
            "size -5\n"
            "attributes 21 FE sys/bin/app.exe\n"
            "end B189F7FC\n");
  const Record record = ParseRecord(text, "x", "tree-source", 1, 2);
  EXPECT_EQ(record.heading.kind, "tree-source");
  EXPECT_EQ(record.heading.version, 2);
  EXPECT_EQ(record.lines[0].Number(0), -5);
  EXPECT_EQ(record.lines[1].Hex(0, 2), 0x21u);
  EXPECT_EQ(record.lines[1].Hex(1, 2), 0xFEu);
  // A record without entries is its heading and its end line.
  EXPECT_TRUE(ParseRecord(RecordWriter("test", 2).Finish(), "x", "test", 2, 2).lines.empty());
}

TEST(RecordTest, ADamagedRecordIsRefusedWithItsLineNamed) {
  RecordWriter writer("test", 2);
  writer.Line("aside").Bytes("temp/rofs2.img");
  writer.Line("new").Bytes("rofs2");
  const std::string good = writer.Finish();
  // larkspur test 2 / aside ... / new rofs2 / end ...
  ASSERT_EQ(good.substr(0, 47), "larkspur test 2\naside temp/rofs2.img\nnew rofs2\n");
  const std::string lines = good.substr(0, 47);
  const std::string end = good.substr(47);
  struct Case {
    const char* label;
    std::string text;
    int line;
    std::string reason;  // the start of the reason
  };
  const Case cases[] = {
      {"empty", "", 1, "the record is empty"},
      {"another kind", "larkspur journal 2\nend 00000000\n", 1, "the first line is \"larkspur journal 2\", not"},
      {"no heading", "size=5\npath=/a\n", 1, "the first line is \"size=5\""},
      {"a later version", "larkspur test 3\n" + end, 1, "larkspur test version 3 is not one this program reads"},
      {"cut after a line", lines, 3, "the record is cut short"},
      {"cut inside a line", lines.substr(0, 30), 2, "the record is cut short"},
      {"a byte changed", "larkspur test 2\naside temp/rofs3.img\nnew rofs2\n" + end, 4,
       "the end line \"" + end.substr(0, 12) + "\" is not"},
      {"a line lost", "larkspur test 2\nnew rofs2\n" + end, 3, "the end line"},
      {"a bad escape", "larkspur test 2\naside temp%2/rofs2.img\nnew rofs2\n" + end, 2,
       "\"temp%2/rofs2.img\": % is not followed by two capital hex digits"},
      {"a small hex digit", "larkspur test 2\naside a%2fb\n" + end, 2, "\"a%2fb\": % is not followed"},
      {"a raw tab", "larkspur test 2\naside a\tb\n" + end, 2, "\"a\\x09b\" holds a control character"},
      {"a raw Latin-1 byte", "larkspur test 2\naside caf\xE9\n" + end, 2, "\"caf\\xE9\" holds a byte that is not UTF-8"},
      {"two blanks", "larkspur test 2\naside  a\n" + end, 2, "an empty field"},
      {"a blank at the end", "larkspur test 2\nnew rofs2 \n" + end, 2, "an empty field"},
      {"a return before the line end", "larkspur test 2\nnew rofs2\r\n" + end, 2, "\"rofs2\\x0D\" holds a control"},
      {"a word that is no word", "larkspur test 2\nNew rofs2\n" + end, 2, "\"New\" is not a word"},
      {"a line after the end", good + "new uda\n", 5, "a line follows the end line"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    try {
      ParseRecord(c.text, "temp/test.record", "test", 2, 2);
      ADD_FAILURE() << "read";
    } catch (const RecordError& error) {
      EXPECT_EQ(error.origin(), "temp/test.record");
      EXPECT_EQ(error.line(), c.line) << error.what();
      EXPECT_EQ(error.reason().substr(0, c.reason.size()), c.reason) << error.what();
      EXPECT_EQ(std::string(error.what()).substr(0, 18 + std::to_string(c.line).size()),
                "temp/test.record:" + std::to_string(c.line) + ":");
    }
  }
}

// Every shorter text of a record is refused: a record is read whole or
// not at all.
TEST(RecordTest, EveryRecordCutShortIsRefused) {
  RecordWriter writer("test", 2);
  writer.Line("aside").Bytes("temp/rofs2.img");
  writer.Line("moved").Bytes("rofs2").Bytes("rofs2.previous");
  const std::string good = writer.Finish();
  ASSERT_EQ(ParseRecord(good, "x", "test", 2, 2).lines.size(), 2u);
  for (std::size_t length = 0; length < good.size(); ++length) {
    EXPECT_THROW(ParseRecord(good.substr(0, length), "x", "test", 2, 2), RecordError) << length;
  }
}

TEST(RecordTest, AFieldOfAnotherFormIsRefusedWithItsLine) {
  RecordWriter writer("test", 2);
  writer.Line("size").Bytes("12x").Bytes("1F");
  writer.Line("path").Bytes("a//b");
  const Record record = ParseRecord(writer.Finish(), "r", "test", 2, 2);
  const auto reason = [](auto read) {
    try {
      read();
    } catch (const RecordError& error) {
      return std::to_string(error.line()) + ": " + error.reason();
    }
    return std::string("read");
  };
  EXPECT_EQ(reason([&] { record.lines[0].Number(0); }), "2: \"12x\" is not a number");
  EXPECT_EQ(reason([&] { record.lines[0].Hex(1, 4); }), "2: \"1F\" is not 4 capital hex digits");
  EXPECT_EQ(reason([&] { record.lines[0].Bytes(2); }), "2: \"size\" has 2 fields, not 3");
  EXPECT_EQ(reason([&] { record.lines[0].ExpectFields(1, "size <bytes>"); }), "2: the line is not \"size <bytes>\"");
  EXPECT_EQ(reason([&] { record.lines[1].Names(0); }),
            "3: path \"a//b\" has an empty name (written %-) or a bad escape");
}

TEST(RecordTest, TheHeadingIsReadAlone) {
  EXPECT_EQ(RecordHeadingOf("larkspur journal 2\ngarbage")->kind, "journal");
  EXPECT_EQ(RecordHeadingOf("larkspur journal 12")->version, 12);
  EXPECT_FALSE(RecordHeadingOf("larkspur kept entries 1\n"));
  EXPECT_FALSE(RecordHeadingOf("larkspur folder record 1\n"));
  EXPECT_FALSE(RecordHeadingOf("larkspur journal 01\n"));
  EXPECT_FALSE(RecordHeadingOf("size=4\n"));
  EXPECT_FALSE(RecordHeadingOf(""));
}

}  // namespace
}  // namespace larkspur
