// Header stripping and the block-chain walk on arbitrary bytes, checked
// against references written from the header layout alone (the scan's is
// the tests' strip oracle, testing/strip_oracle.h):
//   - the scan equals deleting header-size bytes at each signature
//     occurrence in turn, searching on from the deletion point;
//   - the chain walk finds a chain exactly when a plain walk by payload
//     lengths does, with the same blocks;
//   - StripBlockHeaders removes exactly the chain's headers when the chain
//     holds, and gives the scan's bytes otherwise;
//   - a chain cut short by the end of the data is never also intact, and
//     the cut block really is cut.
//
// Input: a mode byte, a parameter byte, then the data. Mode bits 0-1 pick
// the model profile, bit 2 the UDA signature and header size; with bit 3 a
// signature of 1-4 bytes (bits 4-5) is taken from the start of the data and
// the parameter byte picks the header size (19 or 26 when its top bit is
// set, else 1-40), so short signatures make many occurrences.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/byte_order.h"
#include "extract/strip.h"
#include "format/firmware_layout.h"
#include "format/hex_text.h"
#include "format/model_profile.h"
#include "fuzz/fuzz_check.h"
#include "testing/strip_oracle.h"

namespace larkspur::fuzz {
namespace {

struct Block {
  std::size_t offset;
  std::uint32_t length;
};

// The chain from the first signature, by payload lengths, ending exactly at
// the end of the data; the length field follows the 7-byte signature, the
// 2-byte check value and a 1- or 8-byte type field.
std::optional<std::vector<Block>> WalkChain(std::string_view data, std::string_view signature,
                                            std::size_t header_size) {
  if (header_size != 19 && header_size != 26) return std::nullopt;
  const std::size_t length_at = header_size == 19 ? 10 : 17;
  std::size_t at = data.find(signature);
  if (at == std::string_view::npos) return std::nullopt;
  std::vector<Block> blocks;
  while (at != data.size()) {
    if (data.size() - at < header_size) return std::nullopt;
    if (data.substr(at, signature.size()) != signature) return std::nullopt;
    const std::uint32_t length = ReadBigEndian32(data, at + length_at);
    if (length > data.size() - at - header_size) return std::nullopt;
    blocks.push_back({at, length});
    at += header_size + length;
  }
  return blocks;
}

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
  using namespace larkspur;
  using namespace larkspur::fuzz;
  if (size < 2) return 0;
  const std::uint8_t mode = bytes[0];
  const std::uint8_t parameter = bytes[1];
  std::string_view data(reinterpret_cast<const char*>(bytes) + 2, size - 2);

