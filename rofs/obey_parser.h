// Parses the text of an obey file: the build instructions for a ROFS image.
// Takes the bytes, not a path, so tests and fuzzers need no disk. Stateless;
// safe from any thread.
//
// Understood lines (keywords ignore case; '=', blanks and tabs separate
// words; double quotes group a word; CR LF or LF; a first word REM makes a
// comment):
//   rofsname=<image file>          rofssize=<bytes, decimal or 0x hex>
//   data=<host path> <image path> [attrib=<letters>] [exattrib=<letters>]
//   file=<host path> <image path> [attrib=...] [exattrib=...]  (stored like data=)
//   hide=<image path>              (an entry that masks a lower layer's file)
//   time=dd/mm/yyyy[_hh:mm:ss[.micro]]   version=major[.minor][(build)]
// Image paths separate folders with '\' or '/'; a leading separator is
// ignored. Host paths are kept as the bytes written.
#ifndef LARKSPUR_ROFS_OBEY_PARSER_H_
#define LARKSPUR_ROFS_OBEY_PARSER_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "rofs/rofs_reader.h"
#include "rofs/utf16.h"

namespace larkspur::rofs {

struct ObeyFileLine {
  std::string source;                      // host path bytes; empty for hide=
  std::vector<std::u16string> image_path;  // folders, then the file name
  std::uint8_t attributes = kDefaultFileAttributes;            // attrib=
  std::uint8_t extra_attributes = kDefaultExtraAttributes;     // exattrib=
  bool hidden = false;
  int line = 0;
};

struct ObeyFile {
  std::string origin;  // the obey file's name, for messages
  std::string rofs_name;
  int rofs_name_line = 0;
  std::uint32_t rofs_size = 0;
  int rofs_size_line = 0;
  std::optional<std::int64_t> time;  // Symbian time, when time= is given
  ImageVersion version;
  std::vector<ObeyFileLine> files;  // in the order of the lines
};

// Turns the bytes of an image path into UTF-16; nullopt when they are not in
// the expected encoding.
using NameDecoder = std::optional<std::u16string> (*)(std::string_view bytes);

// Parses `text`. `origin` names the obey file in messages; image paths are
// decoded with `decode` (strict UTF-8 unless the caller says otherwise).
// Throws ObeyError naming `origin` and the line for an unknown keyword, a
// missing or extra word, an unclosed quote, a bad number, time, version or
// attribute letter, attrib= or exattrib= twice on one line, a repeated
// rofsname/rofssize/time/version, an image path with an empty component
// or bytes `decode` refuses; and naming the file
// alone when rofsname, rofssize or every file line is missing. Names are
// checked for what an image can store when the image is laid out.
ObeyFile ParseObey(std::string_view text, std::string_view origin,
                   NameDecoder decode = Utf8ToUtf16);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_OBEY_PARSER_H_
