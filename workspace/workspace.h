// The program folder as Extract and Repack work in it: where each working
// file and folder lies (this is the one place that spells their names), the
// records in `temp` that tie a tree or an image to the firmware file it came
// from. A run changes them through a Transaction (transaction.h).
//
// One run at a time works in a program folder (the run lock); the functions
// themselves keep no state and may be called from any thread. Failures of
// the system throw Error (FileCreateError and the like) naming the path.
#ifndef LARKSPUR_WORKSPACE_WORKSPACE_H_
#define LARKSPUR_WORKSPACE_WORKSPACE_H_

#include <optional>
#include <string>
#include <string_view>

#include "format/model_profile.h"
#include "rofs/kept_entries.h"
#include "workspace/tree_source.h"

namespace larkspur {

// The names of the working files and folders, relative to the program
// folder.
namespace work {
inline constexpr char kToolFolder[] = "exebat";
inline constexpr char kTempFolder[] = "temp";
inline constexpr char kRofsTree[] = "rofs2";
inline constexpr char kRofsImage[] = "temp/rofs2.img";          // carved by Extract
inline constexpr char kObeyFile[] = "temp/rofs2.obey";          // written by Repack
inline constexpr char kBuiltRofsImage[] = "exebat/rofs2r.img";  // where rofsbuild leaves it
inline constexpr char kRebuiltRofsImage[] = "temp/rofs2r.img";  // where Repack takes it from
inline constexpr char kFatImage[] = "fat16/fat16.img";
inline constexpr char kUdaTree[] = "uda";
// Records.
inline constexpr char kRofsSource[] = "temp/rofs2.source";  // the firmware rofs2 came from
inline constexpr char kFatSource[] = "temp/fat16.source";   // the firmware fat16.img came from
inline constexpr char kKeptEntries[] = "temp/rofs2.kept";   // hidden entries and attributes
inline constexpr char kUdaRecord[] = "temp/uda.record";     // what uda held after the Extract
inline constexpr char kFatStamp[] = "temp/fat16.stamp";     // fat16.img's size and time then
// The earlier tree beside a tree, kept once after a fresh one was unpacked.
inline constexpr char kPreviousSuffix[] = ".previous";
// The output of a Repack: this, then the input file's name.
inline constexpr char kOutputPrefix[] = "REB-";
}  // namespace work

class Workspace {
 public:
  // `program_folder` ends in a separator: the executable's own folder, or
  // the one given with --home.
  explicit Workspace(std::string program_folder);

  const std::string& folder() const { return folder_; }
  // The full path of a working file or folder (`relative` as in work::).
  std::string Path(std::string_view relative) const;

  // The tree a partition of `kind` is unpacked into (rofs2, uda), and the
  // file Extract carves it into (temp/rofs2.img, fat16/fat16.img).
  static const char* TreeOf(PartitionKind kind);
  static const char* ImageOf(PartitionKind kind);
  // The REB- file of an input file named `source_file_name`.
  std::string OutputPath(const std::string& source_file_name) const;

  // A record's text; nothing when the file is missing or empty. Throws
  // FileOpenError when it exists and cannot be read.
  std::optional<std::string> ReadRecord(std::string_view relative) const;
  // Replaces a record (WriteFileReplacing). Throws FileCreateError.
  void WriteRecord(std::string_view relative, std::string_view text) const;
  // The record of the firmware file the tree (or image) of `kind` came from;
  // nothing when there is none or it is damaged.
  std::optional<TreeSource> ReadTreeSource(PartitionKind kind) const;
  void WriteTreeSource(PartitionKind kind, const TreeSource& source) const;

  // The hidden entries and attributes kept from the extracted ROFS image;
  // empty when there is no record. Throws rofs::KeptEntriesError for a
  // damaged one.
  rofs::KeptEntries ReadKeptEntries() const;

  // fat16.img's size and write time, as the stamp records them.
  std::string FatImageStampText() const;
  void RecordFatImageStamp() const;
  // True when fat16.img is not as the stamp recorded it (or there is none).
  bool FatImageChangedSinceStamp() const;

  // Records what uda holds now; true when uda still holds what was recorded
  // (false without a record).
  void RecordUdaFolder() const;
  bool HasUdaRecord() const;
  bool UdaFolderMatchesRecord() const;

 private:
  std::string folder_;
};

}  // namespace larkspur

#endif  // LARKSPUR_WORKSPACE_WORKSPACE_H_
