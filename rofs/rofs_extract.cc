#include "rofs/rofs_extract.h"

#include <string_view>
#include <system_error>
#include <unordered_map>

#include "port/faults.h"
#include "port/errors.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_names.h"

namespace larkspur::rofs {
namespace {

class Planner {
 public:
  explicit Planner(std::string_view image_name) : image_name_(image_name) {}

  ExtractPlan Run(const RofsImage& image) {
    AddDirectory(image.root, std::filesystem::path());
    return std::move(plan_);
  }

 private:
  std::filesystem::path HostName(std::u16string_view name, std::uint32_t entry_offset) const {
    const std::string where = "ROFS entry at " + HexNumber(entry_offset) + ": name " + QuotedName(name);
    if (const auto reason = UnsafeNameReason(name)) {
      throw FormatError(image_name_, entry_offset, where + " cannot be extracted: " + *reason);
    }
    if (const auto refusal = HostNameRefusal(name)) {
      throw FormatError(image_name_, entry_offset,
                        where + " cannot be extracted: this system's file names cannot hold it: " + *refusal);
    }
    return *HostNameFromImageName(name);
  }

  // The recursion follows the parsed tree, whose depth the reader bounds.
  void AddDirectory(const RofsDirectory& dir, const std::filesystem::path& relative) {
    // One folder on the host cannot hold two names the phone takes as equal.
    std::unordered_map<std::u16string, std::uint32_t> seen;
    const auto claim = [&](std::u16string_view name, std::uint32_t entry_offset) {
      const auto [it, inserted] = seen.emplace(FoldAsciiCase(name), entry_offset);
      if (!inserted) {
        throw FormatError(image_name_, entry_offset,
                          "ROFS entry at " + HexNumber(entry_offset) + ": name " + QuotedName(name) +
                              " repeats the name of the entry at " + HexNumber(it->second) +
                              " in the same folder (names match ignoring ASCII case)");
      }
    };
    for (const RofsFile& file : dir.files) {
      claim(file.name, file.entry_offset);
      const std::filesystem::path host = relative / HostName(file.name, file.entry_offset);
      if (file.hidden()) {
        ++plan_.hidden_count;
        continue;
      }
      plan_.items.push_back({host, &file, file.entry_offset});
    }
    for (const RofsDirectory& sub : dir.subdirectories) {
      claim(sub.name, sub.entry_offset);
      const std::filesystem::path host = relative / HostName(sub.name, sub.entry_offset);
      plan_.items.push_back({host, nullptr, sub.entry_offset});
      AddDirectory(sub, host);
    }
  }

  std::string image_name_;
  ExtractPlan plan_;
};

// What stands at `path` now, without following a symbolic link.
std::filesystem::file_type TypeAt(const std::filesystem::path& path) {
  std::error_code error;
  const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
  if (error && status.type() != std::filesystem::file_type::not_found) {
    throw HostFileError("Cannot look at", HostPathToBytes(path), error.message());
  }
  return status.type();
}

void CreateFolder(const std::filesystem::path& path) {
  using std::filesystem::file_type;
  const file_type type = TypeAt(path);
  if (type == file_type::directory) return;
  if (type == file_type::symlink) {
    throw HostFileError("Refusing to write through the symbolic link", HostPathToBytes(path),
                        "it stands where the image has a folder");
  }
  if (type != file_type::not_found) {
    throw HostFileError("Cannot create folder", HostPathToBytes(path),
                        "something that is not a folder has that name");
  }
  std::error_code error;
  if (const int injected = port::NextFileChange(port::FileChange::kCreate)) {
    error = std::error_code(injected, std::generic_category());
  } else {
    std::filesystem::create_directory(path, error);
  }
  if (error) throw HostFileError("Cannot create folder", HostPathToBytes(path), error.message());
}

void WriteFile(const std::filesystem::path& path, std::span<const std::uint8_t> data) {
  using std::filesystem::file_type;
  const file_type type = TypeAt(path);
  if (type == file_type::symlink) {
    throw HostFileError("Refusing to write through the symbolic link", HostPathToBytes(path),
                        "it stands where the image has a file");
  }
  if (type != file_type::not_found && type != file_type::regular) {
    throw HostFileError("Cannot create file", HostPathToBytes(path),
                        "something that is not a regular file has that name");
  }
  // A file of the image's name that is there already (readimage run into a
  // folder that holds an earlier tree) is replaced. The file is created
  // exclusively under its own name: a temporary name beside it could be the
  // name of another file of the image, and a link that appeared since the
  // check above makes the creation fail instead of being written through.
  // A write that stops short removes the file.
  const std::string name = HostPathToBytes(path);
  if (type == file_type::regular) {
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error) throw HostFileError("Cannot create file", name, error.message());
  }
  try {
    port::WriteNewFile(name, {std::string_view(reinterpret_cast<const char*>(data.data()), data.size())});
  } catch (const FileCreateError& error) {
    throw HostFileError("Cannot create file", name, error.reason());
  }
}

}  // namespace

ExtractPlan PlanExtraction(const RofsImage& image, std::string_view image_name) {
  return Planner(image_name).Run(image);
}

ExtractStats ExtractImage(std::span<const std::uint8_t> bytes, const RofsImage& image,
                          std::string_view image_name, const std::filesystem::path& out_folder,
                          const ExtractProgress& progress) {
  const ExtractPlan plan = PlanExtraction(image, image_name);
  ExtractStats stats;
  stats.hidden_skipped = plan.hidden_count;
  std::size_t files_total = 0;
  for (const ExtractItem& item : plan.items) files_total += item.file != nullptr;
  if (progress) progress(0, files_total);

  std::error_code error;
  std::filesystem::create_directories(out_folder, error);
  if (error)
    throw HostFileError("Cannot create folder", HostPathToBytes(out_folder), error.message());
  for (const ExtractItem& item : plan.items) {
    // Every item is a chain of checked single names, so it cannot leave the
    // output folder; the parent folders were created (or found to be real
    // folders) by earlier items.
    const std::filesystem::path target = out_folder / item.relative;
    if (item.file == nullptr) {
      CreateFolder(target);
      ++stats.folders;
    } else {
      const auto data = FileData(bytes, *item.file);
      WriteFile(target, data);
      ++stats.files;
      stats.bytes += data.size();
      if (progress) progress(stats.files, files_total);
    }
  }
  port::FlushFileSystemOf(HostPathToBytes(out_folder));
  return stats;
}

}  // namespace larkspur::rofs
