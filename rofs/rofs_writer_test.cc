#include "rofs/rofs_writer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_lookup.h"
#include "rofs/rofs_reader.h"
#include "rofs/utf16.h"
#include "testing/rofs_images.h"
#include "testing/test_files.h"

namespace larkspur::rofs {
namespace {

using testing::BuildInMemory;
using testing::MemoryFile;

// Header bytes 24..31 hold the build time, the one thing allowed to differ.
constexpr std::size_t kTimeBegin = 24;
constexpr std::size_t kTimeEnd = 32;

TEST(RofsWriterTest, MatchesTheReferenceImageByteForByte) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto obey_text = testing::ReadBytes(shared / "case1_rofs2.obey");
  const auto reference = testing::ReadBytes(shared / "case1_rofs2r.img");
  std::map<std::string, std::vector<std::uint8_t>> tree;
  for (auto& entry : testing::ReadTar(testing::ReadBytes(shared / "case1_input_tree.tar"))) {
    tree[entry.path] = std::move(entry.data);
  }

  const ObeyFile obey =
      ParseObey(std::string_view(reinterpret_cast<const char*>(obey_text.data()), obey_text.size()),
                "case1_rofs2.obey");
  std::vector<std::vector<std::uint8_t>> contents;
  for (const ObeyFileLine& line : obey.files) {
    // "..\rofs2\many\f000.txt" as seen from the tool folder is "rofs2/many/f000.txt" in the tar.
    std::string member = line.source.substr(3);
    for (char& c : member) c = c == '\\' ? '/' : c;
    ASSERT_TRUE(tree.count(member)) << member;
    contents.push_back(tree[member]);
  }
  const std::vector<std::uint8_t> image = testing::WriteInMemory(SpecFromObey(obey, 0), contents);

  ASSERT_EQ(image.size(), reference.size());
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i >= kTimeBegin && i < kTimeEnd) continue;
    ASSERT_EQ(image[i], reference[i]) << "first difference at " << HexNumber(i);
  }
}

// Every entry of an image as one line, folders first with their block
// fields, then files with every stored field, in physical order.
void DescribeEntries(const RofsDirectory& dir, const std::string& path, std::string& out) {
  char line[160];
  std::snprintf(line, sizeof line, "dir %s block 0x%X struct %u files 0x%X+%u\n", path.c_str(),
                dir.block_offset, dir.struct_size, dir.file_block_address, dir.file_block_size);
  out += line;
  for (const RofsFile& file : dir.files) {
    std::string uids;
    for (std::uint8_t b : file.uids) {
      char hex[4];
      std::snprintf(hex, sizeof hex, "%02x", b);
      uids += hex;
    }
    std::snprintf(line, sizeof line, " at 0x%X att 0x%02X attx 0x%02X size %u addr 0x%X uids ",
                  file.entry_offset, file.attributes, file.extra_attributes, file.size,
                  file.address);
    out += "file " + path + Utf16ToUtf8Lossy(file.name) + line + uids + "\n";
  }
  for (const RofsDirectory& sub : dir.subdirectories) {
    DescribeEntries(sub, path + Utf16ToUtf8Lossy(sub.name) + "/", out);
  }
}

