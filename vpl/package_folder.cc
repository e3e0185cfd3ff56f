#include "vpl/package_folder.h"

#include <algorithm>
#include <exception>
#include <limits>
#include <optional>

#include "base/hex.h"
#include "port/errors.h"
#include "port/file_view.h"
#include "port/files.h"
#include "port/folders.h"
#include "vpl/file_crc.h"
#include "vpl/vpl_errors.h"
#include "vpl/vpl_writer.h"

namespace larkspur::vpl {
namespace {

bool IsVplName(const std::string& name) {
  return name.size() > 4 && SameFileName(std::string_view(name).substr(name.size() - 4), ".vpl");
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// The regular files of `folder` whose names end in ".vpl", in name order;
// nullopt when the folder cannot be listed.
std::optional<std::vector<std::string>> VplNamesIn(const std::string& folder) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(folder, entries)) return std::nullopt;
  std::vector<std::string> names;
  for (const port::DirEntry& entry : entries) {
    if (IsVplName(entry.name) && port::IsRegularFile(port::JoinPath(folder, entry.name))) names.push_back(entry.name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace

VplListing FindVplListing(const std::string& firmware_path) {
  const std::string folder = port::FolderPart(firmware_path);
  const std::string firmware_name = port::FileNamePart(firmware_path);
  VplListing listing;
  const std::optional<std::vector<std::string>> vpl_names = VplNamesIn(folder);
  if (!vpl_names) {
    listing.kind = VplListing::Kind::kUnreadable;
    listing.reason = "Cannot list folder " + Quoted(folder);
    return listing;
  }
  std::string unreadable;  // the first reason, when a .vpl cannot be read
  std::string ambiguity;   // "2 in "a.vpl", 1 in "b.vpl""
  for (const std::string& name : *vpl_names) {
    const std::string path = port::JoinPath(folder, name);
    std::string bytes;
    VplFile vpl;
    try {
      // An empty .vpl lists nothing (ReadWholeFile refuses it as no file).
      port::ReadWholeFile(path, bytes, kMaxVplBytes);
      vpl = ParseVpl(bytes, path);
    } catch (const Error& error) {
      if (unreadable.empty()) unreadable = error.what();
      continue;
    }
    const std::vector<std::size_t> named = EntriesNaming(vpl, firmware_name);
    if (named.empty()) continue;
    if (!ambiguity.empty()) ambiguity += ", ";
    ambiguity += std::to_string(named.size()) + " in " + Quoted(path);
    listing.listing_paths.insert(listing.listing_paths.end(), named.size(), path);
    if (listing.listing_paths.size() == 1) {
      listing.vpl_path = path;
      listing.vpl_bytes = std::move(bytes);
      listing.vpl = std::move(vpl);
      listing.entry_index = named.front();
    }
  }
  if (listing.listing_paths.size() > 1) {
    listing =
        VplListing{.kind = VplListing::Kind::kAmbiguous,
                   .listing_paths = std::move(listing.listing_paths),
                   .reason = Quoted(PrintableBytes(firmware_name)) + " is named by more than one <File>: " + ambiguity};
  } else if (!unreadable.empty()) {
    listing = VplListing{.kind = VplListing::Kind::kUnreadable, .reason = unreadable};
  } else if (listing.listing_paths.size() == 1) {
    listing.kind = VplListing::Kind::kListed;
    listing.listing_paths.clear();
  }
  return listing;
}

namespace {

constexpr char kCannotWrite[] = "Cannot write the package folder";
constexpr std::uint64_t kNoLimit = std::numeric_limits<std::uint64_t>::max();

// One file of the folder being written.
struct PlannedFile {
  std::string name;         // in the written folder
  std::string source_path;  // copied from; empty: `bytes` are the content
  const std::string* bytes = nullptr;
  std::uint64_t size = 0;  // what was written
};

// Copies the file at `from` to `to` (WriteFileReplacing, which lets the
// system copy a mapped file's bytes) and returns its size.
std::uint64_t CopyFile(const std::string& from, const std::string& to) {
  port::FileView view;
  if (view.Open(from, kNoLimit)) {
    port::WriteFileReplacing(to, {view.bytes()}, nullptr, view);
    return view.size();
  }
  // The view refuses an empty file as it refuses a missing one.
  if (port::FileSize(from) != 0) throw FileOpenError(from, "The file is missing or not a regular file");
  port::WriteFileReplacing(to, std::vector<std::string_view>{});
  return 0;
}

// Removes the folder this run made and filled, on the way out of a
// failure; the failure is what gets reported.
void RemoveWrittenFolder(const std::string& folder) {
  try {
    port::RemoveTree(folder);
  } catch (const Error&) {
  }
}

// Refuses `target` unless nothing is there or an empty folder is.
void RequireEmptyTarget(const std::string& target) {
  if (port::IsDirectory(target)) {
    std::vector<port::DirEntry> entries;
    if (!port::ListDirectory(target, entries)) throw FileError(kCannotWrite, target, "It cannot be listed");
    if (!entries.empty()) throw FileError(kCannotWrite, target, "It exists and is not empty");
  } else if (port::PathExists(target)) {
    throw FileError(kCannotWrite, target, "It exists and is not a folder");
  }
}

std::string WithoutTrailingSeparators(std::string path) {
  while (path.size() > 1 && (path.back() == '/' || path.back() == port::kPathSeparator)) path.pop_back();
  return path;
}

// The sizes as written, and with a .vpl the repacked file's CRC as written
// against the one the .vpl gives it.
void CheckWritten(const std::string& folder, const std::vector<PlannedFile>& plan,
                  const FlashableFolderSources& sources, const std::string& firmware_name, const std::string& vpl_name,
                  const std::string& target) {
  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(folder, entries) || entries.size() != plan.size()) {
    throw FileError(kCannotWrite, target,
                    "The temporary folder " + Quoted(folder) + " does not hold the " + std::to_string(plan.size()) +
                        " files written into it");
  }
  for (const PlannedFile& file : plan) {
    const std::int64_t size = port::FileSize(port::JoinPath(folder, file.name));
    if (size < 0 || static_cast<std::uint64_t>(size) != file.size) {
      throw FileError(kCannotWrite, target,
                      Quoted(file.name) + " was written with " + std::to_string(file.size) + " bytes but holds " +
                          std::to_string(size));
    }
  }
  if (vpl_name.empty()) return;
  // Named as the file it was to become.
  const VplFile vpl = ParseVpl(sources.vpl_bytes, port::JoinPath(target, vpl_name));
  const std::vector<std::size_t> named = EntriesNaming(vpl, firmware_name);
  const std::optional<std::uint32_t> listed = named.size() == 1 ? CrcOfEntry(vpl.entries[named.front()]) : std::nullopt;
  const std::optional<std::uint32_t> written = Crc32OfFile(port::JoinPath(folder, firmware_name));
  if (!listed || listed != written) {
    throw FileError(kCannotWrite, target,
                    "The new " + Quoted(vpl_name) + " does not give " + Quoted(firmware_name) + " its CRC " +
                        (written ? CrcText(*written) : std::string("(unread)")) +
                        (named.size() == 1 ? ", but \"" + PrintableBytes(vpl.entries[named.front()].crc_text) + "\""
                                           : ", naming it " + std::to_string(named.size()) + " times"));
  }
}

}  // namespace

FlashableFolderWritten WriteFlashableFolder(const FlashableFolderSources& sources, const std::string& target_folder) {
  FlashableFolderWritten written;
  written.folder = WithoutTrailingSeparators(target_folder);
  const std::string& target = written.folder;
  RequireEmptyTarget(target);

  std::vector<port::DirEntry> entries;
  if (!port::ListDirectory(sources.package_folder, entries)) {
    throw FileError(kCannotWrite, target, "The package folder " + Quoted(sources.package_folder) + " cannot be listed");
  }
  std::sort(entries.begin(), entries.end(),
            [](const port::DirEntry& a, const port::DirEntry& b) { return a.name < b.name; });
  // The package's spelling of a name the caller gives, which must be one.
  auto package_spelling = [&](const std::string& name) {
    std::string found;
    for (const port::DirEntry& entry : entries) {
      if (!SameFileName(entry.name, name)) continue;
      if (!found.empty()) {
        throw FileError(kCannotWrite, target,
                        "The package folder holds both " + Quoted(found) + " and " + Quoted(entry.name));
      }
      found = entry.name;
    }
    return found.empty() ? name : found;
  };
  written.firmware_name = package_spelling(sources.firmware_name);
  const std::string vpl_name = sources.vpl_name.empty() ? std::string() : package_spelling(sources.vpl_name);

  std::vector<PlannedFile> plan;
  plan.push_back({.name = written.firmware_name, .source_path = sources.repacked_path});
  if (!vpl_name.empty()) plan.push_back({.name = vpl_name, .bytes = &sources.vpl_bytes});
  for (const port::DirEntry& entry : entries) {
    if (entry.name == written.firmware_name || entry.name == vpl_name) continue;
    const std::string path = port::JoinPath(sources.package_folder, entry.name);
    if (entry.is_directory || !port::IsRegularFile(path)) {
      written.left_out.push_back(entry.name);
    } else {
      written.copied.push_back(entry.name);
      plan.push_back({.name = entry.name, .source_path = path});
    }
  }
  // Each file is written through a temporary "<name>.partial" beside it: a
  // shorter name goes first, so a package file of that name is written
  // after the file whose temporary it would be, not replaced by it.
  std::sort(plan.begin(), plan.end(), [](const PlannedFile& a, const PlannedFile& b) {
    return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
  });

  const std::string temporary = target + ".partial";
  const bool target_was_folder = port::IsDirectory(target);
  port::CreateNewFolder(temporary);
  try {
    for (PlannedFile& file : plan) {
      const std::string to = port::JoinPath(temporary, file.name);
      if (file.bytes != nullptr) {
        port::WriteFileReplacing(to, {*file.bytes});
        file.size = file.bytes->size();
      } else {
        file.size = CopyFile(file.source_path, to);
      }
    }
    CheckWritten(temporary, plan, sources, written.firmware_name, vpl_name, target);
    // An empty folder at the target gives way; one that filled up
    // meanwhile does not (the removal fails, the move then refuses).
    if (port::IsDirectory(target)) port::RemoveEmptyFolder(target);
    port::MoveFolder(temporary, target);
  } catch (...) {
    RemoveWrittenFolder(temporary);
    throw;
  }
  try {
    port::FlushFileSystemOf(target);
  } catch (...) {
    // The move may not last: the folder is taken back, as it was.
    RemoveWrittenFolder(target);
    try {
      if (target_was_folder) port::CreateFolder(target);
    } catch (const Error&) {
    }
    throw;
  }
  return written;
}

}  // namespace larkspur::vpl
