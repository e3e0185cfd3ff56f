#include "fat/fat_writer.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <system_error>

#include "base/byte_order.h"
#include "fat/fat_format.h"
#include "fat/fat_names.h"
#include "fat/fat_reader.h"
#include "fat/fat_time.h"
#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/utf16.h"

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
using rofs::HostFileError;
using rofs::HostPathToBytes;

// One file or folder of the host tree, with what the volume will hold.
struct Node {
  fs::path path;
  std::u16string name;
  bool is_folder = false;
  std::uint64_t size = 0;
  FatTimestamp modified;
  std::vector<Node> children;  // folders only, sorted by name
  ShortName short_name{};
  bool needs_long_name = false;
  std::vector<std::uint32_t> clusters;
  std::uint8_t attributes = 0;
};

// Read-only, hidden and system marks of the original volume by path (names
// folded, '/' between them), so a rebuild keeps what the phone set.
using KnownAttributes = std::map<std::u16string, std::uint8_t>;

void CollectAttributes(const FatFolder& folder, const std::u16string& prefix, KnownAttributes& known) {
  constexpr std::uint8_t kKept = kAttReadOnly | kAttHidden | kAttSystem;
  for (const FatFile& file : folder.files) known[prefix + FoldFatCase(file.name)] = file.attributes & kKept;
  for (const FatFolder& sub : folder.folders) {
    const std::u16string path = prefix + FoldFatCase(sub.name);
    known[path] = sub.attributes & kKept;
    CollectAttributes(sub, path + u"/", known);
  }
}

// A damaged original still gives its geometry; its files then lend no marks.
KnownAttributes AttributesOf(std::span<const std::uint8_t> original, std::string_view image_name) {
  KnownAttributes known;
  try {
    CollectAttributes(ParseFatImage(original, image_name).root, u"", known);
  } catch (const rofs::FormatError&) {
    known.clear();
  }
  return known;
}

void SetAttributes(Node& folder, const std::u16string& prefix, const KnownAttributes& known) {
  for (Node& child : folder.children) {
    const std::u16string path = prefix + FoldFatCase(child.name);
    const auto it = known.find(path);
    const std::uint8_t kept = it == known.end() ? 0 : it->second;
    child.attributes = kept | (child.is_folder ? kAttDirectory : kAttArchive);
    if (child.is_folder) SetAttributes(child, path + u"/", known);
  }
}

[[noreturn]] void Refuse(const fs::path& path, const std::string& reason) {
  throw FatBuildError("Cannot put \"" + HostPathToBytes(path) + "\" on the FAT volume: " + reason);
}

std::uint32_t LongNameEntries(const Node& node) {
  if (!node.needs_long_name) return 0;
  return static_cast<std::uint32_t>((node.name.size() + kLfnUnitsPerEntry - 1) / kLfnUnitsPerEntry);
}

std::optional<std::u16string> NameOnVolume(const fs::path& name) {
#ifdef _WIN32
  // The system's own UTF-16, unconverted: an unpaired surrogate reaches
  // FatNameProblem, which names it.
  const std::wstring& wide = name.native();
  return std::u16string(wide.begin(), wide.end());
#else
  return rofs::Utf8ToUtf16(name.native());
#endif
}

FatTimestamp ModifiedTime(const fs::path& path) {
  std::error_code error;
  const fs::file_time_type time = fs::last_write_time(path, error);
  if (error) throw HostFileError("Cannot read the time of", HostPathToBytes(path), error.message());
  return FatFromHostTime(time);
}

