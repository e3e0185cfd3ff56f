#include "workspace/workspace.h"

#include "fat/folder_record.h"
#include "port/files.h"
#include "port/folders.h"

namespace larkspur {

Workspace::Workspace(std::string program_folder) : folder_(std::move(program_folder)) {}

std::string Workspace::Path(std::string_view relative) const { return port::JoinPath(folder_, relative); }

const char* Workspace::TreeOf(PartitionKind kind) {
  return kind == PartitionKind::kUda ? work::kUdaTree : work::kRofsTree;
}

const char* Workspace::ImageOf(PartitionKind kind) {
  return kind == PartitionKind::kUda ? work::kFatImage : work::kRofsImage;
}

std::string Workspace::OutputPath(const std::string& source_file_name) const {
  return Path(work::kOutputPrefix + source_file_name);
}

std::optional<std::string> Workspace::ReadRecord(std::string_view relative) const {
  std::string text;
  if (!port::ReadWholeFile(Path(relative), text, std::uint64_t{1} << 30)) return std::nullopt;
  return text;
}

void Workspace::WriteRecord(std::string_view relative, std::string_view text) const {
  port::WriteFileReplacing(Path(relative), {text});
}

std::optional<TreeSource> Workspace::ReadTreeSource(PartitionKind kind) const {
  const auto text = ReadRecord(kind == PartitionKind::kUda ? work::kFatSource : work::kRofsSource);
  if (!text) return std::nullopt;
  return ParseTreeSource(*text);
}

void Workspace::WriteTreeSource(PartitionKind kind, const TreeSource& source) const {
  WriteRecord(kind == PartitionKind::kUda ? work::kFatSource : work::kRofsSource, FormatTreeSource(source));
}

rofs::KeptEntries Workspace::ReadKeptEntries() const {
  const auto text = ReadRecord(work::kKeptEntries);
  if (!text) return {};
  return rofs::ParseKeptEntries(*text, Path(work::kKeptEntries));
}

std::string Workspace::FatImageStampText() const {
  const port::FileStamp stamp = port::StampOfFile(Path(work::kFatImage));
  return std::to_string(stamp.size) + " " + std::to_string(stamp.write_time) + "\n";
}

void Workspace::RecordFatImageStamp() const { WriteRecord(work::kFatStamp, FatImageStampText()); }

bool Workspace::FatImageChangedSinceStamp() const {
  const auto recorded = ReadRecord(work::kFatStamp);
  return !recorded || *recorded != FatImageStampText();
}

void Workspace::RecordUdaFolder() const { WriteRecord(work::kUdaRecord, fat::RecordFolderState(Path(work::kUdaTree))); }

bool Workspace::HasUdaRecord() const { return ReadRecord(work::kUdaRecord).has_value(); }

bool Workspace::UdaFolderMatchesRecord() const {
  const auto recorded = ReadRecord(work::kUdaRecord);
  return recorded && fat::FolderMatchesRecord(Path(work::kUdaTree), *recorded);
}

}  // namespace larkspur
