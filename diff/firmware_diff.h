// What differs between two firmware files of one kind and one model (an
// original and its REB- file, typically): the files of their partitions
// (added, removed, changed, hidden entries and attributes, FAT times), the
// partition's own fields (ROFS header, FAT label and geometry), what lies
// outside the payload (the prefix, the table of contents, named blocks,
// header fields other than the check value, length and address), and the
// blocks whose payloads differ.
//
// Each file is read where it lies: the block walk and the partition's
// metadata through views of the file's bytes (the partition image as the
// pieces of its payloads, base/segmented_bytes.h, which the readers take
// without a copy), the files' bytes and the blocks' payloads through a
// reader the caller gives (FileView::CopyOut: through the file, a buffer of
// a few MiB at a time), so comparing costs the files' mappings and a few
// MiB, never a copy of either partition.
//
// Pure over the bytes and readers given; safe from any thread for bytes it
// alone reads.
#ifndef LARKSPUR_DIFF_FIRMWARE_DIFF_H_
#define LARKSPUR_DIFF_FIRMWARE_DIFF_H_

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/text.h"
#include "format/model_profile.h"
#include "port/errors.h"

namespace larkspur::diff {

// Two files that cannot be compared: of different models or kinds, without
// block headers of the model, with a broken chain of blocks, or a payload
// that is not of the kind. what() says which file and why.
class NotComparableError : public Error {
 public:
  using Error::Error;
  const char* ClassName() const override { return "ENotComparable"; }
};

// Copies `part`, a stretch of the file's bytes, to `to`.
using PartReader = std::function<void(std::string_view part, char* to)>;

// One firmware file to compare: its bytes (a mapping), its name for
// messages, how to read stretches of it in bulk (nullptr: from the bytes
// themselves), and how to give back the memory of the bytes walked so far
// (nullptr: nothing to give back). The comparison drops each file's pages
// after walking its block headers, before it reads the other file: with
// small blocks the walk brings in every page of a mapping.
struct FirmwareInput {
  std::string_view bytes;
  std::string name;
  PartReader read;
  std::function<void()> drop_pages;
};

// A field that can differ. Each has a name for programs (FieldName) and a
// text of the catalog for people (pipeline/difference_report.cc).
enum class Field {
  // A file's or folder's.
  kAttributes,
  kExtraAttributes,
  kUids,
  kTime,
  kShortName,
  // The partition's.
  kPartitionStart,        // the payload offset it starts at
  kBytesBeforePartition,  // length, CRC-32
  kRofsTime,
  kRofsVersion,
  kRofsMaximumSize,
  kRofsImageSize,  // bytes
  kVolumeLabel,
  kSerial,
  kOemName,
  kBytesPerSector,
  kSectorsPerCluster,
  kReservedSectors,
  kFatCount,
  kRootEntries,
  kTotalSectors,
  kMedia,
  kSectorsPerFat,
  kHiddenSectors,
  kFatCopiesAgree,  // true, false
  // Outside the payload.
  kStartAddress,
  kTableOfContents,        // length, entries, CRC-32
  kTableOfContentsLine,    // at: the line's number
  kNamedBlock,             // at: its number; description, payload length
  kNamedBlockDescription,  // at: its number
  kNamedBlockLength,       // at: its number and description
  kNamedBlockAddress,      // at: its number and description
  kNamedBlockHeader,       // at: its number and description, the byte's offset in the header
  kNamedBlockPayload,      // at: its number and description; length, CRC-32
  kPrefix,                 // length, CRC-32
  kTypeField,              // at: the blocks, "3" or "3-5"
  kPaddingAfterBlock,      // at: the block; bytes
  kAfterTheBlocks,         // length, CRC-32
  kFirstDifferingByte,     // at: the file offset; the byte, none where the file has ended
};

// "attributes", "volume label", "named block header": the field's name in
// the JSON, stable.
const char* FieldName(Field field);

// One field that differs. The values are numbers, hexadecimal, names and
// the file's own bytes, never words: the same in every language. No value:
// the file lacks the field.
struct FieldDifference {
  Field field = Field::kAttributes;
  // Which one, for a field a file has many of (block numbers, a named
  // block's number and description, a line's number, an offset).
  std::vector<std::string> at;
  std::optional<std::string> old_value;
  std::optional<std::string> new_value;
  // A line of the table of contents as people read it (the tag's name in
  // words), said in the language in force; the values above are its tag
  // and bytes in hexadecimal.
  std::optional<Text> old_line;
  std::optional<Text> new_line;
  bool operator==(const FieldDifference&) const = default;
};

enum class EntryStatus { kAdded, kRemoved, kChanged };

// A file or folder of the partition that differs.
struct EntryDifference {
  // From the partition's root, names joined by '/', UTF-8; a folder's ends
  // in '/'.
  std::string path;
  bool folder = false;
  EntryStatus status = EntryStatus::kChanged;
  // A file's bytes in each file (0 for a hidden entry, and for the side
  // that lacks it).
  std::uint64_t old_size = 0;
  std::uint64_t new_size = 0;
  // ROFS: a hidden entry (it masks a file of a lower image; no data).
  bool old_hidden = false;
  bool new_hidden = false;
  // kChanged: the bytes differ (in number or in content).
  bool content_changed = false;
  // kChanged: the other fields that differ (the UIDs only when the bytes
  // are the same: they are the first bytes of a ROFS file). A file made a
  // hidden entry, or the reverse, is told by old_hidden and new_hidden.
  std::vector<FieldDifference> fields;
};

// A run of code blocks whose payloads differ (or that only one file has),
// with the load addresses they cover, both inclusive.
struct BlockRange {
  std::size_t first = 0;
  std::size_t last = 0;
  std::uint32_t first_address = 0;
  std::uint32_t last_address = 0;
};

struct FirmwareDifference {
  PartitionKind kind = PartitionKind::kRofs;
  int model = 0;
  std::size_t old_blocks = 0;
  std::size_t new_blocks = 0;

