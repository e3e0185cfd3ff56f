#include "rofs/rofs_writer.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>

#include "base/byte_order.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_names.h"

namespace larkspur::rofs {
namespace {

constexpr std::uint64_t kMaxStructSize = 0xFFFF;
constexpr std::uint64_t kMaxTableCount = 0xFFFF;

std::string JoinedPath(const std::vector<std::u16string>& path, std::size_t count) {
  std::u16string joined;
  for (std::size_t i = 0; i < count; ++i) {
    if (i) joined += u'\\';
    joined += path[i];
  }
  return QuotedName(joined);
}

struct Directory {
  std::u16string name;
  int line = 0;                      // the obey line that made the folder, for messages
  std::vector<std::size_t> subdirs;  // indices into the directory list, creation order
  std::vector<std::size_t> files;    // indices into spec.files, creation order
  // Folded name -> the child that holds it, for case-insensitive matching.
  struct Child {
    bool is_directory;
    std::size_t index;
    int line;
  };
  std::unordered_map<std::u16string, Child> children;

  // Layout, filled in after the tree is complete.
  std::uint32_t struct_size = 0;
  std::vector<std::uint32_t> subdir_entry_offsets;  // relative to the block
  std::uint32_t block_offset = 0;
  std::uint32_t block_space = 0;
  std::uint32_t file_block_size = 0;              // without the last entry's padding
  std::vector<std::uint32_t> file_entry_offsets;  // relative to the file block
  std::uint32_t file_block_address = 0;
};

void Put16(std::vector<std::uint8_t>& out, std::uint64_t at, std::uint16_t value) {
  PutLittleEndian16(out.data() + at, value);
}

void Put32(std::vector<std::uint8_t>& out, std::uint64_t at, std::uint32_t value) {
  PutLittleEndian32(out.data() + at, value);
}

void Put64(std::vector<std::uint8_t>& out, std::uint64_t at, std::uint64_t value) {
  PutLittleEndian64(out.data() + at, value);
}

// Writes an entry's fixed fields and name. The UID field is left as it is
// (0xFF from the fill) unless `uids` is given, as the builder does for
// subdirectory entries.
void PutEntry(std::vector<std::uint8_t>& out, std::uint64_t at, std::u16string_view name,
              std::uint8_t attributes, std::uint8_t extra_attributes, std::uint32_t size,
              std::uint32_t address, const std::array<std::uint8_t, kEntryUidsSize>* uids) {
  const auto units = static_cast<std::uint32_t>(name.size());
  Put16(out, at + kEntryStructSizeOffset, static_cast<std::uint16_t>(RoundUp4(EntrySize(units))));
  if (uids) std::memcpy(&out[at + kEntryUidsOffset], uids->data(), kEntryUidsSize);
  out[at + kEntryNameOffsetOffset] = kEntryFixedSize;
  out[at + kEntryAttributesOffset] = attributes;
  Put32(out, at + kEntrySizeOffset, size);
  Put32(out, at + kEntryAddressOffset, address);
  out[at + kEntryExtraAttributesOffset] = extra_attributes;
  out[at + kEntryNameLengthOffset] = static_cast<std::uint8_t>(units);
  for (std::size_t i = 0; i < name.size(); ++i) {
    Put16(out, at + kEntryFixedSize + 2 * i, name[i]);
  }
}

class Layouter {
 public:
  explicit Layouter(const ImageSpec& spec) : spec_(spec) {}

  ImageLayout Run() {
    if (spec_.files.empty()) throw ObeyError(spec_.origin, 0, "no file to put into the image");
    dirs_.emplace_back();  // the root
    dirs_[0].line = spec_.files[0].line;
    for (std::size_t i = 0; i < spec_.files.size(); ++i) AddFile(i);
    SizeBlocks();
    ImageLayout layout;
    PlaceData(layout);
    WriteMetadata(layout);
    return layout;
  }

 private:
  [[noreturn]] void Fail(int line, const std::string& reason) const {
    throw ObeyError(spec_.origin, line, reason);
  }

  void CheckName(const ImageFileSpec& file, std::size_t component) const {
    const std::u16string& name = file.path[component];
    if (auto reason = UnsafeNameReason(name)) {
      Fail(file.line, "cannot store " + JoinedPath(file.path, component + 1) + ": " + *reason);
    }
    if (name.size() > kMaxNameUnits) {
      Fail(file.line, "name " + QuotedName(name) + " has " + std::to_string(name.size()) +
                          " UTF-16 units; at most 255 fit an entry");
    }
  }

