#include "fat/fat_extract.h"

#include <chrono>
#include <system_error>

#ifdef _WIN32
#include <windows.h>
#endif

#include "port/faults.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
using rofs::HostFileError;
using rofs::HostPathToBytes;

class Planner {
 public:
  explicit Planner(std::string_view image_name) : image_name_(image_name) {}

  std::vector<FatExtractItem> Run(const FatVolume& volume) {
    AddFolder(volume.root, fs::path());
    return std::move(items_);
  }

 private:
  fs::path HostName(std::u16string_view name, std::uint64_t entry_offset) const {
    if (const auto refusal = rofs::HostNameRefusal(name)) {
      throw rofs::FormatError(image_name_, entry_offset,
                              "FAT directory entry at " + HexNumber(entry_offset) + ": name " +
                                  rofs::QuotedName(name) +
                                  " cannot be extracted: this system's file names cannot hold it: " + *refusal);
    }
    return *rofs::HostNameFromImageName(name);
  }

  // The recursion follows the parsed tree, whose depth the reader bounds.
  void AddFolder(const FatFolder& folder, const fs::path& relative) {
    for (const FatFile& file : folder.files) {
      items_.push_back({relative / HostName(file.name, file.entry_offset), &file, nullptr});
    }
    for (const FatFolder& sub : folder.folders) {
      const fs::path host = relative / HostName(sub.name, sub.entry_offset);
      items_.push_back({host, nullptr, &sub});
      AddFolder(sub, host);
    }
  }

  std::string image_name_;
  std::vector<FatExtractItem> items_;
};

// What stands at `path` now, without following a symbolic link.
fs::file_type TypeAt(const fs::path& path) {
  std::error_code error;
  const fs::file_status status = fs::symlink_status(path, error);
  if (error && status.type() != fs::file_type::not_found) {
    throw HostFileError("Cannot look at", HostPathToBytes(path), error.message());
  }
  return status.type();
}

void CreateFolder(const fs::path& path) {
  const fs::file_type type = TypeAt(path);
  if (type == fs::file_type::directory) return;
  if (type == fs::file_type::symlink) {
    throw HostFileError("Refusing to write through the symbolic link", HostPathToBytes(path),
                        "it stands where the volume has a folder");
  }
  if (type != fs::file_type::not_found) {
    throw HostFileError("Cannot create folder", HostPathToBytes(path),
                        "something that is not a folder has that name");
  }
  std::error_code error;
  if (const int injected = port::NextFileChange(port::FileChange::kCreate)) {
    error = std::error_code(injected, std::generic_category());
  } else {
    fs::create_directory(path, error);
  }
  if (error) throw HostFileError("Cannot create folder", HostPathToBytes(path), error.message());
}

void CheckFileTarget(const fs::path& path) {
  const fs::file_type type = TypeAt(path);
  if (type == fs::file_type::symlink) {
    throw HostFileError("Refusing to write through the symbolic link", HostPathToBytes(path),
                        "it stands where the volume has a file");
  }
  if (type != fs::file_type::not_found && type != fs::file_type::regular) {
    throw HostFileError("Cannot create file", HostPathToBytes(path),
                        "something that is not a regular file has that name");
  }
}

void SetTime(const fs::path& path, FatTimestamp stamp) {
  std::error_code error;
  fs::last_write_time(path, HostTimeFromFat(stamp), error);
  if (error) throw HostFileError("Cannot set the time of", HostPathToBytes(path), error.message());
}

void SetFolderTime(const fs::path& path, FatTimestamp stamp) {
#ifdef _WIN32
  // The runtime sets times by opening the path as a file, which Windows
  // refuses for a folder unless it is opened for backup semantics.
  const auto system = std::chrono::file_clock::to_sys(HostTimeFromFat(stamp));
  const std::uint64_t ticks =
      std::chrono::duration_cast<std::chrono::duration<std::int64_t, std::ratio<1, 10000000>>>(
          system.time_since_epoch()).count() + 116444736000000000ull;  // from 1601 on, in 100 ns
  FILETIME time{static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
  const HANDLE folder = CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  const bool done = folder != INVALID_HANDLE_VALUE && SetFileTime(folder, nullptr, nullptr, &time);
  const DWORD reason = GetLastError();
  if (folder != INVALID_HANDLE_VALUE) CloseHandle(folder);
  if (!done) {
    throw HostFileError("Cannot set the time of", HostPathToBytes(path),
                        std::system_category().message(static_cast<int>(reason)));
  }
#else
  SetTime(path, stamp);
#endif
}

}  // namespace

std::vector<FatExtractItem> PlanFatExtraction(const FatVolume& volume, std::string_view image_name) {
  return Planner(image_name).Run(volume);
}

FatExtractStats ExtractFatImage(std::span<const std::uint8_t> image, const FatVolume& volume,
                                std::string_view image_name, const fs::path& out_folder) {
  const std::vector<FatExtractItem> plan = PlanFatExtraction(volume, image_name);
  FatExtractStats stats;
  std::error_code error;
  fs::create_directories(out_folder, error);
  if (error) throw HostFileError("Cannot create folder", HostPathToBytes(out_folder), error.message());
  for (const FatExtractItem& item : plan) {
    // Every item is a chain of checked single names, so it cannot leave the
    // output folder; the parent folders were created (or found to be real
    // folders) by earlier items.
    const fs::path target = out_folder / item.relative;
    if (item.folder != nullptr) {
      CreateFolder(target);
      ++stats.folders;
      continue;
    }
    CheckFileTarget(target);
    // Created exclusively under its own name: a temporary name beside it
    // could be the name of another file of the volume, and a link that
    // appeared since the check makes the creation fail, never written
    // through. An earlier file of that name is replaced.
    if (fs::is_regular_file(fs::symlink_status(target))) {
      std::error_code error;
      fs::remove(target, error);
      if (error) throw HostFileError("Cannot create file", HostPathToBytes(target), error.message());
    }
    port::WriteNewFile(HostPathToBytes(target), FilePieces(image, *item.file));
    SetTime(target, item.file->modified);
    ++stats.files;
    stats.bytes += item.file->size;
  }
  // Writing into a folder changes its time, so folders get theirs last,
  // the deepest first.
  for (auto it = plan.rbegin(); it != plan.rend(); ++it) {
    if (it->folder != nullptr) SetFolderTime(out_folder / it->relative, it->folder->modified);
  }
  port::FlushFileSystemOf(HostPathToBytes(out_folder));
  return stats;
}

FatExtractStats ExtractFatImage(std::span<const std::uint8_t> image, const FatVolume& volume,
                                std::string_view image_name, const std::string& out_folder) {
  return ExtractFatImage(image, volume, image_name, port::FileSystemPath(out_folder));
}

}  // namespace larkspur::fat