// Case2 holds what the Symbian builder does with attrib=, exattrib=, a hide
// line, mixed case, a missing source and names beyond Latin-1. Its lookup
// table of folder "sort" follows the Symbian sort, which the phone does not
// use; every other byte must match.
TEST(RofsWriterTest, MatchesTheSymbianImageOfCase2EntryByEntry) {
  const auto shared = testing::ReferenceRofsFolder();
  ASSERT_FALSE(shared.empty()) << "the reference data testdata/rofs is missing from the checkout";
  const auto obey_text = testing::ReadBytes(shared / "case2_rofs2_case2.obey");
  const auto reference = testing::ReadBytes(shared / "case2_rofs2r_case2.img");
  std::map<std::string, std::vector<std::uint8_t>> tree;
  for (auto& entry : testing::ReadTar(testing::ReadBytes(shared / "case2_input_tree.tar"))) {
    tree[entry.path] = std::move(entry.data);
  }
  const ObeyFile obey =
      ParseObey(std::string_view(reinterpret_cast<const char*>(obey_text.data()), obey_text.size()),
                "case2_rofs2_case2.obey");
  std::vector<std::vector<std::uint8_t>> contents;
  for (const ObeyFileLine& line : obey.files) {
    std::string member = line.hidden ? std::string() : line.source.substr(3);
    for (char& c : member) c = c == '\\' ? '/' : c;
    // The Symbian builder stores a missing source as an empty file.
    contents.push_back(tree.count(member) ? tree[member] : std::vector<std::uint8_t>());
  }
  const std::vector<std::uint8_t> image = testing::WriteInMemory(SpecFromObey(obey, 0), contents);

  const RofsImage ours = ParseRofsImage(image, "ours.img");
  const RofsImage theirs = ParseRofsImage(reference, "case2_rofs2r_case2.img");
  std::string ours_text, theirs_text;
  DescribeEntries(ours.root, "", ours_text);
  DescribeEntries(theirs.root, "", theirs_text);
  EXPECT_EQ(ours_text, theirs_text);
  for (const char* expected :
       {"file attr/hidden_system.txt at 0x674 att 0x06 attx 0xFF",
        "file attr/writable.txt at 0x6B4 att 0x00 attx 0xFF",
        "file attr/unique.txt at 0x6EC att 0x01 attx 0xFD",
        "file sys/bin/gone.dll at 0x720 att 0x01 attx 0xFF size 0 addr 0xFFFFFFFF uids "
        "00000000000000000000000000000000"}) {
    EXPECT_NE(ours_text.find(expected), std::string::npos) << expected << "\n" << ours_text;
  }

  ASSERT_EQ(image.size(), reference.size());
  const RofsDirectory& sort = ours.root.subdirectories.at(0);
  ASSERT_EQ(sort.name, u"sort");
  const std::size_t table_begin = sort.block_offset + sort.struct_size;
  const std::size_t table_end = table_begin + 4 + 2 * sort.files.size();
  for (std::size_t i = 0; i < image.size(); ++i) {
    if (i >= table_begin && i < table_end) continue;
    ASSERT_EQ(image[i], reference[i]) << "first difference at " << HexNumber(i);
  }
}