// Reads the folder at `node.path` into `node.children`, deciding the short
// names of its entries.
void ScanFolder(Node& node, int depth) {
  std::error_code error;
  std::vector<fs::directory_entry> entries;
  for (fs::directory_iterator it(node.path, error), end; !error && it != end; it.increment(error)) {
    entries.push_back(*it);
  }
  if (error) throw HostFileError("Cannot list folder", HostPathToBytes(node.path), error.message());
  // The system lists in no fixed order; sorting makes every refusal (which
  // of two clashing names is named) and the output the same on every run.
  std::sort(entries.begin(), entries.end(),
            [](const fs::directory_entry& a, const fs::directory_entry& b) { return a.path() < b.path(); });

  std::map<std::u16string, fs::path> seen;
  for (const fs::directory_entry& entry : entries) {
    Node child;
    child.path = entry.path();
    const std::optional<std::u16string> name = NameOnVolume(child.path.filename());
    if (!name) Refuse(child.path, "the name is not UTF-8 text");
    child.name = *name;
    if (const auto problem = FatNameProblem(child.name)) Refuse(child.path, *problem);
    const auto [it, inserted] = seen.emplace(FoldFatCase(child.name), child.path);
    if (!inserted) {
      Refuse(child.path, "its name matches \"" + HostPathToBytes(it->second.filename()) +
                             "\" ignoring case, and a FAT folder cannot hold both");
    }
    const fs::file_status status = entry.symlink_status(error);
    if (error) throw HostFileError("Cannot look at", HostPathToBytes(child.path), error.message());
    if (fs::is_symlink(status)) Refuse(child.path, "it is a symbolic link");
    if (fs::is_directory(status)) {
      child.is_folder = true;
      if (depth + 1 > kMaxFolderDepth) {
        Refuse(child.path, "folders nest deeper than " + std::to_string(kMaxFolderDepth) + " levels");
      }
    } else if (fs::is_regular_file(status)) {
      child.size = entry.file_size(error);
      if (error) throw HostFileError("Cannot look at", HostPathToBytes(child.path), error.message());
      if (child.size > 0xFFFFFFFFull) Refuse(child.path, "a FAT file holds less than 4 GiB");
    } else {
      Refuse(child.path, "it is neither a regular file nor a folder");
    }
    child.modified = ModifiedTime(child.path);
    node.children.push_back(std::move(child));
  }
  std::sort(node.children.begin(), node.children.end(),
            [](const Node& a, const Node& b) { return a.name < b.name; });

  // Names that are plain 8.3 names keep them; the rest get long-name
  // entries and a short name chosen after every plain one is claimed.
  std::set<ShortName> taken;
  for (Node& child : node.children) {
    if (auto plain = PlainShortName(child.name)) {
      child.short_name = *plain;
      taken.insert(*plain);
    } else {
      child.needs_long_name = true;
    }
  }
  for (Node& child : node.children) {
    if (!child.needs_long_name) continue;
    // "readme.txt" can be "README.TXT" when nobody holds that.
    auto basis = PlainShortName(FoldFatCase(child.name));
    if (!basis || taken.contains(*basis)) basis = GenerateShortName(child.name, taken);
    if (!basis) Refuse(child.path, "no short name is left for it in its folder");
    child.short_name = *basis;
    taken.insert(*basis);
  }
  for (Node& child : node.children) {
    if (child.is_folder) ScanFolder(child, depth + 1);
  }
}

class ImageBuilder {
 public:
  ImageBuilder(std::span<const std::uint8_t> original, const FatGeometry& geometry)
      : layout_(geometry.layout), boot_(geometry.boot), image_(original.begin(), original.end()) {
    const bool fat12 = layout_.type == FatType::kFat12;
    end_of_chain_ = fat12 ? 0xFFF : 0xFFFF;
    bad_cluster_ = fat12 ? 0xFF7 : 0xFFF7;
    fat_.resize(std::uint64_t{layout_.cluster_count} + kFirstDataCluster);
    for (std::uint32_t cluster = 0; cluster < fat_.size(); ++cluster) {
      const std::uint32_t value = ReadFatEntry(cluster);
      // The two reserved entries (media byte and flags) are kept; of the
      // rest only the marks of bad clusters survive.
      if (cluster < kFirstDataCluster || value == bad_cluster_) fat_[cluster] = value;
      if (cluster >= kFirstDataCluster && value == bad_cluster_) ++bad_clusters_;
    }
    label_entry_ = FindLabelEntry();
  }

  std::uint32_t usable_clusters() const { return layout_.cluster_count - bad_clusters_; }

