// Writes the starting corpus of every fuzz target, made by the same
// hand-built fixtures and builders the tests use, so no binary seed is kept
// in the repository. Each seed stays below 4 KiB, libFuzzer's default
// largest input.
//
// usage: write_fuzz_seeds FOLDER   (makes FOLDER/<target>/seed-N)
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <tuple>
#include <vector>

#include "base/byte_order.h"
#include "fat/fat_writer.h"
#include "format/model_profile.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_writer.h"
#include "testing/firmware_fixture.h"
#include "testing/vpl_fixtures.h"

namespace larkspur::fuzz {
namespace {

namespace fs = std::filesystem;
using testing::FirmwareSpec;
using testing::MakeBlock;
using testing::PatternBytes;

class SeedFolder {
 public:
  SeedFolder(const fs::path& root, const std::string& target) : folder_(root / target) {
    fs::create_directories(folder_);
  }
  void Add(const std::string& bytes) {
    std::ofstream(folder_ / ("seed-" + std::to_string(count_++)), std::ios::binary) << bytes;
  }

 private:
  fs::path folder_;
  int count_ = 0;
};

// A chain of small blocks (the chain walk ignores the block size), with
// the ROFS magic in the first payload and the signature by chance in one.
std::string SmallChain(int model, bool uda, std::size_t blocks, const std::string& prefix) {
  const FirmwareSpec spec{.model = model, .uda = uda};
  const ModelProfile& profile = ProfileForModel(model);
  std::string file = prefix;
  std::uint32_t address = 0x01000000;
  for (std::size_t i = 0; i < blocks; ++i) {
    std::string payload = PatternBytes(40 + 24 * i, static_cast<unsigned>(i + 1));
    if (i == 0) payload = std::string("ROFS0\xFF", 6) + payload;
    if (i == 1) payload += HexToBytes(uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
    file += MakeBlock(spec, payload, address);
    address += static_cast<std::uint32_t>(payload.size());
  }
  return file;
}

void WriteFirmwareSeeds(const fs::path& root) {
  SeedFolder strip(root, "strip_fuzzer");
  SeedFolder check(root, "firmware_check_fuzzer");
  for (int model = 0; model < kModelCount; ++model) {
    for (const bool uda : {false, true}) {
      const std::string file = SmallChain(model, uda, 4, "PRE");
      const char mode = static_cast<char>(model | (uda ? 4 : 0));
      strip.Add(std::string{mode, 0} + file);
      strip.Add(std::string{mode, 0} + file.substr(0, file.size() - 30));  // cut inside the last payload
      check.Add(std::string{static_cast<char>((model << 1) | (uda ? 8 : 0))} + file);
    }
  }
  const std::string file = SmallChain(0, false, 3, "");
  strip.Add(std::string{0, 0} + file.substr(0, 3 + 19 + 46 + 10));        // cut inside a header
  strip.Add(std::string{0x18, static_cast<char>(0x80)} + "AB" + file);    // 2-byte signature, 19-byte headers
  strip.Add(std::string{0x08, 5} + "x" + "axbxxcxdx");                     // 1-byte signature, 6-byte headers
  strip.Add(std::string{0, 0} + file + "]]]");  // a named block (5D) cut inside its header after the chain
  // A 1-byte signature 5D, a named block's type byte, with 19-byte headers.
  strip.Add(std::string("\x08\x62]]xd\x08" "b]]xd", 12) + std::string(8, '\0') + "xx");
  check.Add(std::string{0} + "no block header in these bytes");

  // Built mode: prefix length, start address, damage (block, byte, bit), then
  // blocks each led by its length.
  const std::string blocks = std::string{5} + "hello" + std::string{3} + "abc" + std::string{0} + std::string{7} + "payload";
  check.Add(std::string{1, 3, 1, 0, 0, 0, 0, 0, 0} + "PRE" + blocks);
  check.Add(std::string{9, 0, 0, 0, 0x10, 0, 1, 18, 7} + blocks);
  check.Add(std::string{static_cast<char>(3 | 8), 2, static_cast<char>(0xFF), static_cast<char>(0xFF), 0, 0, 2, 3, 1} +
            "XY" + blocks);
  // Real files: a table of contents, named blocks, padding, other type
  // fields; built, and as they are.
  check.Add(std::string{static_cast<char>(0xF0 | 3 | 8), 4, 1, 0, 0, 0, 4, 40, 2} + "NOLO" + blocks);
  check.Add(std::string{static_cast<char>(0xF0 | 1), 0, 0, 0, 0, 0, 1, 45, 5} + blocks);
  const std::string toc = testing::TableOfContentsBytes({testing::EraseAreaEntry({{0x01000000, 0x01FFFFFF}})});
  check.Add(std::string{static_cast<char>((1 << 1) | 8)} + toc + std::string(8, '\xFF') +
            testing::NamedBlockBytes("NOLO", PatternBytes(40), 0x000C0000) + SmallChain(1, true, 3, "") +
            std::string(3, '\xFF') + testing::NamedBlockBytes("CERT", PatternBytes(30), 0, true));
}

// An image built from an obey text, with each file's data given in order.
std::string BuildImage(const std::string& obey_text, const std::vector<std::string>& data) {
  const rofs::ObeyFile obey = rofs::ParseObey(obey_text, "seed.oby");
  rofs::ImageSpec spec = rofs::SpecFromObey(obey, 0x00E0A5D3F4C6A000);
  for (std::size_t i = 0; i < spec.files.size(); ++i) {
    const std::vector<std::uint8_t> bytes(data[i].begin(), data[i].end());
    spec.files[i].size = bytes.size();
    spec.files[i].uids = rofs::UidsFromData(bytes);
  }
  const rofs::ImageLayout layout = rofs::LayOutImage(spec);
  std::vector<std::uint8_t> image;
  rofs::VectorSink sink(image);
  rofs::WriteImage(spec, layout, sink, [&](std::size_t index, rofs::ByteSink& out) {
    out.Write({reinterpret_cast<const std::uint8_t*>(data[index].data()), data[index].size()});
  });
  return std::string(image.begin(), image.end());
}

void WriteRofsSeeds(const fs::path& root) {
  const std::vector<std::pair<std::string, std::vector<std::string>>> images = {
      {"rofsname=a.img\nrofssize=0x10000\ndata=x a.txt\ndata=x sub\\b.txt\ndata=x sub\\deeper\\c.bin\n",
       {"hello", "world!", std::string(20, 'c')}},
      // The names the fuzzer's planted links carry: a folder and a file.
      {"rofsname=a.img\nrofssize=0x10000\ndata=x lnk\\inside.txt\ndata=x lnkf\ndata=x ok.txt\n", {"in", "f", "ok"}},
      {"rofsname=a.img\nrofssize=0x10000\nhide=sys\\bin\\old.exe\ndata=x sys\\bin\\new.exe attrib=HS\n"
       "data=x \"resource\\Grüße.txt\"\n",
       {"", "MZ", "text"}},
  };
  SeedFolder rofs_seeds(root, "rofs_image_fuzzer");
  SeedFolder obey_seeds(root, "obey_fuzzer");
  for (const auto& [obey, data] : images) {
    rofs_seeds.Add(BuildImage(obey, data));
    obey_seeds.Add(obey);
  }
  obey_seeds.Add(
      "\xEF\xBB\xBFREM a comment\r\nrofsname=\"rofs 2.img\"\r\nrofssize=4096\r\n"
      "time=01/02/2010_03:04:05.123456\r\nversion=1.2(3)\r\n"
      "file=\"..\\rofs2\\a b.txt\" \"a b.txt\" attrib=Rw\r\n\tdata=src /x/y/z\r\n");
}

// A FAT12 volume of eight 512-byte sectors (4 KiB): boot sector, FATs, a
// one-sector root folder and what is left as data clusters.
std::vector<std::uint8_t> SmallFatOriginal(std::uint8_t fat_count, std::uint8_t sectors_per_cluster) {
  std::vector<std::uint8_t> image(8 * 512, 0);
  const auto put16 = [&](std::size_t at, std::uint16_t value) { PutLittleEndian16(image.data() + at, value); };
  image[0] = 0xEB;
  image[1] = 0x3C;
  image[2] = 0x90;
  put16(11, 512);
  image[13] = sectors_per_cluster;
  put16(14, 1);
  image[16] = fat_count;
  put16(17, 16);
  put16(19, 8);
  image[21] = 0xF8;
  put16(22, 1);
  image[38] = 0x29;
  put16(510, 0xAA55);
  image[512] = 0xF8;
  image[513] = 0xFF;
  image[514] = 0xFF;
  return image;
}

void WriteFatSeeds(const fs::path& root) {
  SeedFolder seeds(root, "fat_image_fuzzer");
  const fs::path trees = root / "fat-trees";
  const std::vector<std::tuple<std::uint8_t, std::uint8_t, std::vector<std::pair<std::string, std::string>>>> cases = {
      {1, 1, {{"A long file name.txt", "hello"}, {"sub/INNER.TXT", "inner"}, {"empty", ""}}},
      // The names the fuzzer's planted links carry: a folder and a file.
      {2, 1, {{"lnk/inside.txt", "in"}, {"lnkf", "f"}}},
      {2, 2, {{"Grüße.txt", std::string(1500, 'g')}}},
  };
  for (const auto& [fat_count, sectors_per_cluster, files] : cases) {
    fs::remove_all(trees);
    for (const auto& [path, content] : files) {
      const fs::path file = trees / path;
      fs::create_directories(file.parent_path());
      std::ofstream(file, std::ios::binary) << content;
    }
    const std::vector<std::uint8_t> image =
        fat::BuildFatImage(SmallFatOriginal(fat_count, sectors_per_cluster), "seed.img", trees);
    seeds.Add(std::string(image.begin(), image.end()));
  }
  fs::remove_all(trees);
}

// Both fixture lists in every form, and one cut inside an entry.
void WriteVplSeeds(const fs::path& root) {
  SeedFolder seeds(root, "vpl_fuzzer");
  for (const testing::VplForm& form : testing::kVplForms) {
    seeds.Add(testing::EncodedVpl(testing::kPackageVplText, form));
    seeds.Add(testing::EncodedVpl(testing::kFlatVplText, form));
  }
  const std::string flat = testing::kFlatVplText;
  seeds.Add(flat.substr(0, flat.size() / 2));
}

}  // namespace
}  // namespace larkspur::fuzz

int main(int argc, char** argv) {
  if (argc != 2) {
    std::cerr << "usage: write_fuzz_seeds FOLDER\n";
    return 2;
  }
  try {
    larkspur::fuzz::WriteFirmwareSeeds(argv[1]);
    larkspur::fuzz::WriteRofsSeeds(argv[1]);
    larkspur::fuzz::WriteFatSeeds(argv[1]);
    larkspur::fuzz::WriteVplSeeds(argv[1]);
  } catch (const std::exception& error) {
    std::cerr << "write_fuzz_seeds: " << error.what() << "\n";
    return 1;
  }
  return 0;
}