  const ModelProfile& profile = ProfileForModel(mode & 3);
  const bool uda = mode & 4;
  std::string signature = HexToBytes(uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
  int header_size = uda ? profile.UdaHeaderSize : profile.RofsHeaderSize;
  if (mode & 8) {
    const std::size_t length = 1 + ((mode >> 4) & 3);
    if (data.size() < length) return 0;
    signature = std::string(data.substr(0, length));
    data.remove_prefix(length);
    header_size = (parameter & 0x80) ? ((parameter & 1) ? 26 : 19) : 1 + parameter % 40;
  }
  const std::string input(data);

  const testing::StrippedByScan reference = testing::DeleteEachHeaderInTurn(input, signature, static_cast<std::size_t>(header_size));
  ByteString scanned = input;
  const std::int64_t scan_count = StripEveryOccurrence(scanned, signature, header_size);
  LARKSPUR_FUZZ_CHECK(scanned == reference.bytes && scan_count == reference.count,
                      "scan gave %zu bytes / %lld headers, reference %zu bytes / %lld headers",
                      scanned.size(), static_cast<long long>(scan_count), reference.bytes.size(),
                      static_cast<long long>(reference.count));

  const FirmwareLayout layout = ReadFirmwareLayout(input, signature, header_size);
  // The plain walk knows no table of contents, named blocks or padding:
  // it is the oracle for the layouts without them.
  // A signature that begins with 5D is also a named block's type byte (the
  // profiles' begin with 54): the walks read such bytes differently.
  bool plain = signature[0] != '\x5D' && !layout.toc && layout.named.empty() &&
               (!layout.chain_intact || layout.code_end == input.size());
  for (const LayoutBlock& block : layout.blocks) plain = plain && block.padding_after == 0;
  const auto walked = WalkChain(input, signature, static_cast<std::size_t>(header_size));
  if (plain) {
    LARKSPUR_FUZZ_CHECK(layout.chain_intact == walked.has_value(), "the layout %s a chain, the walk %s",
                        layout.chain_intact ? "found" : "found no", walked ? "did" : "did not");
    if (layout.chain_intact) {
      LARKSPUR_FUZZ_CHECK(layout.blocks.size() == walked->size(), "%zu blocks, the walk %zu", layout.blocks.size(),
                          walked->size());
      for (std::size_t i = 0; i < walked->size(); ++i) {
        const Block& expected = (*walked)[i];
        LARKSPUR_FUZZ_CHECK(layout.blocks[i].header_offset == expected.offset &&
                                layout.blocks[i].payload_length == expected.length,
                            "block %zu differs from the walk", i);
      }
    }
  }
  // An intact chain strips to the prefix and the code blocks' payloads.
  std::string without_chain_headers;
  if (layout.chain_intact) {
    without_chain_headers = input.substr(0, *layout.prefix_length);
    for (const LayoutBlock& block : layout.blocks) {
      without_chain_headers += input.substr(block.header_offset + header_size, block.payload_length);
    }
  }

  // A cut is where a sound chain meets the end of the data.
  if (layout.end == ChainEnd::kCutShort && layout.end_in_named_block) {
    // A named block cut short begins with its type byte.
    LARKSPUR_FUZZ_CHECK(layout.end_offset < input.size() && input[layout.end_offset] == '\x5D',
                        "the cut named block at %zu does not begin with 5D", layout.end_offset);
  } else if (layout.end == ChainEnd::kCutShort) {
    const std::string_view rest = std::string_view(input).substr(layout.end_offset);
    LARKSPUR_FUZZ_CHECK(!rest.empty() && rest.substr(0, signature.size()) == signature.substr(0, rest.size()),
                        "the cut block at %zu does not begin with the signature", layout.end_offset);
    LARKSPUR_FUZZ_CHECK(layout.ends_inside_header == (rest.size() < static_cast<std::size_t>(header_size)),
                        "cut inside the header %d, with %zu bytes left", layout.ends_inside_header, rest.size());
    if (!layout.ends_inside_header) {
      LARKSPUR_FUZZ_CHECK(ReadBigEndian32(rest, header_size == 19 ? 10 : 17) > rest.size() - header_size,
                          "the payload of the cut block fits");
    }
  }

  ByteString stripped = input;
  const StripResult result = StripBlockHeaders(stripped, signature, header_size);
  LARKSPUR_FUZZ_CHECK(result.chain_intact == layout.chain_intact, "chain_intact %d, chain found %d",
                      result.chain_intact, layout.chain_intact);
  if (result.chain_intact) {
    LARKSPUR_FUZZ_CHECK(stripped == without_chain_headers &&
                            result.headers_removed == static_cast<std::int64_t>(layout.blocks.size()),
                        "an intact chain must lose exactly its %zu headers (removed %lld)", layout.blocks.size(),
                        static_cast<long long>(result.headers_removed));
  } else {
    LARKSPUR_FUZZ_CHECK(stripped == reference.bytes && result.headers_removed == reference.count,
                        "a broken chain must give the scan's bytes (%zu vs %zu)", stripped.size(),
                        reference.bytes.size());
  }
  Keep(stripped.size());
  return 0;
}
