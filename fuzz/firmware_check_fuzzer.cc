// The info/verify reader (CheckFirmware) on arbitrary and on built files.
// Verify is the last look a user takes before flashing, so the property that
// matters is that it never passes a file with a wrong header:
//   - raw mode: whatever the bytes, when AllRight() holds, the file is
//     walked again here from the header layouts alone and every byte must be
//     accounted for: in front of the first code block a table of contents,
//     then only FF padding and named blocks (or, without a table, nothing
//     read); then code blocks (signature, check value, checksum, length
//     within the block size, payload inside the file, load addresses in a
//     chain, the type field reported when it is not the profile's), named
//     blocks (a known header, checksum, payload inside the file) and FF
//     padding, to the end of the file; each must match what CheckFirmware
//     reports;
//   - built mode: a file of hand-built headers passes (with a table of
//     contents and named blocks, padding, other type fields as real files
//     have them), and the same file with one bit of one header, code or
//     named, flipped does not.
//
// Input: a mode byte (bit 0: built mode; bits 1-2: model profile; bit 3:
// UDA; bit 4: a table of contents and a named block in front; bit 5: FF
// padding between the blocks; bit 6: a type field other than the profile's;
// bit 7: a named block behind the blocks), then for raw mode the file, for
// built mode a prefix length byte, 4 start-address bytes, a header to damage
// (the code headers, then the named ones), a header byte, a bit, then the
// payload bytes, each block as long as the byte before it says.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_order.h"
#include "format/firmware_check.h"
#include "format/hex_text.h"
#include "format/model_profile.h"
#include "fuzz/fuzz_check.h"
#include "testing/firmware_fixture.h"

namespace larkspur::fuzz {
namespace {

// The selector's item of a profile of the table.
int ModelOf(const ModelProfile& profile) {
  for (int model = 0; model < kModelCount; ++model) {
    if (&ProfileForModel(model) == &profile) return model;
  }
  return 0;
}

// The header size of a named block (type 5D) of the subtype and length
// bytes at `at + 1`, or 0 for none known.
std::size_t NamedHeaderBytes(std::string_view file, std::size_t at) {
  if (file.size() - at < 4) return 0;
  const std::string_view kind = file.substr(at + 1, 3);
  if (kind == std::string_view("\x01\x27\x2D", 3)) return 50;
  if (kind == std::string_view("\x01\x28\x43", 3)) return 72;
  return 0;
}

bool SumsToFF(std::string_view header) {
  unsigned sum = 0;
  for (std::size_t i = 1; i < header.size(); ++i) sum += static_cast<unsigned char>(header[i]);
  return sum % 256 == 0xFF;
}

// Re-walks a file that CheckFirmware passed, block by block.
class PassedFileWalk {
 public:
  PassedFileWalk(std::string_view file, bool uda, const ModelProfile& profile, const FirmwareCheck& check)
      : file_(file),
        check_(check),
        signature_(HexToBytes(uda ? profile.UdaSignatureHex : profile.RofsSignatureHex)),
        type_field_(HexToBytes(uda ? profile.UdaTypeFieldHex : profile.RofsTypeFieldHex)),
        header_size_(static_cast<std::size_t>(uda ? profile.UdaHeaderSize : profile.RofsHeaderSize)),
        block_size_(static_cast<std::uint32_t>(uda ? profile.UdaBlockSize : profile.RofsBlockSize)) {}

  void Run() {
    LARKSPUR_FUZZ_CHECK(check_.prefix_length.has_value(), "passed a file without a block header");
    const std::size_t first = *check_.prefix_length;
    std::size_t at = 0;
    if (check_.toc) {
      LARKSPUR_FUZZ_CHECK(static_cast<unsigned char>(file_[0]) == 0xB2 && check_.prefix_walked,
                          "a table of contents reported, yet no B2 or no walk from it");
      at = check_.toc->end();
      while (at < first) at = Padding(at) ? SkipPadding(at) : Named(at);
      LARKSPUR_FUZZ_CHECK(at == first, "the prefix walk ends at %zu, the first code block is at %zu", at, first);
    } else {
      LARKSPUR_FUZZ_CHECK(file_.empty() || static_cast<unsigned char>(file_[0]) != 0xB2,
                          "a file starting with B2 passed without a table of contents");
      LARKSPUR_FUZZ_CHECK(file_.find(signature_) == first, "prefix length differs from the first signature");
      at = first;
    }
    while (at < file_.size()) {
      if (Padding(at) && index_ > 0) {
        at = SkipPadding(at);
      } else if (static_cast<unsigned char>(file_[at]) == 0x5D) {
        at = Named(at);
      } else {
        at = Code(at);
      }
    }
    LARKSPUR_FUZZ_CHECK(index_ == check_.blocks.size(), "reported %zu blocks, walked %zu", check_.blocks.size(),
                        index_);
    LARKSPUR_FUZZ_CHECK(named_ == check_.named.size(), "reported %zu named blocks, walked %zu", check_.named.size(),
                        named_);
  }