  // Creation order: any folder on the path not seen before, then the file.
  void AddFile(std::size_t index) {
    const ImageFileSpec& file = spec_.files[index];
    if (file.path.empty()) Fail(file.line, "the image path is empty");
    // The reader takes a deeper chain of folders for damage, so an image
    // holding one could not be read back (nor its path held by the phone).
    if (file.path.size() - 1 > static_cast<std::size_t>(kMaxDirectoryDepth)) {
      Fail(file.line, "cannot store " + JoinedPath(file.path, file.path.size()) + ": its folders nest deeper than " +
                          std::to_string(kMaxDirectoryDepth) + " levels");
    }
    // The folders this path shares, spelled the same, with the file added
    // before (the obey generator lists a folder's files together) lead to
    // the same directories: only the rest of the path is checked and looked
    // up.
    std::size_t c = 0;
    if (last_file_) {
      const std::vector<std::u16string>& last_path = spec_.files[*last_file_].path;
      while (c + 1 < file.path.size() && c + 1 < last_path.size() && file.path[c] == last_path[c]) ++c;
    }
    last_dirs_.resize(c + 1);
    std::size_t dir = last_dirs_[c];
    last_file_ = index;
    for (; c < file.path.size(); ++c) {
      CheckName(file, c);
      const bool is_last = c + 1 == file.path.size();
      const std::u16string key = FoldAsciiCase(file.path[c]);
      const auto found = dirs_[dir].children.find(key);
      if (found != dirs_[dir].children.end()) {
        const Directory::Child& child = found->second;
        if (!is_last && child.is_directory) {
          dir = child.index;  // the first spelling of a folder wins
          last_dirs_.push_back(dir);
          continue;
        }
        Fail(file.line, "duplicate name " + JoinedPath(file.path, c + 1) + ": line " +
                            std::to_string(child.line) + " already gives " +
                            (child.is_directory ? "a folder" : "a file") +
                            " of that name (names match ignoring ASCII case)");
      }
      if (is_last) {
        dirs_[dir].children.emplace(key, Directory::Child{false, index, file.line});
        dirs_[dir].files.push_back(index);
      } else {
        const std::size_t created = dirs_.size();
        dirs_[dir].children.emplace(key, Directory::Child{true, created, file.line});
        dirs_[dir].subdirs.push_back(created);
        dirs_.emplace_back();
        dirs_.back().name = file.path[c];
        dirs_.back().line = file.line;
        dir = created;
        last_dirs_.push_back(dir);
      }
    }
  }

  std::string DirectoryLabel(std::size_t index) const {
    return index == 0 ? std::string("the root folder") : "folder " + QuotedName(dirs_[index].name);
  }

  void SizeBlocks() {
    // Every entry but the last is padded to 4 bytes inside the stated sizes.
    std::uint64_t tree_offset = kHeaderSize;
    for (std::size_t d = 0; d < dirs_.size(); ++d) {
      Directory& dir = dirs_[d];
      std::uint64_t size = kDirBlockFixedSize;
      for (std::size_t sub : dir.subdirs) {
        size = RoundUp4(size);
        dir.subdir_entry_offsets.push_back(static_cast<std::uint32_t>(size));
        size += EntrySize(static_cast<std::uint32_t>(dirs_[sub].name.size()));
      }
      if (size > kMaxStructSize) {
        Fail(dir.line, DirectoryLabel(d) + " has too many subfolders: its block needs " +
                           std::to_string(size) + " bytes, more than 65535");
      }
      dir.struct_size = static_cast<std::uint32_t>(size);
      std::uint64_t files_size = 0;
      for (std::size_t f : dir.files) {
        files_size = RoundUp4(files_size);
        if (files_size / 4 > kMaxTableWordOffset || dir.files.size() > kMaxTableCount) {
          Fail(spec_.files[f].line, DirectoryLabel(d) +
                                        " has too many files: its file block outgrows the "
                                        "256 KiB that 16-bit word offsets reach");
        }
        dir.file_entry_offsets.push_back(static_cast<std::uint32_t>(files_size));
        files_size += EntrySize(static_cast<std::uint32_t>(spec_.files[f].path.back().size()));
      }
      dir.file_block_size = static_cast<std::uint32_t>(files_size);
      // The builder pads the lookup table by its own size mod 4 (0 or 2) before
      // rounding the block; byte-identical output depends on it.
      const std::uint64_t table = 4 + 2 * (dir.subdirs.size() + dir.files.size());
      dir.block_space = static_cast<std::uint32_t>(RoundUp4(size + table + table % 4));
      dir.block_offset = static_cast<std::uint32_t>(tree_offset);
      tree_offset += dir.block_space;
      CheckFits(tree_offset, dir.line);
    }
    tree_end_ = tree_offset;
    std::uint64_t entries_offset = tree_end_;
    for (Directory& dir : dirs_) {
      if (dir.files.empty()) continue;
      dir.file_block_address = static_cast<std::uint32_t>(entries_offset);
      entries_offset += RoundUp4(dir.file_block_size);
      CheckFits(entries_offset, spec_.files[dir.files.back()].line);
    }
    entries_end_ = entries_offset;
  }