  // Directory entries a folder with these children takes: "." and ".."
  // below the root, the kept label entry in it, and each child's long-name
  // entries and short entry.
  std::uint64_t FolderEntries(const Node& folder, bool is_root) const {
    std::uint64_t entries = is_root ? (label_entry_ ? 1 : 0) : 2;
    for (const Node& child : folder.children) entries += 1 + LongNameEntries(child);
    return entries;
  }

  std::uint64_t ClustersFor(std::uint64_t bytes) const {
    return (bytes + layout_.cluster_size - 1) / layout_.cluster_size;
  }

  // Clusters the tree below `folder` takes; the root folder itself takes
  // none, as it lives in its fixed region.
  std::uint64_t CountClusters(const Node& folder, bool is_root) const {
    std::uint64_t clusters = is_root ? 0 : std::max<std::uint64_t>(1, ClustersFor(FolderEntries(folder, false) * kDirEntrySize));
    for (const Node& child : folder.children) {
      clusters += child.is_folder ? CountClusters(child, false) : ClustersFor(child.size);
    }
    return clusters;
  }

  // Hands out clusters in the order of a walk of the tree: a folder's own
  // clusters, then its files, then its folders.
  void Allocate(Node& folder, bool is_root) {
    if (!is_root) {
      folder.clusters = Take(std::max<std::uint64_t>(1, ClustersFor(FolderEntries(folder, false) * kDirEntrySize)));
    }
    for (Node& child : folder.children) {
      if (!child.is_folder) child.clusters = Take(ClustersFor(child.size));
    }
    for (Node& child : folder.children) {
      if (child.is_folder) Allocate(child, false);
    }
  }

  void Write(const Node& root) {
    // The FATs, the root folder and the data region are made anew; the
    // reserved region and any bytes behind the volume stay as they were.
    std::fill(image_.begin() + layout_.fat_offset, image_.begin() + layout_.volume_size, 0);
    WriteFolder(root, 0, true);
    for (std::uint32_t cluster = 0; cluster < fat_.size(); ++cluster) WriteFatEntry(cluster, fat_[cluster]);
    for (std::uint32_t copy = 1; copy < boot_.fat_count; ++copy) {
      std::copy_n(image_.begin() + layout_.fat_offset, layout_.fat_size,
                  image_.begin() + layout_.fat_offset + copy * layout_.fat_size);
    }
  }

  std::vector<std::uint8_t> TakeImage() { return std::move(image_); }

 private:
  std::uint32_t ReadFatEntry(std::uint32_t cluster) const {
    const std::uint8_t* fat = image_.data() + layout_.fat_offset;
    if (layout_.type == FatType::kFat16) return LittleEndian16(fat + 2 * cluster);
    const std::uint64_t at = cluster + cluster / 2;
    const std::uint32_t pair = LittleEndian16(fat + at);
    return (cluster & 1) ? pair >> 4 : pair & 0xFFF;
  }

  void WriteFatEntry(std::uint32_t cluster, std::uint32_t value) {
    std::uint8_t* fat = image_.data() + layout_.fat_offset;
    if (layout_.type == FatType::kFat16) {
      PutLittleEndian16(fat + 2 * cluster, static_cast<std::uint16_t>(value));
      return;
    }
    const std::uint64_t at = cluster + cluster / 2;
    if (cluster & 1) {
      fat[at] = static_cast<std::uint8_t>((fat[at] & 0x0F) | ((value & 0x0F) << 4));
      fat[at + 1] = static_cast<std::uint8_t>(value >> 4);
    } else {
      fat[at] = static_cast<std::uint8_t>(value);
      fat[at + 1] = static_cast<std::uint8_t>((fat[at + 1] & 0xF0) | ((value >> 8) & 0x0F));
    }
  }

  // The label entry of the original root folder, kept as it is.
  std::optional<std::array<std::uint8_t, kDirEntrySize>> FindLabelEntry() const {
    for (std::uint64_t at = layout_.root_offset; at < layout_.root_offset + layout_.root_size; at += kDirEntrySize) {
      const std::uint8_t first = image_[at];
      if (first == kEntryEnd) break;
      const std::uint8_t attributes = image_[at + kEntryAttributesOffset];
      if (first == kEntryDeleted || (attributes & kAttLongNameMask) == kAttLongName) continue;
      if (attributes & kAttVolumeLabel) {
        std::array<std::uint8_t, kDirEntrySize> entry;
        std::copy_n(image_.begin() + at, kDirEntrySize, entry.begin());
        return entry;
      }
    }
    return std::nullopt;
  }