TEST(RofsWriterTest, LaysOutBlocksEntriesAndDataInCreationOrder) {
  // Folder "b" is created before "a"; "b\x" before "a\y"; the empty file
  // shares its address with the next.
  const auto bytes = BuildInMemory({{"top.txt", "0123456789ABCDEFtail"},
                                    {"b\\x.bin", "xy"},
                                    {"a\\empty", ""},
                                    {"a\\y.bin", "yyyyy"}});
  const RofsImage image = ParseRofsImage(bytes, "mem");
  const RofsDirectory& root = image.root;
  ASSERT_EQ(root.subdirectories.size(), 2u);
  EXPECT_EQ(root.subdirectories[0].name, u"b");
  EXPECT_EQ(root.subdirectories[1].name, u"a");
  EXPECT_LT(root.subdirectories[0].block_offset, root.subdirectories[1].block_offset);
  EXPECT_LT(root.subdirectories[0].file_block_address, root.subdirectories[1].file_block_address);

  const RofsFile& top = root.files[0];
  const RofsFile& x = root.subdirectories[0].files[0];
  const RofsFile& empty = root.subdirectories[1].files[0];
  const RofsFile& y = root.subdirectories[1].files[1];
  EXPECT_EQ(top.address, image.header.file_entries_offset + image.header.file_entries_size);
  EXPECT_EQ(x.address, top.address + 20);   // 20 bytes, already aligned
  EXPECT_EQ(empty.address, x.address + 4);  // 2 bytes padded to 4
  EXPECT_EQ(y.address, empty.address);
  EXPECT_EQ(image.header.image_size, y.address + 8u);
  EXPECT_EQ(bytes.size(), image.header.image_size);
  // Padding and unwritten fields read 0xFF; UIDs are the first 16 data bytes.
  EXPECT_EQ(bytes[x.address + 2], 0xFF);
  EXPECT_EQ(bytes[x.address + 3], 0xFF);
  EXPECT_EQ(std::string(top.uids.begin(), top.uids.end()), "0123456789ABCDEF");
  EXPECT_EQ(x.uids[0], 'x');
  EXPECT_EQ(x.uids[2], 0);
  EXPECT_EQ(top.attributes, kAttReadOnly);
  EXPECT_EQ(root.subdirectories[0].attributes, kAttDirectory);
  EXPECT_EQ(bytes[kHeaderReservedOffset], 0xFF);
  EXPECT_EQ(image.header.max_image_size, 0x10000000u);
  EXPECT_EQ(image.header.time, 63'435'758'706'000'000);
}

TEST(RofsWriterTest, UidsAreTheFirst16BytesZeroFilled) {
  const std::string long_data = "0123456789ABCDEFtail";
  const struct {
    const char* label;
    std::span<const std::uint8_t> data;
    std::string expected;
  } cases[] = {
      {"no data (a null span)", {}, std::string(16, '\0')},
      {"short", {reinterpret_cast<const std::uint8_t*>("MZ"), 2}, "MZ" + std::string(14, '\0')},
      {"long", {reinterpret_cast<const std::uint8_t*>(long_data.data()), long_data.size()}, "0123456789ABCDEF"},
  };
  for (const auto& c : cases) {
    const auto uids = UidsFromData(c.data);
    EXPECT_EQ(std::string(uids.begin(), uids.end()), c.expected) << c.label;
  }
}

TEST(RofsWriterTest, HiddenEntryHasNoDataAndZeroUids) {
  const auto bytes = BuildInMemory({{"sys\\bin\\old.dll", "", true}, {"sys\\bin\\new.dll", "MZ"}});
  const RofsImage image = ParseRofsImage(bytes, "mem");
  const RofsFile& hidden = image.root.subdirectories[0].subdirectories[0].files[0];
  EXPECT_TRUE(hidden.hidden());
  EXPECT_EQ(hidden.size, 0u);
  EXPECT_EQ(hidden.uids, (std::array<std::uint8_t, kEntryUidsSize>{}));
  EXPECT_EQ(image.root.subdirectories[0].subdirectories[0].files[1].address,
            image.header.file_entries_offset + image.header.file_entries_size);
}

// Reads the names of a directory's file lookup list in table order.
std::vector<std::u16string> FileTableOrder(const std::vector<std::uint8_t>& bytes,
                                           const RofsDirectory& dir) {
  auto u16 = [&](std::size_t at) {
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
  };
  const std::size_t table = dir.block_offset + dir.struct_size;
  const std::size_t dirs = u16(table);
  const std::size_t files = u16(table + 2);
  std::vector<std::u16string> names;
  for (std::size_t i = 0; i < files; ++i) {
    const std::uint32_t entry = dir.file_block_address + 4 * u16(table + 4 + 2 * (dirs + i));
    for (const RofsFile& file : dir.files) {
      if (file.entry_offset == entry) names.push_back(file.name);
    }
  }
  return names;
}

TEST(RofsWriterTest, LookupTablesFollowThePhoneOrderForNonLatinNames) {
  // The reference builder compares only the low byte of each unit and would
  // put "Привет" (U+041F -> 0x1F) first and "日本" (U+65E5 -> 0xE5) before
  // "été"; the phone compares whole units.
  const auto bytes = BuildInMemory({{"sort\\été.txt", "1"},
                                    {"sort\\日本.txt", "2"},
                                    {"sort\\Привет.txt", "3"},
                                    {"sort\\[br].txt", "4"},
                                    {"sort\\B.txt", "5"},
                                    {"sort\\a.txt", "6"},
                                    {"sort\\a", "7"},
                                    {"sort\\😀.txt", "8"}});
  const RofsImage image = ParseRofsImage(bytes, "mem");
  EXPECT_EQ(FileTableOrder(bytes, image.root.subdirectories[0]),
            (std::vector<std::u16string>{u"[br].txt", u"a", u"a.txt", u"B.txt", u"été.txt",
                                         u"Привет.txt", u"日本.txt", u"😀.txt"}));
  EXPECT_TRUE(FindLookupTableProblems(bytes, image).empty());
}

// A deterministic tree of folders and files with names from several scripts,
// different cases, blanks and dots, sizes from 0 to a few KiB.
std::vector<MemoryFile> GenerateTree(std::uint32_t seed, int file_count) {
  std::mt19937 random(seed);
  static const std::vector<std::string> kPieces = {"a", "B",  "z",  "Q", "0", "7", " ",
                                                   ".", "-",  "_",  "é", "Ü", "ß", "П",
                                                   "ж", "日", "本", "😀", "~", "["};
  auto name = [&]() {
    std::string text;
    const int length = 1 + random() % 12;
    for (int i = 0; i < length; ++i) text += kPieces[random() % kPieces.size()];
    // Blanks and dots alone would make "." or ".."; keep a letter in front.
    return "n" + text;
  };
  std::vector<std::string> folders = {""};
  std::vector<MemoryFile> files;
  std::map<std::u16string, int> taken;  // folded full paths
  while (static_cast<int>(files.size()) < file_count) {
    std::string folder = folders[random() % folders.size()];
    if (random() % 4 == 0 && std::count(folder.begin(), folder.end(), '\\') < 5) {
      folder += name() + "\\";
      folders.push_back(folder);
    }
    std::string path = folder + name();
    std::u16string key;
    const std::u16string path16 = Utf8ToUtf16(path).value();
    for (char16_t unit : path16) {
      key += (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + 32) : unit;
    }
    // A file may not clash with any other path, nor be a prefix folder of one.
    bool clash = taken.count(key) > 0;
    for (const auto& [other, unused] : taken) {
      if (other.starts_with(key + u"\\") || key.starts_with(other + u"\\")) clash = true;
    }
    if (clash) continue;
    taken[key] = 1;
    std::string data(random() % 3 == 0 ? 0 : random() % 5000, '\0');
    for (char& c : data) c = static_cast<char>(random());
    files.push_back({path, data});
  }
  return files;
}

const RofsFile* FindFile(const RofsDirectory& root, const std::vector<std::u16string>& path) {
  const RofsDirectory* dir = &root;
  for (std::size_t i = 0; i + 1 < path.size(); ++i) {
    const RofsDirectory* next = nullptr;
    for (const RofsDirectory& sub : dir->subdirectories) {
      if (sub.name == path[i]) next = &sub;
    }
    if (!next) return nullptr;
    dir = next;
  }
  for (const RofsFile& file : dir->files) {
    if (file.name == path.back()) return &file;
  }
  return nullptr;
}

TEST(RofsWriterTest, GeneratedTreesReadBackWithEveryNameAndByte) {
  for (std::uint32_t seed : {1u, 2u, 3u}) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    const std::vector<MemoryFile> files = GenerateTree(seed, 150);
    const auto bytes = BuildInMemory(files);
    const RofsImage image = ParseRofsImage(bytes, "mem");
    EXPECT_EQ(image.file_count, files.size());
    for (const MemoryFile& file : files) {
      const RofsFile* found = FindFile(image.root, testing::ImagePath(file.image_path));
      ASSERT_NE(found, nullptr) << file.image_path;
      const auto data = FileData(bytes, *found);
      EXPECT_EQ(std::string(data.begin(), data.end()), file.data) << file.image_path;
    }
    EXPECT_TRUE(FindLookupTableProblems(bytes, image).empty());
  }
}