 private:
  bool Padding(std::size_t at) const { return static_cast<unsigned char>(file_[at]) == 0xFF; }
  std::size_t SkipPadding(std::size_t at) const {
    while (at < file_.size() && Padding(at)) ++at;
    return at;
  }

  std::size_t Named(std::size_t at) {
    const std::size_t header_size = NamedHeaderBytes(file_, at);
    LARKSPUR_FUZZ_CHECK(static_cast<unsigned char>(file_[at]) == 0x5D && header_size != 0,
                        "passed with an unknown block at %zu", at);
    LARKSPUR_FUZZ_CHECK(file_.size() - at >= header_size, "named block at %zu: header cut short, yet passed", at);
    const std::string_view header = file_.substr(at, header_size);
    LARKSPUR_FUZZ_CHECK(SumsToFF(header), "named block at %zu: header checksum wrong, yet passed", at);
    const std::uint32_t length = ReadBigEndian32(header, 41);
    LARKSPUR_FUZZ_CHECK(length <= file_.size() - at - header_size, "named block at %zu: payload past the end", at);
    LARKSPUR_FUZZ_CHECK(named_ < check_.named.size() && check_.named[named_].block.header_offset == at,
                        "named block at %zu not reported as named block %zu", at, named_);
    ++named_;
    return at + header_size + length;
  }

  std::size_t Code(std::size_t at) {
    LARKSPUR_FUZZ_CHECK(index_ < check_.blocks.size(), "passed file has more blocks than reported");
    const BlockCheck& reported = check_.blocks[index_];
    LARKSPUR_FUZZ_CHECK(reported.header_offset == at, "block %zu reported at %zu, found at %zu", index_,
                        reported.header_offset, at);
    LARKSPUR_FUZZ_CHECK(file_.size() - at >= header_size_, "block %zu: header cut short, yet passed", index_);
    const std::string_view header = file_.substr(at, header_size_);
    LARKSPUR_FUZZ_CHECK(header.substr(0, signature_.size()) == signature_, "block %zu: wrong signature", index_);
    const std::string_view found_type = header.substr(9, type_field_.size());
    LARKSPUR_FUZZ_CHECK(reported.other_type_field == (found_type == type_field_ ? "" : found_type),
                        "block %zu: type field reported wrong", index_);
    LARKSPUR_FUZZ_CHECK(SumsToFF(header), "block %zu: header checksum wrong, yet passed", index_);
    const std::size_t length_at = 9 + type_field_.size();
    const std::uint32_t length = ReadBigEndian32(header, length_at);
    const std::uint32_t address = ReadBigEndian32(header, length_at + 4);
    LARKSPUR_FUZZ_CHECK(length <= block_size_, "block %zu: payload longer than a block", index_);
    LARKSPUR_FUZZ_CHECK(length <= file_.size() - at - header_size_, "block %zu: payload past the end", index_);
    LARKSPUR_FUZZ_CHECK(reported.payload_length == length && reported.address == address,
                        "block %zu: reported fields differ", index_);
    if (index_ > 0) LARKSPUR_FUZZ_CHECK(address == next_address_, "block %zu: address chain broken", index_);
    unsigned char even = 0, odd = 0;
    const std::string_view payload = file_.substr(at + header_size_, length);
    for (std::size_t i = 0; i < payload.size(); ++i) (i % 2 ? odd : even) ^= static_cast<unsigned char>(payload[i]);
    LARKSPUR_FUZZ_CHECK(static_cast<unsigned char>(header[7]) == even && static_cast<unsigned char>(header[8]) == odd,
                        "block %zu: check value wrong, yet passed", index_);
    next_address_ = address + length;
    ++index_;
    return at + header_size_ + length;
  }

