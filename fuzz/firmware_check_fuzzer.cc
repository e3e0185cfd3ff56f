// The info/verify reader (CheckFirmware) on arbitrary and on built files.
// Verify is the last look a user takes before flashing, so the property that
// matters is that it never passes a file with a wrong header:
//   - raw mode: whatever the bytes, when AllRight() holds, every header is
//     re-checked here from the layout alone (signature, check value, type
//     field, checksum, length within the block size, payload inside the
//     file, the next header exactly where the last one says, load addresses
//     in a chain) and must match the blocks CheckFirmware reports;
//   - built mode: a file made of hand-built headers passes, and the same
//     file with one bit of one header flipped does not.
//
// Input: a mode byte (bit 0: built mode; bits 1-2: model profile; bit 3:
// UDA), then for raw mode the file, for built mode a prefix length byte, 4
// start-address bytes, a block to damage, a header byte, a bit, then the
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

// Re-checks a file that CheckFirmware passed, block by block.
void RecheckPassedFile(std::string_view file, bool uda, const ModelProfile& profile,
                       const FirmwareCheck& check) {
  const std::string signature = HexToBytes(uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
  const std::string type_field = HexToBytes(uda ? profile.UdaTypeFieldHex : profile.RofsTypeFieldHex);
  const std::size_t header_size = static_cast<std::size_t>(uda ? profile.UdaHeaderSize : profile.RofsHeaderSize);
  const std::uint32_t block_size = static_cast<std::uint32_t>(uda ? profile.UdaBlockSize : profile.RofsBlockSize);
  const std::size_t length_at = 9 + type_field.size();

  std::size_t at = file.find(signature);
  LARKSPUR_FUZZ_CHECK(at != std::string_view::npos, "passed a file without a signature");
  LARKSPUR_FUZZ_CHECK(check.prefix_length == at, "prefix length differs from the first signature");
  std::size_t index = 0;
  std::uint32_t next_address = 0;
  while (at < file.size()) {
    LARKSPUR_FUZZ_CHECK(index < check.blocks.size(), "passed file has more blocks than reported");
    const BlockCheck& reported = check.blocks[index];
    LARKSPUR_FUZZ_CHECK(reported.header_offset == at, "block %zu reported at %zu, found at %zu", index,
                        reported.header_offset, at);
    LARKSPUR_FUZZ_CHECK(file.size() - at >= header_size, "block %zu: header cut short, yet passed", index);
    const std::string_view header = file.substr(at, header_size);
    LARKSPUR_FUZZ_CHECK(header.substr(0, signature.size()) == signature, "block %zu: wrong signature", index);
    LARKSPUR_FUZZ_CHECK(header.substr(9, type_field.size()) == type_field, "block %zu: wrong type field", index);
    unsigned sum = 0;
    for (std::size_t i = 1; i < header_size; ++i) sum += static_cast<unsigned char>(header[i]);
    LARKSPUR_FUZZ_CHECK(sum % 256 == 0xFF, "block %zu: header checksum wrong, yet passed", index);
    const std::uint32_t length = ReadBigEndian32(header, length_at);
    const std::uint32_t address = ReadBigEndian32(header, length_at + 4);
    LARKSPUR_FUZZ_CHECK(length <= block_size, "block %zu: payload longer than a block", index);
    LARKSPUR_FUZZ_CHECK(length <= file.size() - at - header_size, "block %zu: payload past the end", index);
    LARKSPUR_FUZZ_CHECK(reported.payload_length == length && reported.address == address,
                        "block %zu: reported fields differ", index);
    if (index > 0) LARKSPUR_FUZZ_CHECK(address == next_address, "block %zu: address chain broken", index);
    unsigned char even = 0, odd = 0;
    const std::string_view payload = file.substr(at + header_size, length);
    for (std::size_t i = 0; i < payload.size(); ++i) (i % 2 ? odd : even) ^= static_cast<unsigned char>(payload[i]);
    LARKSPUR_FUZZ_CHECK(static_cast<unsigned char>(header[7]) == even && static_cast<unsigned char>(header[8]) == odd,
                        "block %zu: check value wrong, yet passed", index);
    next_address = address + length;
    at += header_size + length;
    ++index;
  }
  LARKSPUR_FUZZ_CHECK(index == check.blocks.size(), "reported %zu blocks, walked %zu", check.blocks.size(), index);
}

void CheckRaw(std::string_view file, bool uda, const ModelProfile& profile) {
  const PartitionKind kind = uda ? PartitionKind::kUda : PartitionKind::kRofs;
  const FirmwareCheck check = CheckFirmware(file, kind, BlockFormatOf(ModelOf(profile), kind));
  for (std::size_t i = 0; i < check.blocks.size(); ++i) {
    LARKSPUR_FUZZ_CHECK(check.blocks[i].index == i && check.blocks[i].header_offset < file.size(),
                        "block %zu: index or offset out of place", i);
  }
  if (check.AllRight()) RecheckPassedFile(file, uda, profile, check);
  Keep(check.blocks.size());
}

void CheckBuilt(std::string_view input, bool uda, int model) {
  if (input.size() < 8) return;
  const ModelProfile& profile = ProfileForModel(model);
  const std::size_t header_size = static_cast<std::size_t>(uda ? profile.UdaHeaderSize : profile.RofsHeaderSize);
  const std::size_t prefix_length = static_cast<unsigned char>(input[0]) % 32;
  std::uint32_t address = ReadBigEndian32(input, 1);
  const std::size_t damaged_block = static_cast<unsigned char>(input[5]);
  const std::size_t damaged_byte = static_cast<unsigned char>(input[6]) % header_size;
  const int damaged_bit = static_cast<unsigned char>(input[7]) % 8;
  input.remove_prefix(8);

  if (input.size() < prefix_length) return;
  // A prefix of letters: it cannot hold the signature or a type field, so it
  // cannot pass for a header, whole or damaged, and the file is well formed.
  std::string prefix(input.substr(0, prefix_length));
  for (char& c : prefix) c = static_cast<char>('A' + static_cast<unsigned char>(c) % 26);
  input.remove_prefix(prefix_length);

  const testing::FirmwareSpec spec{.model = model, .uda = uda};
  std::string file = prefix;
  std::vector<std::size_t> header_offsets;
  while (!input.empty()) {
    const std::size_t length = std::min<std::size_t>(static_cast<unsigned char>(input[0]), input.size() - 1);
    header_offsets.push_back(file.size());
    file += testing::MakeBlock(spec, std::string(input.substr(1, length)), address);
    address += static_cast<std::uint32_t>(length);
    input.remove_prefix(1 + length);
  }
  if (header_offsets.empty()) return;

  const PartitionKind kind = uda ? PartitionKind::kUda : PartitionKind::kRofs;
  const FirmwareCheck good = CheckFirmware(file, kind, BlockFormatOf(model, kind));
  LARKSPUR_FUZZ_CHECK(good.AllRight(), "a file of %zu hand-built blocks does not pass", header_offsets.size());
  LARKSPUR_FUZZ_CHECK(good.blocks.size() == header_offsets.size(), "%zu blocks built, %zu reported",
                      header_offsets.size(), good.blocks.size());

  const std::size_t block = damaged_block % header_offsets.size();
  std::string damaged = file;
  damaged[header_offsets[block] + damaged_byte] ^= static_cast<char>(1 << damaged_bit);
  const FirmwareCheck bad = CheckFirmware(damaged, kind, BlockFormatOf(model, kind));
  LARKSPUR_FUZZ_CHECK(!bad.AllRight(), "verify passes a file whose block %zu (of %zu) has header byte %zu flipped",
                      block, header_offsets.size(), damaged_byte);
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
    fuzz::CheckBuilt(rest, uda, model);
  } else {
    fuzz::CheckRaw(rest, uda, ProfileForModel(model));
  }
  return 0;
}