  void CheckFits(std::uint64_t end, int line) const {
    if (end > spec_.max_image_size) {
      Fail(spec_.max_image_size_line, "rofssize " + HexNumber(spec_.max_image_size) +
                                          " is too small: the image needs at least " + HexNumber(end) +
                                          " bytes by line " + std::to_string(line));
    }
  }

  void PlaceData(ImageLayout& layout) {
    std::uint64_t at = entries_end_;
    layout.placements.resize(spec_.files.size());
    for (std::size_t i = 0; i < spec_.files.size(); ++i) {
      const ImageFileSpec& file = spec_.files[i];
      if (file.hidden) {
        layout.placements[i] = {kHiddenFileAddress, 0};
        continue;
      }
      // An empty file takes the current address and no space, so it shares
      // its address with the next file.
      CheckFits(at + file.size, file.line);
      layout.placements[i] = {static_cast<std::uint32_t>(at),
                              static_cast<std::uint32_t>(file.size)};
      at = RoundUp4(at + file.size);
      CheckFits(at, file.line);
    }
    layout.image_size = static_cast<std::uint32_t>(at);
  }

  void WriteMetadata(ImageLayout& layout) const {
    std::vector<std::uint8_t>& out = layout.metadata;
    out.assign(entries_end_, kFillByte);
    std::memcpy(&out[kHeaderIdentifierOffset], kIdentifier, 4);
    out[kHeaderSizeOffset] = kHeaderSize;
    Put16(out, kHeaderFormatVersionOffset, kFormatVersion);
    Put32(out, kHeaderDirTreeOffsetOffset, kHeaderSize);
    Put32(out, kHeaderDirTreeSizeOffset, static_cast<std::uint32_t>(tree_end_ - kHeaderSize));
    Put32(out, kHeaderFileEntriesOffsetOffset, static_cast<std::uint32_t>(tree_end_));
    Put32(out, kHeaderFileEntriesSizeOffset, static_cast<std::uint32_t>(entries_end_ - tree_end_));
    Put64(out, kHeaderTimeOffset, static_cast<std::uint64_t>(spec_.time));
    out[kHeaderImageVersionOffset] = static_cast<std::uint8_t>(spec_.version.major);
    out[kHeaderImageVersionOffset + 1] = static_cast<std::uint8_t>(spec_.version.minor);
    Put16(out, kHeaderImageVersionOffset + 2, static_cast<std::uint16_t>(spec_.version.build));
    Put32(out, kHeaderImageSizeOffset, layout.image_size);
    Put32(out, kHeaderChecksumOffset, 0);
    Put32(out, kHeaderMaxImageSizeOffset, spec_.max_image_size);

    for (const Directory& dir : dirs_) {
      const std::uint64_t block = dir.block_offset;
      Put16(out, block + kDirStructSizeOffset, static_cast<std::uint16_t>(dir.struct_size));
      out[block + kDirFirstEntryOffsetOffset] = kDirBlockFixedSize;
      Put32(out, block + kDirFileBlockAddressOffset, dir.file_block_address);
      Put32(out, block + kDirFileBlockSizeOffset, dir.file_block_size);
      for (std::size_t s = 0; s < dir.subdirs.size(); ++s) {
        const Directory& sub = dirs_[dir.subdirs[s]];
        PutEntry(out, block + dir.subdir_entry_offsets[s], sub.name, kAttDirectory,
                 kDefaultExtraAttributes, sub.struct_size, sub.block_offset, nullptr);
      }
      for (std::size_t f = 0; f < dir.files.size(); ++f) {
        const ImageFileSpec& file = spec_.files[dir.files[f]];
        const FilePlacement& placement = layout.placements[dir.files[f]];
        static constexpr std::array<std::uint8_t, kEntryUidsSize> kNoUids{};
        const std::uint32_t entry = dir.file_block_address + dir.file_entry_offsets[f];
        PutEntry(out, entry, file.path.back(), file.attributes, file.extra_attributes, placement.size,
                 placement.address, file.hidden ? &kNoUids : &file.uids);
        layout.placements[dir.files[f]].entry = entry;
      }
      WriteLookupTable(out, dir);
    }
  }

