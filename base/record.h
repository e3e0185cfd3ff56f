// The one text form of the program folder's records: the firmware a tree
// came from, the entries a ROFS tree cannot show, what the folder uda held,
// the FAT image's stamp, the journal of a run, and whatever record comes
// next. This is how any record is written and read; what its lines mean
// stays with the record's owner, which writes them with RecordWriter and
// reads them with ParseRecord. Pure; callable from any thread.
//
// The text, every line ended by LF:
//   larkspur <kind> <version>         the heading
//   <word> <field> <field> ...        one line per entry
//   end <CRC-32>                      8 capital hex digits: the CRC-32 of
//                                     every byte in front of this line
// Fields are separated by one blank. A field holds any bytes, escaped so
// that the text stays printable UTF-8 whatever they are: "%XX" (two capital
// hex digits) stands for '%', the blank, every control character (below
// 0x20, and 0x7F) and every byte that is not part of well-formed UTF-8 (a
// name in another code page, half of a UTF-16 surrogate pair); "%-" is the
// empty field. A names field holds a path: its names joined by '/', each
// escaped as above and with '/' and '\' as "%2F" and "%5C" besides, "%-" for
// an empty name.
//
// A record cut short (no end line), changed or damaged (the check value
// does not match) or not of the kind asked for is refused whole, with a
// RecordError that names the record and the line: a run never acts on half
// a record.
#ifndef LARKSPUR_BASE_RECORD_H_
#define LARKSPUR_BASE_RECORD_H_

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur {

// A record's text is not the record asked for, or not whole. what() is
// "<origin>:<line>: <reason>", the line counted from 1.
class RecordError : public std::runtime_error {
 public:
  RecordError(std::string_view origin, int line, const std::string& reason);
  const std::string& origin() const { return origin_; }
  int line() const { return line_; }
  const std::string& reason() const { return reason_; }

 private:
  std::string origin_;
  int line_;
  std::string reason_;
};

// Writes a record line by line: Line starts a line with its word, the
// field calls add to the line begun last.
//   RecordWriter writer("kept-entries", 2);
//   writer.Line("attributes").Hex(0x21, 2).Hex(0xFE, 2).Names({"sys", "bin", "app.exe"});
//   std::string text = writer.Finish();
class RecordWriter {
 public:
  // `kind`: lower-case letters, digits and '-'; `version` from 1.
  RecordWriter(std::string_view kind, int version);

  // Starts a line with `word` (lower-case letters, digits and '-').
  RecordWriter& Line(std::string_view word);
  RecordWriter& Bytes(std::string_view bytes);
  // At least one name.
  RecordWriter& Names(const std::vector<std::string>& names);
  RecordWriter& Number(std::int64_t value);
  RecordWriter& Hex(std::uint64_t value, int digits);

  // The record's whole text: the lines and the end line.
  std::string Finish() const;

 private:
  std::string text_;
};

// One line of a record read, between the heading and the end line.
class RecordLine {
 public:
  RecordLine(std::string origin, int number, std::vector<std::string> fields);

  // The line's number in the text, from 1 (the heading).
  int number() const { return number_; }
  // The first field as written (a word is never escaped).
  std::string_view word() const { return fields_.front(); }
  // The fields after the word.
  std::size_t fields() const { return fields_.size() - 1; }

  // The field `index` after the word (from 0) as bytes, a path's names, a
  // decimal number or a number of exactly `digits` hex digits. Each throws
  // RecordError naming the line when the field is missing or is not of
  // that form.
  std::string Bytes(std::size_t index) const;
  std::vector<std::string> Names(std::size_t index) const;
  std::int64_t Number(std::size_t index) const;
  std::uint64_t Hex(std::size_t index, int digits) const;

  // Throws RecordError naming the line unless it has exactly `count`
  // fields after the word; `form` shows the line's form in the message
  // ("hidden <path>").
  void ExpectFields(std::size_t count, std::string_view form) const;
  [[noreturn]] void Fail(const std::string& reason) const;

 private:
  const std::string& Field(std::size_t index) const;

  std::string origin_;
  int number_;
  std::vector<std::string> fields_;  // as written, escapes and all
};

struct RecordHeading {
  std::string kind;
  int version = 0;
};

struct Record {
  RecordHeading heading;
  std::vector<RecordLine> lines;  // between the heading and the end line
};

// The heading of `text`, when its first line is one ("larkspur <kind>
// <version>"); nothing for any other text. Reads nothing beyond it.
std::optional<RecordHeading> RecordHeadingOf(std::string_view text);

// Reads the record of `kind` that `text` holds, named `origin` in errors.
// Throws RecordError naming the line for an empty text, a heading of
// another kind or a version outside [min_version, max_version], a line
// with an empty field, a bad escape or a byte that should have been
// escaped, a record without its end line (cut short), a line after it, and
// a check value that is not that of the lines above (changed or damaged).
Record ParseRecord(std::string_view text, std::string_view origin, std::string_view kind, int min_version,
                   int max_version);

// The text form of one field, and back: for the owner of a record whose
// lines an earlier version wrote in another form. UnescapeField gives
// nothing for a text that is not a field's.
std::string EscapeField(std::string_view bytes);
std::optional<std::string> UnescapeField(std::string_view text);

}  // namespace larkspur

#endif  // LARKSPUR_BASE_RECORD_H_