  std::vector<std::uint32_t> Take(std::uint64_t count) {
    std::vector<std::uint32_t> chain;
    while (chain.size() < count) {
      while (fat_[next_free_] != 0) ++next_free_;  // the count was checked to fit
      chain.push_back(next_free_);
      fat_[next_free_] = end_of_chain_;
      if (chain.size() > 1) fat_[chain[chain.size() - 2]] = next_free_;
      ++next_free_;
    }
    return chain;
  }

  std::uint64_t ClusterOffset(std::uint32_t cluster) const {
    return layout_.data_offset + std::uint64_t{cluster - kFirstDataCluster} * layout_.cluster_size;
  }

  void Put16(std::uint64_t at, std::uint16_t value) { PutLittleEndian16(image_.data() + at, value); }
  void Put32(std::uint64_t at, std::uint32_t value) { PutLittleEndian32(image_.data() + at, value); }

  // Entries of a folder go one after the other into its slots: the root's
  // fixed region, or its clusters.
  class Slots {
   public:
    Slots(const ImageBuilder& builder, const Node& folder, bool is_root) {
      if (is_root) {
        for (std::uint64_t at = builder.layout_.root_offset; at < builder.layout_.root_offset + builder.layout_.root_size;
             at += kDirEntrySize) {
          offsets_.push_back(at);
        }
      } else {
        for (std::uint32_t cluster : folder.clusters) {
          const std::uint64_t base = builder.ClusterOffset(cluster);
          for (std::uint64_t at = 0; at < builder.layout_.cluster_size; at += kDirEntrySize) offsets_.push_back(base + at);
        }
      }
    }
    std::uint64_t Next() { return offsets_.at(used_++); }

   private:
    std::vector<std::uint64_t> offsets_;
    std::size_t used_ = 0;
  };

  void PutShortEntry(std::uint64_t at, const ShortName& name, std::uint8_t attributes, FatTimestamp stamp,
                     std::uint32_t cluster, std::uint32_t size) {
    std::copy(name.begin(), name.end(), image_.begin() + at);
    image_[at + kEntryAttributesOffset] = attributes;
    Put16(at + kEntryCreateTimeOffset, stamp.time);
    Put16(at + kEntryCreateDateOffset, stamp.date);
    Put16(at + kEntryAccessDateOffset, stamp.date);
    Put16(at + kEntryTimeOffset, stamp.time);
    Put16(at + kEntryDateOffset, stamp.date);
    Put16(at + kEntryClusterOffset, static_cast<std::uint16_t>(cluster));
    Put32(at + kEntrySizeOffset, size);
  }

  void PutLongNameEntries(Slots& slots, const Node& node) {
    const std::uint32_t count = LongNameEntries(node);
    const std::uint8_t checksum = ShortNameChecksum(node.short_name);
    // Stored last piece first; after the name one NUL, then 0xFFFF fill.
    for (std::uint32_t order = count; order >= 1; --order) {
      const std::uint64_t at = slots.Next();
      image_[at + kLfnOrderOffset] = static_cast<std::uint8_t>(order | (order == count ? kLfnLastFlag : 0));
      image_[at + kEntryAttributesOffset] = kAttLongName;
      image_[at + kLfnChecksumOffset] = checksum;
      for (std::uint32_t i = 0; i < kLfnUnitsPerEntry; ++i) {
        const std::size_t index = (order - 1) * kLfnUnitsPerEntry + i;
        const std::uint16_t unit = index < node.name.size() ? node.name[index] : index == node.name.size() ? 0 : 0xFFFF;
        Put16(at + kLfnUnitOffsets[i], unit);
      }
    }
  }