  // Two sorted lists of word offsets after the subdirectory entries; the
  // phone binary-searches them, so they follow its compare, not the order of
  // creation.
  void WriteLookupTable(std::vector<std::uint8_t>& out, const Directory& dir) const {
    std::vector<std::size_t> subdir_order(dir.subdirs.size());
    for (std::size_t i = 0; i < subdir_order.size(); ++i) subdir_order[i] = i;
    std::stable_sort(subdir_order.begin(), subdir_order.end(), [&](std::size_t a, std::size_t b) {
      return CompareForLookup(dirs_[dir.subdirs[a]].name, dirs_[dir.subdirs[b]].name) < 0;
    });
    std::vector<std::size_t> file_order(dir.files.size());
    for (std::size_t i = 0; i < file_order.size(); ++i) file_order[i] = i;
    std::stable_sort(file_order.begin(), file_order.end(), [&](std::size_t a, std::size_t b) {
      return CompareForLookup(spec_.files[dir.files[a]].path.back(),
                              spec_.files[dir.files[b]].path.back()) < 0;
    });
    std::uint64_t at = dir.block_offset + dir.struct_size;
    Put16(out, at, static_cast<std::uint16_t>(dir.subdirs.size()));
    Put16(out, at + 2, static_cast<std::uint16_t>(dir.files.size()));
    at += 4;
    for (std::size_t i : subdir_order) {
      Put16(out, at, static_cast<std::uint16_t>(dir.subdir_entry_offsets[i] / 4));
      at += 2;
    }
    for (std::size_t i : file_order) {
      Put16(out, at, static_cast<std::uint16_t>(dir.file_entry_offsets[i] / 4));
      at += 2;
    }
  }

  const ImageSpec& spec_;
  std::vector<Directory> dirs_;  // creation order, root first
  // The file added last, and the directory each of its folders leads to:
  // last_dirs_[k] is reached through the first k folders (0: the root).
  std::optional<std::size_t> last_file_;
  std::vector<std::size_t> last_dirs_ = {0};
  std::uint64_t tree_end_ = 0;
  std::uint64_t entries_end_ = 0;
};

// Counts what passes through, so a source that shrank or grew while the
// image was written is caught instead of shifting every later file; tells
// `progress` the running total of file data after each piece.
class CountingSink : public ByteSink {
 public:
  CountingSink(ByteSink& inner, std::uint64_t written_before, std::uint64_t total,
               const WriteProgress& progress)
      : inner_(inner), written_before_(written_before), total_(total), progress_(progress) {}
  void Write(std::span<const std::uint8_t> bytes) override {
    inner_.Write(bytes);
    count_ += bytes.size();
    // A file that gives more than laid out fails after its copy; until then
    // the report must not pass the total.
    if (progress_) progress_(std::min(written_before_ + count_, total_), total_);
  }
  std::uint64_t count() const { return count_; }

 private:
  ByteSink& inner_;
  std::uint64_t written_before_;
  std::uint64_t total_;
  const WriteProgress& progress_;
  std::uint64_t count_ = 0;
};

}  // namespace

std::array<std::uint8_t, kEntryUidsSize> UidsFromData(std::span<const std::uint8_t> data) {
  std::array<std::uint8_t, kEntryUidsSize> uids{};
  // Not memcpy: the span of an empty file may hold a null pointer, which
  // memcpy may not be given even for 0 bytes.
  std::copy_n(data.begin(), std::min<std::size_t>(data.size(), kEntryUidsSize), uids.begin());
  return uids;
}

ImageLayout LayOutImage(const ImageSpec& spec) { return Layouter(spec).Run(); }

void PutUids(ImageLayout& layout, std::size_t index, const std::array<std::uint8_t, kEntryUidsSize>& uids) {
  const FilePlacement& placement = layout.placements.at(index);
  if (placement.address == kHiddenFileAddress) return;
  std::memcpy(&layout.metadata.at(placement.entry + kEntryUidsOffset), uids.data(), kEntryUidsSize);
}

void WriteImage(const ImageSpec& spec, const ImageLayout& layout, ByteSink& sink,
                const std::function<void(std::size_t index, ByteSink& sink)>& write_data,
                const WriteProgress& progress) {
  static constexpr std::uint8_t kPadding[4] = {kFillByte, kFillByte, kFillByte, kFillByte};
  std::uint64_t data_total = 0;
  for (const FilePlacement& placement : layout.placements) {
    if (placement.address != kHiddenFileAddress) data_total += placement.size;
  }
  std::uint64_t data_written = 0;
  sink.Write(layout.metadata);
  if (progress) progress(0, data_total);
  for (std::size_t i = 0; i < spec.files.size(); ++i) {
    const FilePlacement& placement = layout.placements[i];
    if (placement.address == kHiddenFileAddress || placement.size == 0) continue;
    CountingSink counted(sink, data_written, data_total, progress);
    write_data(i, counted);
    if (counted.count() != placement.size) {
      throw ObeyError(spec.origin, spec.files[i].line,
                      "the file gave " + std::to_string(counted.count()) + " bytes of data where " +
                          std::to_string(placement.size) + " were laid out");
    }
    sink.Write(std::span(kPadding, RoundUp4(placement.size) - placement.size));
    data_written += placement.size;
  }
}

}  // namespace larkspur::rofs