  std::string_view file_;
  const FirmwareCheck& check_;
  std::string signature_, type_field_;
  std::size_t header_size_;
  std::uint32_t block_size_;
  std::size_t index_ = 0, named_ = 0;
  std::uint32_t next_address_ = 0;
};

void CheckRaw(std::string_view file, bool uda, const ModelProfile& profile) {
  const PartitionKind kind = uda ? PartitionKind::kUda : PartitionKind::kRofs;
  const FirmwareCheck check = CheckFirmware(file, kind, BlockFormatOf(ModelOf(profile), kind));
  for (std::size_t i = 0; i < check.blocks.size(); ++i) {
    LARKSPUR_FUZZ_CHECK(check.blocks[i].index == i && check.blocks[i].header_offset < file.size(),
                        "block %zu: index or offset out of place", i);
  }
  if (check.AllRight()) PassedFileWalk(file, uda, profile, check).Run();
  Keep(check.blocks.size());
}

// What a built file holds besides its code blocks, from the mode bits.
struct BuiltParts {
  bool toc = false;         // a table of contents and a named block in front
  bool padding = false;     // FF padding between the blocks
  bool other_type = false;  // a type field other than the profile's
  bool named_behind = false;
};

void CheckBuilt(std::string_view input, bool uda, int model, const BuiltParts& parts) {
  if (input.size() < 8) return;
  const ModelProfile& profile = ProfileForModel(model);
  const std::size_t prefix_length = static_cast<unsigned char>(input[0]) % 32;
  std::uint32_t address = ReadBigEndian32(input, 1);
  const std::size_t damaged_header = static_cast<unsigned char>(input[5]);
  const std::size_t damaged_byte = static_cast<unsigned char>(input[6]);
  const int damaged_bit = static_cast<unsigned char>(input[7]) % 8;
  input.remove_prefix(8);

  if (input.size() < prefix_length) return;
  // A prefix of letters: it cannot hold the signature or a type field, so it
  // cannot pass for a header, whole or damaged, and the file is well formed.
  std::string prefix(input.substr(0, prefix_length));
  for (char& c : prefix) c = static_cast<char>('A' + static_cast<unsigned char>(c) % 26);
  input.remove_prefix(prefix_length);

  testing::FirmwareSpec spec{.model = model, .uda = uda};
  if (parts.other_type) {
    spec.type_field = (uda ? profile.UdaHeaderSize : profile.RofsHeaderSize) == 26
                          ? std::string("\x00\x00\x00\x08\xFF\xFF\xFF\xFF", 8)
                          : std::string("\x02", 1);
  }
  struct Header {
    std::size_t offset, size;
  };
  std::vector<Header> code_headers, named_headers;
  std::string file;
  if (parts.toc) {
    // As real files: the table's description holds the signature bytes.
    const std::string signature = HexToBytes(uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
    file = testing::TableOfContentsBytes({testing::EraseAreaEntry({{address, address + 0xFFFFF}}),
                                          testing::TocEntryBytes(0xF4, "x" + signature)}) +
           std::string(prefix_length, '\xFF');
    named_headers.push_back({file.size(), 50});
    file += testing::NamedBlockBytes(prefix, prefix, 0x000C0000);
  } else {
    file = prefix;
  }
  const std::size_t header_size = static_cast<std::size_t>(uda ? profile.UdaHeaderSize : profile.RofsHeaderSize);
  while (!input.empty()) {
    const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(input[0]), input.size() - 1);
    if (parts.padding && !code_headers.empty()) file.append(1 + length % 16, '\xFF');
    code_headers.push_back({file.size(), header_size});
    file += testing::MakeBlock(spec, std::string(input.substr(1, length)), address);
    address += static_cast<std::uint32_t>(length);
    input.remove_prefix(1 + length);
  }
  if (code_headers.empty()) return;
  if (parts.named_behind) {
    if (parts.padding) file.append(3, '\xFF');
    named_headers.push_back({file.size(), 72});
    file += testing::NamedBlockBytes("SIGN", prefix, 0, true);
  }

  const PartitionKind kind = uda ? PartitionKind::kUda : PartitionKind::kRofs;
  const FirmwareCheck good = CheckFirmware(file, kind, BlockFormatOf(model, kind));
  LARKSPUR_FUZZ_CHECK(good.AllRight(), "a file of %zu hand-built blocks does not pass", code_headers.size());
  LARKSPUR_FUZZ_CHECK(good.blocks.size() == code_headers.size() && good.named.size() == named_headers.size(),
                      "%zu blocks and %zu named built, %zu and %zu reported", code_headers.size(), named_headers.size(),
                      good.blocks.size(), good.named.size());
  CheckRaw(file, uda, profile);

  std::vector<Header> headers = code_headers;
  headers.insert(headers.end(), named_headers.begin(), named_headers.end());
  const Header& damaged_at = headers[damaged_header % headers.size()];
  std::string damaged = file;
  damaged[damaged_at.offset + damaged_byte % damaged_at.size] ^= static_cast<char>(1 << damaged_bit);
  const FirmwareCheck bad = CheckFirmware(damaged, kind, BlockFormatOf(model, kind));
  LARKSPUR_FUZZ_CHECK(!bad.AllRight(), "verify passes a file whose header at %zu (of %zu bytes) has byte %zu flipped",
                      damaged_at.offset, damaged_at.size, damaged_byte % damaged_at.size);
  CheckRaw(damaged, uda, profile);
}

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace larkspur;
  if (size < 1) return 0;
  const std::uint8_t mode = bytes[0];
  const int model = (mode >> 1) & 3;
  const bool uda = mode & 8;
  const std::string_view rest(reinterpret_cast<const char*>(bytes) + 1, size - 1);
  if (mode & 1) {
    fuzz::CheckBuilt(rest, uda, model,
                     {.toc = (mode & 0x10) != 0,
                      .padding = (mode & 0x20) != 0,
                      .other_type = (mode & 0x40) != 0,
                      .named_behind = (mode & 0x80) != 0});
  } else {
    fuzz::CheckRaw(rest, uda, ProfileForModel(model));
  }
  return 0;
}
