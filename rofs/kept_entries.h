// What a folder cannot hold of a ROFS image, kept from Extract to Repack:
// the hidden entries (they mask a file of a lower layer and have no data, so
// extraction writes nothing for them) and the attribute bytes that differ
// from what our rofsbuild writes for a plain data line (attributes 0x01,
// extra attributes 0xFF). Without this record a round trip through a folder
// would drop every hidden entry and reset every attribute.
//
// The record is read from the image's bytes, written as text into the
// program's temp folder and parsed back at Repack. Pure functions; safe from
// any thread.
//
// Text form, one record per line, LF after each (CR LF is read as well):
//   larkspur kept entries 1
//   hidden <path>
//   attributes <attributes, 2 hex digits> <extra attributes, 2 hex digits> <path>
// <path> is the entry's path below the root, names joined by '\'. Each
// name is UTF-8 with these escapes: "%XX" (two hex digits) for '%', '\',
// '/', a blank or any other ASCII control or space character, and "%uXXXX"
// for a UTF-16 surrogate that has no partner (no UTF-8 form); an empty name
// (which only a damaged image holds) is "%-". So every name an image can
// hold survives, and a line holds no blank inside its path.
#ifndef LARKSPUR_ROFS_KEPT_ENTRIES_H_
#define LARKSPUR_ROFS_KEPT_ENTRIES_H_

#include <cstdint>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "rofs/rofs_errors.h"
#include "rofs/rofs_format.h"

namespace larkspur::rofs {

// Folders, then the entry's name, as stored in the image.
using KeptPath = std::vector<std::u16string>;

struct KeptAttributes {
  KeptPath path;
  std::uint8_t attributes = kDefaultFileAttributes;
  std::uint8_t extra_attributes = kDefaultExtraAttributes;
  bool operator==(const KeptAttributes&) const = default;
};

struct KeptEntries {
  std::vector<KeptPath> hidden;            // in the image's physical order
  std::vector<KeptAttributes> attributes;  // files only, physical order
  bool empty() const { return hidden.empty() && attributes.empty(); }
  bool operator==(const KeptEntries&) const = default;
};

// The first line of the text form.
inline constexpr char kKeptEntriesHeading[] = "larkspur kept entries 1";

// A record's text is damaged. what() is "<record>:<line>: <reason>".
class KeptEntriesError : public RofsError {
 public:
  KeptEntriesError(std::string_view origin, int line, const std::string& reason);
  int line() const { return line_; }

 private:
  int line_;
};

// The hidden entries and non-default file attributes of the ROFS image
// `image` (a carved image: the header at byte 0). Throws FormatError naming
// `image_name` as ParseRofsImage does for bytes that are not a ROFS image.
KeptEntries KeptEntriesFromImage(std::span<const std::uint8_t> image, std::string_view image_name);

// The text form of `kept` (see above); the heading line alone for an empty
// record.
std::string FormatKeptEntries(const KeptEntries& kept);

// Parses the text form. Throws KeptEntriesError naming `origin` and the
// line for a missing or unknown heading, an unknown record kind, a missing
// or extra field, attributes that are not two hex digits or that give a
// file the directory bit (0x10), and a path with an empty
// name, a bad escape, bytes that are not UTF-8 or a raw blank or control
// character.
KeptEntries ParseKeptEntries(std::string_view text, std::string_view origin);

// `path` joined with '\', as UTF-8 with the escapes of the text form: for
// messages and reports.
std::string KeptPathText(const KeptPath& path);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_KEPT_ENTRIES_H_