  // Why the partition of either file could not be read; empty when both
  // were. Without them `entries` and `partition` are empty.
  std::string partition_problem;
  // Sorted by path.
  std::vector<EntryDifference> entries;
  // The partition's own fields: where it starts in the payload, the ROFS
  // header (time, version, maximum size, image size), the FAT label and
  // geometry.
  std::vector<FieldDifference> partition;
  // Outside the payload: the table of contents, named blocks, other prefix
  // bytes, header fields, padding, what follows the blocks, and when
  // nothing else explains a difference, the first byte that differs.
  std::vector<FieldDifference> outside;

  std::size_t differing_blocks = 0;
  std::vector<BlockRange> block_ranges;

  // What each partition holds: its files (hidden entries aside) and their
  // bytes; for the warning of a Repack that removes most of them.
  std::uint64_t old_files = 0;
  std::uint64_t new_files = 0;
  std::uint64_t old_file_bytes = 0;
  std::uint64_t new_file_bytes = 0;

  // Nothing differs: the files are the same bytes.
  bool same() const {
    return partition_problem.empty() && entries.empty() && partition.empty() && outside.empty() &&
           differing_blocks == 0;
  }
};

// The model both files are read in: `chosen` when given; otherwise the one
// their block layouts fit (ModelsThatFit, the first where several with the
// same block walk fit both); model 0, as the other commands take it, when
// neither fits any. Throws NotComparableError when they fit different
// models, naming both.
int ChooseModel(const FirmwareInput& old_file, const FirmwareInput& new_file, PartitionKind kind,
                std::optional<int> chosen);

// Compares two firmware files of `kind` in `model`'s block format. Throws
// NotComparableError when either has no block header of the model, its
// chain of blocks does not hold to its end, or its payload holds no
// partition of the kind (a ROFS file holding a FAT image, say); a partition
// the readers refuse is not thrown: `partition_problem` says why, and the
// rest is compared. Throws what the readers throw (FileIoError).
FirmwareDifference CompareFirmware(const FirmwareInput& old_file, const FirmwareInput& new_file, PartitionKind kind,
                                   int model);

// The two firmware files at `old_path` and `new_path`, mapped (FileView)
// for the length of the call and read in bulk through the files: of
// `kind`, or what both their names say; in `model`, or the one ChooseModel
// finds. Throws NotComparableError for a file that is missing, empty or a
// folder, for names that say different kinds, and as ChooseModel and
// CompareFirmware do; FileOpenError or FileIoError for a file that cannot
// be read.
FirmwareDifference CompareFirmwareFiles(const std::string& old_path, const std::string& new_path,
                                        std::optional<PartitionKind> kind, std::optional<int> model);

}  // namespace larkspur::diff

#endif  // LARKSPUR_DIFF_FIRMWARE_DIFF_H_
