#include "diff/firmware_diff.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "base/hex.h"
#include "format/firmware_layout.h"
#include "rofs/rofs_reader.h"
#include "rofs/rofs_writer.h"
#include "testing/fat_oracles.h"
#include "testing/firmware_fixture.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"
#include "testing/test_files.h"
#include "testing/tree_snapshot.h"

namespace larkspur::diff {
namespace {

namespace fs = std::filesystem;
using testing::FirmwareSpec;
using testing::MakeFirmware;
using testing::PatternBytes;

// What a difference reports, one line per thing: "+ path", "- path",
// "~ path content", "~ path hidden", "~ path <field>", "partition:
// <field>", "outside: <field> <at>". The blocks are checked apart.
std::set<std::string> Reported(const FirmwareDifference& difference) {
  std::set<std::string> reported;
  for (const EntryDifference& entry : difference.entries) {
    switch (entry.status) {
      case EntryStatus::kAdded:
        reported.insert("+ " + entry.path);
        break;
      case EntryStatus::kRemoved:
        reported.insert("- " + entry.path);
        break;
      case EntryStatus::kChanged:
        if (entry.content_changed) reported.insert("~ " + entry.path + " content");
        if (entry.old_hidden != entry.new_hidden) reported.insert("~ " + entry.path + " hidden");
        for (const FieldDifference& field : entry.fields) {
          reported.insert("~ " + entry.path + " " + FieldName(field.field));
        }
        break;
    }
  }
  const auto named = [](const FieldDifference& field) {
    std::string name = FieldName(field.field);
    for (const std::string& at : field.at) name += " " + at;
    return name;
  };
  for (const FieldDifference& field : difference.partition) reported.insert("partition: " + named(field));
  for (const FieldDifference& field : difference.outside) reported.insert("outside: " + named(field));
  if (!difference.partition_problem.empty()) reported.insert("problem: " + difference.partition_problem);
  return reported;
}

// "1-2, 4": the runs of differing blocks.
std::string Ranges(const FirmwareDifference& difference) {
  std::string text;
  for (const BlockRange& range : difference.block_ranges) {
    text += (text.empty() ? "" : ", ") + std::to_string(range.first) +
            (range.last == range.first ? "" : "-" + std::to_string(range.last));
  }
  return text;
}

FirmwareDifference Compare(const std::string& old_bytes, const std::string& new_bytes, PartitionKind kind, int model) {
  return CompareFirmware({old_bytes, "old", nullptr}, {new_bytes, "new", nullptr}, kind, model);
}

// A file of a ROFS image, with what the folder cannot show.
struct RofsFile {
  std::string path;  // '\'-separated
  std::string data;
  bool hidden = false;
  std::uint8_t attributes = rofs::kDefaultFileAttributes;
};

std::vector<std::uint8_t> RofsImage(const std::vector<RofsFile>& files) {
  rofs::ImageSpec spec;
  spec.origin = "test.obey";
  spec.max_image_size = 0x10000000;
  spec.time = 63'435'758'706'000'000;
  std::vector<std::vector<std::uint8_t>> contents;
  for (const RofsFile& file : files) {
    rofs::ImageFileSpec entry;
    entry.path = testing::ImagePath(file.path);
    entry.hidden = file.hidden;
    entry.attributes = file.attributes;
    spec.files.push_back(entry);
    contents.push_back(testing::ByteVector(file.data));
  }
  return testing::WriteInMemory(spec, contents);
}

constexpr std::size_t kRofsLead = 3072;

// An N96 ROFS firmware file (a block of 0x400 bytes, then blocks of
// 0x8000) holding `image` behind `lead`, as the phone's own files have it.
std::string RofsFirmware(const std::vector<std::uint8_t>& image, const std::string& prefix = "HEAD",
                         const std::string& lead = std::string(kRofsLead, '\0'), const std::string& type_field = "") {
  std::string stream = lead + std::string(image.begin(), image.end());
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  const FirmwareSpec spec{.model = kN96ModelIndex,
                          .prefix = prefix,
                          .start_address = 0x01000000,
                          .n96_short_first_block = true,
                          .type_field = type_field};
  return MakeFirmware(spec, stream);
}

std::vector<RofsFile> BaseRofsFiles() {
  return {{"a.txt", "hello"},
          {"sys\\bin\\app.exe", PatternBytes(70000, 1)},
          {"sys\\bin\\gone.dll", "", true},
          {"resource\\big.dat", PatternBytes(40000, 2)}};
}

// The block of an N96 ROFS file that holds byte `offset` of the image.
std::size_t RofsBlockOf(std::uint64_t offset) {
  const std::uint64_t in_stream = kRofsLead + offset;
  return in_stream < 0x400 ? 0 : 1 + static_cast<std::size_t>((in_stream - 0x400) / 0x8000);
}

std::uint32_t AddressOf(const std::vector<std::uint8_t>& image, const std::u16string& folder,
                        const std::u16string& name) {
  const rofs::RofsImage parsed = rofs::ParseRofsImage(image, "x");
  for (const rofs::RofsDirectory& sub : parsed.root.subdirectories) {
    if (sub.name != folder) continue;
    for (const rofs::RofsFile& file : sub.files) {
      if (file.name == name) return file.address;
    }
  }
  ADD_FAILURE() << "no such file";
  return 0;
}

TEST(FirmwareDiffTest, RofsPairsReportExactlyTheirDifferences) {
  const std::vector<std::uint8_t> base_image = RofsImage(BaseRofsFiles());
  const std::string base = RofsFirmware(base_image);
  // The byte of big.dat that one case changes, and the block it lies in.
  const std::uint64_t changed_at = AddressOf(base_image, u"resource", u"big.dat") + 20000;

  struct Case {
    const char* label;
    std::function<std::string()> make;
    std::set<std::string> expected;
    std::string blocks;  // the runs of differing blocks; "*" when not checked
  };
  const auto with = [](std::function<void(std::vector<RofsFile>&)> edit) {
    std::vector<RofsFile> files = BaseRofsFiles();
    edit(files);
    return RofsFirmware(RofsImage(files));
  };
  const std::vector<Case> cases = {
      {"identical", [&] { return base; }, {}, ""},
      {"a file added",
       [&] { return with([](auto& f) {
               f.push_back({"new\\added.txt", "added"});
             }); },
       {"+ new/", "+ new/added.txt", "partition: ROFS image size"},
       "*"},
      {"a file removed",
       [&] { return with([](auto& f) { f.erase(f.begin()); }); },
       {"- a.txt", "partition: ROFS image size"},
       "*"},
      {"a file changed in size",
       [&] { return with([](auto& f) { f[0].data = "hello, world"; }); },
       {"~ a.txt content", "partition: ROFS image size"},
       "*"},
      {"a file renamed", [&] { return with([](auto& f) { f[0].path = "b.txt"; }); }, {"- a.txt", "+ b.txt"}, "*"},
      {"a file whose size stays but bytes change",
       [&] {
         // Rebuilt with the byte changed: the headers' check values follow.
         std::vector<RofsFile> files = BaseRofsFiles();
         files[3].data[20000] ^= 0x55;
         return RofsFirmware(RofsImage(files));
       },
       {"~ resource/big.dat content"},
       std::to_string(RofsBlockOf(changed_at))},
      {"a hidden entry made a file",
       [&] {
         return with([](auto& f) {
           f[2].hidden = false;
           f[2].data = "back";
         });
       },
       {"~ sys/bin/gone.dll hidden", "partition: ROFS image size"},
       "*"},
      {"an attribute",
       [&] { return with([](auto& f) { f[1].attributes = 0x21; }); },
       {"~ sys/bin/app.exe attributes"},
       "1"},
      {"a grown partition",
       [&] { return with([](auto& f) {
               f.push_back({"resource\\more.dat", PatternBytes(100000, 3)});
             }); },
       {"+ resource/more.dat", "partition: ROFS image size"},
       "*"},
      {"an edited prefix", [&] { return RofsFirmware(base_image, "HEAD-2"); }, {"outside: prefix"}, ""},
      {"other bytes in front of the ROFS header",
       [&] { return RofsFirmware(base_image, "HEAD", "\xA3\x95\x97\x80" + std::string(kRofsLead - 4, '\0')); },
       {"partition: bytes in front of the partition"},
       "0"},
      {"the ROFS header moved",
       [&] { return RofsFirmware(base_image, "HEAD", std::string(kRofsLead + 256, '\0')); },
       {"partition: partition start"},
       "*"},
      {"another type field in every header",
       [&] { return RofsFirmware(base_image, "HEAD", std::string(kRofsLead, '\0'), "\x02"); },
       {"outside: type field 0-4"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    const FirmwareDifference difference = Compare(base, c.make(), PartitionKind::kRofs, kN96ModelIndex);
    EXPECT_EQ(Reported(difference), c.expected);
    if (c.blocks != "*") {
      EXPECT_EQ(Ranges(difference), c.blocks);
    }
    EXPECT_EQ(difference.same(), c.expected.empty() && c.blocks.empty());
  }
}

// What lies outside the payload: the table of contents, named blocks, the
// start address, and a byte nothing else explains.
TEST(FirmwareDiffTest, OutsideThePayloadEachPartIsNamed) {
  const std::vector<std::uint8_t> image = RofsImage(BaseRofsFiles());
  const auto prefix = [](std::uint32_t area_end, const std::string& nolo, bool second) {
    std::string bytes = testing::TableOfContentsBytes({testing::EraseAreaEntry({{0x01000000, area_end}})}) +
                        testing::NamedBlockBytes("NOLO", nolo, 0x000C0000);
    if (second) bytes += testing::NamedBlockBytes("CERT", PatternBytes(0x80, 8), 0, true);
    return bytes;
  };
  const std::string base = RofsFirmware(image, prefix(0x017FFFFF, PatternBytes(0x400, 6), false));
  std::string checksum_flipped = base;
  // The header checksum of block 2: the block's bytes are as they were.
  const FirmwareLayout layout = ReadFirmwareLayout(base, BlockFormatOf(kN96ModelIndex, PartitionKind::kRofs));
  checksum_flipped[layout.blocks[2].header_offset + 18] ^= 0x01;
  std::string moved = RofsFirmware(image, prefix(0x017FFFFF, PatternBytes(0x400, 6), false));
  {
    const FirmwareSpec spec{.model = kN96ModelIndex,
                            .prefix = prefix(0x017FFFFF, PatternBytes(0x400, 6), false),
                            .start_address = 0x02000000,
                            .n96_short_first_block = true};
    std::string stream = std::string(kRofsLead, '\0') + std::string(image.begin(), image.end());
    stream.append((256 - stream.size() % 256) % 256, '\xFF');
    moved = MakeFirmware(spec, stream);
  }
  const struct {
    const char* label;
    std::string other;
    std::set<std::string> expected;
  } cases[] = {
      {"an erase area's end",
       RofsFirmware(image, prefix(0x018FFFFF, PatternBytes(0x400, 6), false)),
       {"outside: table of contents line 1"}},
      {"a named block's payload",
       RofsFirmware(image, prefix(0x017FFFFF, PatternBytes(0x400, 7), false)),
       {"outside: named block payload 0 NOLO"}},
      {"a named block added",
       RofsFirmware(image, prefix(0x017FFFFF, PatternBytes(0x400, 6), true)),
       {"outside: named block 1"}},
      {"the start address", moved, {"outside: start address"}},
      {"a header checksum",
       checksum_flipped,
       {"outside: first differing byte " + HexNumber(layout.blocks[2].header_offset + 18, 8)}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const FirmwareDifference difference = Compare(base, c.other, PartitionKind::kRofs, kN96ModelIndex);
    EXPECT_EQ(Reported(difference), c.expected);
    EXPECT_EQ(difference.differing_blocks, 0u);
  }
}

TEST(FirmwareDiffTest, AGrownPartitionCountsTheBlocksAdded) {
  const std::vector<std::uint8_t> image = RofsImage(BaseRofsFiles());
  std::vector<RofsFile> files = BaseRofsFiles();
  files.push_back({"resource\\more.dat", PatternBytes(100000, 3)});
  const FirmwareDifference difference =
      Compare(RofsFirmware(image), RofsFirmware(RofsImage(files)), PartitionKind::kRofs, kN96ModelIndex);
  EXPECT_EQ(difference.old_blocks, 5u);
  EXPECT_EQ(difference.new_blocks, 8u);
  ASSERT_FALSE(difference.block_ranges.empty());
  EXPECT_EQ(difference.block_ranges.back().last, 7u);
  // The blocks added run to the new file's last address.
  const std::string grown = RofsFirmware(RofsImage(files));
  const LayoutBlock last = ReadFirmwareLayout(grown, BlockFormatOf(kN96ModelIndex, PartitionKind::kRofs)).blocks.back();
  EXPECT_EQ(difference.block_ranges.back().last_address, last.address + last.payload_length - 1);
  EXPECT_EQ(difference.new_files, 4u);
  EXPECT_EQ(difference.old_files, 3u);
}

TEST(FirmwareDiffTest, FilesThatCannotBeComparedSayWhy) {
  const std::vector<std::uint8_t> image = RofsImage(BaseRofsFiles());
  const std::string n96 = RofsFirmware(image);
  std::string stream = std::string(kRofsLead, '\0') + std::string(image.begin(), image.end());
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  // Two blocks of 0x20000 bytes: the 5320's and the N78's.
  stream.append(0x20000 - stream.size() % 0x20000, '\xFF');
  stream.append(0x20000, '\xFF');
  const std::string n78 = MakeFirmware({.model = 3, .prefix = "HEAD"}, stream);
  const FirmwareInput a{n96, "a.rofs2.bin", nullptr};
  const FirmwareInput b{n78, "b.rofs2.bin", nullptr};
  EXPECT_EQ(ChooseModel(a, a, PartitionKind::kRofs, std::nullopt), kN96ModelIndex);
  EXPECT_EQ(ChooseModel(b, b, PartitionKind::kRofs, std::nullopt), 2) << "the 5320 and the N78 read alike";
  EXPECT_EQ(ChooseModel(a, b, PartitionKind::kRofs, 3), 3) << "a model given is taken";
  try {
    ChooseModel(a, b, PartitionKind::kRofs, std::nullopt);
    ADD_FAILURE() << "no error";
  } catch (const NotComparableError& error) {
    EXPECT_EQ(std::string(error.what()),
              "a.rofs2.bin was made for the N96, b.rofs2.bin for the 5320 or N78: files of different models cannot "
              "be compared");
  }
  const struct {
    const char* label;
    std::string other;
    int model;
    const char* message;
  } cases[] = {
      {"no header of the model", n78, kN96ModelIndex,
       "new holds no block header of the N96 (signature 54 01 17 0E 01 01 00)"},
      {"a chain cut short", n96.substr(0, n96.size() - 100), kN96ModelIndex,
       "new: the chain of blocks is cut short at file offset 0x00018450 (after 4 blocks); larkspur-cli verify names "
       "the damage"},
      {"no ROFS header", RofsFirmware(std::vector<std::uint8_t>(300, 0xFF)), kN96ModelIndex,
       "new: no ROFS header in the payload"},
  };
  for (const auto& c : cases) {
    try {
      CompareFirmware(a, {c.other, "new", nullptr}, PartitionKind::kRofs, c.model);
      ADD_FAILURE() << c.label << ": no error";
    } catch (const NotComparableError& error) {
      EXPECT_EQ(std::string(error.what()), c.message) << c.label;
    }
  }
  // A partition the reader refuses: the rest is still compared.
  std::vector<std::uint8_t> damaged = image;
  damaged[7] = 0x03;  // format version 0x300
  const FirmwareDifference difference = Compare(n96, RofsFirmware(damaged), PartitionKind::kRofs, kN96ModelIndex);
  EXPECT_EQ(difference.partition_problem, "new: ROFS header at 0x6: format version 0x300 is not 0x200");
  EXPECT_TRUE(difference.entries.empty());
  EXPECT_EQ(Ranges(difference), "1");
}

#ifndef _WIN32

// FAT images made by mkfs.fat and changed by mtools, each side in a UDA
// firmware file of the 5530's blocks behind a sector of zeros.
class FatPairs : public ::testing::Test {
 protected:
  // The base volume with `edit` (mtools on the image file) applied.
  std::string Firmware(const std::function<void(const fs::path& image)>& edit) {
    const fs::path image = temp_.root() / ("uda" + std::to_string(count_++) + ".img");
    testing::MakeFatImage(image, 16, 4096, {"-s", "1"});
    Put("a.txt", "alpha");
    Put("same size.dat", PatternBytes(9000, 1));
    Put("folder/inner.txt", "inner");
    Copy(image, "a.txt", "::/");
    Copy(image, "same size.dat", "::/");
    Copy(image, "folder", "::/");
    edit(image);
    const std::vector<std::uint8_t> bytes = testing::ReadBytes(image);
    return MakeFirmware({.model = 0, .uda = true, .prefix = "UDAHEAD"},
                        std::string(512, '\0') + std::string(bytes.begin(), bytes.end()));
  }

  // A host file of the source tree, with a fixed time.
  void Put(const std::string& relative, const std::string& content, int minutes = 0) {
    testing::PutFile(temp_.root() / "source", relative, content);
    fs::last_write_time(temp_.root() / "source" / relative, kTime + std::chrono::minutes(minutes));
    if (fs::exists(temp_.root() / "source" / "folder")) fs::last_write_time(temp_.root() / "source" / "folder", kTime);
  }

  void Copy(const fs::path& image, const std::string& relative, const std::string& target) {
    testing::RunOracle("mcopy",
                       {"-s", "-m", "-o", "-i", image.string(), (temp_.root() / "source" / relative).string(), target});
  }

  const fs::file_time_type kTime = fs::file_time_type::clock::now() - std::chrono::hours(24 * 30);
  testing::ScratchFolder temp_;
  int count_ = 0;
};

TEST_F(FatPairs, ReportExactlyTheirDifferences) {
  const std::string base = Firmware([](const fs::path&) {});
  const struct {
    const char* label;
    std::function<void(const fs::path&)> edit;
    std::set<std::string> expected;
  } cases[] = {
      {"identical", [](const fs::path&) {}, {}},
      {"a file added",
       [&](const fs::path& image) {
         Put("new.txt", "new");
         Copy(image, "new.txt", "::/");
       },
       {"+ new.txt"}},
      {"a file removed",
       [](const fs::path& image) {
         testing::RunOracle("mdel", {"-i", image.string(), "::/a.txt"});
       },
       {"- a.txt"}},
      {"a file changed in size",
       [&](const fs::path& image) {
         Put("a.txt", "alpha, beta");
         Copy(image, "a.txt", "::/");
       },
       {"~ a.txt content"}},
      {"a file whose size stays but bytes change",
       [&](const fs::path& image) {
         std::string edited = PatternBytes(9000, 1);
         edited[5000] ^= 0x20;
         Put("same size.dat", edited);
         Copy(image, "same size.dat", "::/");
       },
       {"~ same size.dat content"}},
      {"a touched time only",
       [&](const fs::path& image) {
         Put("a.txt", "alpha", 10);
         Copy(image, "a.txt", "::/");
       },
       {"~ a.txt time"}},
      {"an attribute",
       [](const fs::path& image) {
         testing::RunOracle("mattrib", {"-i", image.string(), "+r", "::/a.txt"});
       },
       {"~ a.txt attributes"}},
      {"a file renamed",
       [](const fs::path& image) {
         testing::RunOracle("mren", {"-i", image.string(), "::/a.txt", "::/b.txt"});
       },
       {"- a.txt", "+ b.txt"}},
      {"the volume label",
       [](const fs::path& image) {
         testing::RunOracle("mlabel", {"-i", image.string(), "::OTHER"});
       },
       {"partition: volume label"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    const std::string other = Firmware(c.edit);
    const FirmwareDifference difference = Compare(base, other, PartitionKind::kUda, 0);
    EXPECT_EQ(Reported(difference), c.expected);
    EXPECT_EQ(difference.same(), c.expected.empty());
    EXPECT_EQ(difference.same(), base == other);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace larkspur::diff