  void WriteFolder(const Node& folder, std::uint32_t parent_cluster, bool is_root) {
    Slots slots(*this, folder, is_root);
    if (is_root && label_entry_) {
      std::copy(label_entry_->begin(), label_entry_->end(), image_.begin() + slots.Next());
    }
    if (!is_root) {
      ShortName dot;
      dot.fill(' ');
      dot[0] = '.';
      PutShortEntry(slots.Next(), dot, kAttDirectory, folder.modified, folder.clusters.front(), 0);
      dot[1] = '.';
      PutShortEntry(slots.Next(), dot, kAttDirectory, folder.modified, parent_cluster, 0);
    }
    for (const Node& child : folder.children) {
      PutLongNameEntries(slots, child);
      const std::uint32_t first = child.clusters.empty() ? 0 : child.clusters.front();
      PutShortEntry(slots.Next(), child.short_name, child.attributes, child.modified,
                    first, static_cast<std::uint32_t>(child.size));
      if (!child.is_folder) WriteFileData(child);
    }
    for (const Node& child : folder.children) {
      if (child.is_folder) WriteFolder(child, is_root ? 0 : folder.clusters.front(), false);
    }
  }

  void WriteFileData(const Node& file) {
    if (file.size == 0) {
      if (port::FileSize(HostPathToBytes(file.path)) > 0) Refuse(file.path, "the file changed while the volume was built");
      return;
    }
    std::string content;
    if (!port::ReadWholeFile(HostPathToBytes(file.path), content, file.size) || content.size() != file.size) {
      Refuse(file.path, "the file changed while the volume was built");
    }
    std::uint64_t done = 0;
    for (std::uint32_t cluster : file.clusters) {
      const std::uint64_t length = std::min<std::uint64_t>(layout_.cluster_size, content.size() - done);
      std::memcpy(image_.data() + ClusterOffset(cluster), content.data() + done, length);
      done += length;
    }
  }

  const VolumeLayout& layout_;
  const BootSector& boot_;
  std::vector<std::uint8_t> image_;
  std::vector<std::uint32_t> fat_;
  std::uint32_t end_of_chain_ = 0;
  std::uint32_t bad_cluster_ = 0;
  std::uint32_t bad_clusters_ = 0;
  std::uint32_t next_free_ = kFirstDataCluster;
  std::optional<std::array<std::uint8_t, kDirEntrySize>> label_entry_;
};

}  // namespace

std::vector<std::uint8_t> BuildFatImage(std::span<const std::uint8_t> original, std::string_view image_name,
                                        const fs::path& folder) {
  const FatGeometry geometry = ParseFatGeometry(original, image_name);
  Node root;
  root.path = folder;
  root.is_folder = true;
  std::error_code error;
  if (!fs::is_directory(fs::symlink_status(folder, error))) {
    throw HostFileError("Cannot read folder", HostPathToBytes(folder), "it is not a folder");
  }
  ScanFolder(root, 0);
  SetAttributes(root, u"", AttributesOf(original, image_name));

  ImageBuilder builder(original, geometry);
  const std::uint64_t root_entries = builder.FolderEntries(root, true);
  if (root_entries > geometry.boot.root_entries) {
    Refuse(folder, "the root folder needs " + std::to_string(root_entries) + " entries, the volume's root holds " +
                       std::to_string(geometry.boot.root_entries));
  }
  const std::uint64_t needed = builder.CountClusters(root, true);
  if (needed > builder.usable_clusters()) {
    const std::uint64_t cluster = geometry.layout.cluster_size;
    Refuse(folder, "the files and folders need " + std::to_string(needed * cluster) + " bytes (" +
                       std::to_string(needed) + " clusters of " + std::to_string(cluster) +
                       " bytes), the volume has " + std::to_string(builder.usable_clusters() * cluster) +
                       " bytes free (" + std::to_string(builder.usable_clusters()) + " clusters)");
  }
  builder.Allocate(root, true);
  builder.Write(root);
  return builder.TakeImage();
}

std::vector<std::uint8_t> BuildFatImage(std::span<const std::uint8_t> original, std::string_view image_name,
                                        const std::string& folder) {
  return BuildFatImage(original, image_name, port::FileSystemPath(folder));
}

}  // namespace larkspur::fat