struct LayoutErrorCase {
  const char* label;
  std::vector<std::string> paths;  // data lines 3, 4, ...
  std::uint32_t max_image_size;
  std::string message;
};

TEST(RofsWriterTest, RefusesWhatAnImageCannotHold) {
  const std::string long_name(256, 'n');
  const std::string longest_name(255, 'n');
  std::string too_deep;
  for (int i = 0; i <= kMaxDirectoryDepth; ++i) too_deep += "d\\";
  too_deep += "f";
  const std::vector<LayoutErrorCase> cases = {
      {"same name ignoring case",
       {"Sys\\A.txt", "sys\\a.TXT"},
       0x10000000,
       "memory.obey:4: duplicate name \"sys\\a.TXT\": line 3 already gives a file of that name "
       "(names match ignoring ASCII case)"},
      {"file where a folder is",
       {"sys\\bin", "SYS"},
       0x10000000,
       "memory.obey:4: duplicate name \"SYS\": line 3 already gives a folder of that name "
       "(names match ignoring ASCII case)"},
      {"folder where a file is",
       {"readme", "README\\x"},
       0x10000000,
       "memory.obey:4: duplicate name \"README\": line 3 already gives a file of that name "
       "(names match ignoring ASCII case)"},
      {"name of 256 units",
       {"ok.txt", "dir\\" + long_name},
       0x10000000,
       "memory.obey:4: name \"" + long_name + "\" has 256 UTF-16 units; at most 255 fit an entry"},
      {"dot dot",
       {"a\\..\\b.txt"},
       0x10000000,
       "memory.obey:3: cannot store \"a\\..\": the name \".\" or \"..\" would leave its folder"},
      {"colon",
       {"c:x.txt"},
       0x10000000,
       "memory.obey:3: cannot store \"c:x.txt\": the name holds a colon"},
      // The reader would take the image for damaged.
      {"folders nested deeper than 128 levels",
       {too_deep},
       0x10000000,
       "memory.obey:3: cannot store \"" + too_deep + "\": its folders nest deeper than 128 levels"},
      {"image larger than rofssize",
       {"a.txt", "b.txt"},
       0x100,
       "memory.obey:2: rofssize 0x100 is too small: the image needs at least 0x15C bytes by line "
       "4"},
      {"metadata larger than rofssize",
       {"a.txt"},
       0x40,
       "memory.obey:2: rofssize 0x40 is too small: the image needs at least 0x44 bytes by line 3"},
  };
  for (const LayoutErrorCase& c : cases) {
    SCOPED_TRACE(c.label);
    std::vector<MemoryFile> files;
    for (const std::string& path : c.paths) files.push_back({path, std::string(100, 'd')});
    try {
      BuildInMemory(files, c.max_image_size);
      ADD_FAILURE() << "no error";
    } catch (const ObeyError& error) {
      EXPECT_EQ(std::string(error.what()), c.message);
    }
  }
  // The limit itself is fine.
  EXPECT_NO_THROW(BuildInMemory({{"dir\\" + longest_name, "x"}}));
}

TEST(RofsWriterTest, RefusesAnImageWithoutFiles) {
  ImageSpec spec;
  spec.origin = "empty.obey";
  spec.max_image_size = 0x1000;
  try {
    LayOutImage(spec);
    ADD_FAILURE() << "no error";
  } catch (const ObeyError& error) {
    EXPECT_EQ(std::string(error.what()), "empty.obey: no file to put into the image");
  }
}

TEST(RofsWriterTest, RefusesDataThatDoesNotMatchTheLayout) {
  ImageSpec spec;
  spec.origin = "x.obey";
  spec.max_image_size = 0x1000;
  spec.files.push_back({testing::ImagePath("a.bin"), kDefaultFileAttributes, false, 8, {}, 3});
  const ImageLayout layout = LayOutImage(spec);
  std::vector<std::uint8_t> out;
  VectorSink sink(out);
  const std::uint8_t three[3] = {1, 2, 3};
  try {
    WriteImage(spec, layout, sink, [&](std::size_t, ByteSink& data) { data.Write(three); });
    ADD_FAILURE() << "no error";
  } catch (const ObeyError& error) {
    EXPECT_EQ(std::string(error.what()),
              "x.obey:3: the file gave 3 bytes of data where 8 were laid out");
  }
}

// Progress counts file data only: hidden entries, empty files, metadata and
// padding add nothing; every piece of data moves it on.
TEST(RofsWriterTest, ReportsFileDataWrittenAfterEveryPiece) {
  ImageSpec spec;
  spec.origin = "x.obey";
  spec.max_image_size = 0x1000;
  spec.files.push_back({testing::ImagePath("a.bin"), kDefaultFileAttributes, false, 5, {}, 1});
  spec.files.push_back({testing::ImagePath("gone.bin"), kDefaultFileAttributes, true, 0, {}, 2});
  spec.files.push_back({testing::ImagePath("empty.bin"), kDefaultFileAttributes, false, 0, {}, 3});
  spec.files.push_back({testing::ImagePath("b.bin"), kDefaultFileAttributes, false, 7, {}, 4});
  const ImageLayout layout = LayOutImage(spec);
  std::vector<std::uint8_t> out;
  VectorSink sink(out);
  std::vector<std::pair<std::uint64_t, std::uint64_t>> reports;
  WriteImage(
      spec, layout, sink,
      [&](std::size_t index, ByteSink& data) {
        const std::vector<std::uint8_t> bytes(spec.files[index].size, 0x5A);
        for (std::size_t at = 0; at < bytes.size(); at += 3) {
          data.Write(std::span(bytes).subspan(at, std::min<std::size_t>(3, bytes.size() - at)));
        }
      },
      [&](std::uint64_t done, std::uint64_t total) { reports.emplace_back(done, total); });
  EXPECT_EQ(reports, (std::vector<std::pair<std::uint64_t, std::uint64_t>>{
                         {0, 12}, {3, 12}, {5, 12}, {8, 12}, {11, 12}, {12, 12}}));
  EXPECT_EQ(out.size(), layout.image_size);
}

}  // namespace
}  // namespace larkspur::rofs
