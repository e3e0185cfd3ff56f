#include "repack/reassemble.h"

#include <gtest/gtest.h>

#include <cstring>
#include <type_traits>

#include "format/block_header.h"
#include "format/hex_text.h"
#include "format/model_profile.h"
#include "testing/firmware_read_back.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

struct CutResult {
  std::string file;
  std::vector<testing::ReadBackBlock> blocks;
  bool short_first;
};

CutResult Reassemble(int model, bool uda, std::string stream, const std::string& prefix, std::uint32_t start,
               bool short_first = false) {
  const ModelProfile& p = ProfileForModel(model);
  const std::string sig = HexToBytes(uda ? p.UdaSignatureHex : p.RofsSignatureHex);
  const HeaderBuilder build = [&](std::size_t, std::string_view payload, std::string_view address, std::int32_t length) {
    return HexToBytes(uda ? BuildBlockHeaderHex(p.UdaSignatureHex, p.UdaTypeFieldHex, p.UdaBlockSize, payload, address, length)
                          : BuildBlockHeaderHex(p.RofsSignatureHex, p.RofsTypeFieldHex, p.RofsBlockSize, payload, address, length));
  };
  const Reassembly r = CutIntoBlocks(stream, prefix, BigEndian32(start),
                                     {uda ? p.UdaBlockSize : p.RofsBlockSize, short_first, uda ? '\0' : '\xFF'}, build);
  std::string file;
  for (auto piece : r.pieces) file += piece;
  EXPECT_EQ(file.size(), r.total_size);
  EXPECT_EQ(file.substr(0, prefix.size()), prefix);
  return {file, testing::ReadBackBlocks(file, prefix.size(), sig, uda && model == 1 ? 26 : 19), r.short_first_block_written};
}

TEST(ReassembleTest, BlockLayoutsOfTheEdgeCases) {
  struct Case {
    const char* name;
    int model;
    bool uda;
    std::size_t stream_size;
    bool short_first;
    std::vector<std::uint32_t> lengths;
  };
  const Case cases[] = {
      {"exact multiple: last block is a tail of a full block", 0, false, 0x80000, false, {0x40000, 0x40000}},
      {"UDA 0x40100 bytes", 0, true, 0x40100, false, {0x40000, 0x100}},
      {"exactly one block", 0, false, 0x40000, false, {0x40000}},
      {"remainder 0x1234 padded to 0x1300", 2, false, 0x20000 + 0x1234, false, {0x20000, 0x1300}},
      {"remainder already a multiple of 256", 3, true, 0x20000 + 0x200, false, {0x20000, 0x200}},
      {"at most one block: no short first block", 1, false, 0x8000, true, {0x8000}},
      {"N96 long image", 1, false, 0x8000 * 3 + 0x500, true, {0x400, 0x8000, 0x8000, 0x8000, 0x100}},
      // The remainder after the short block is at most a block: it is the tail.
      {"N96 just over one block", 1, false, 0x8000 + 0x300, true, {0x400, 0x7F00}},
      {"N96 UDA: 26-byte headers, no short block", 1, true, 0x8000 + 1, false, {0x8000, 0x100}},
      {"empty stream", 0, true, 0, false, {}},
  };
  for (const Case& c : cases) {
    const std::string stream = testing::PatternBytes(c.stream_size);
    const CutResult run = Reassemble(c.model, c.uda, stream, "PFX", 0x1000000, c.short_first);
    std::vector<std::uint32_t> lengths;
    std::string payloads;
    std::uint32_t expected_address = 0x1000000;
    for (const testing::ReadBackBlock& block : run.blocks) {
      lengths.push_back(block.length);
      EXPECT_EQ(block.address, expected_address) << c.name;
      expected_address += block.length;
      payloads += block.payload;
    }
    EXPECT_EQ(lengths, c.lengths) << c.name;
    ASSERT_GE(payloads.size(), stream.size()) << c.name;
    EXPECT_EQ(payloads.substr(0, stream.size()), stream) << c.name;
    const char pad = c.uda ? '\0' : '\xFF';
    EXPECT_EQ(payloads.substr(stream.size()), std::string(payloads.size() - stream.size(), pad)) << c.name;
  }
}

TEST(ReassembleTest, AddressesWrapModulo2To32) {
  const CutResult run = Reassemble(1, true, testing::PatternBytes(0x10000), "", 0xFFFFC000);
  ASSERT_EQ(run.blocks.size(), 2u);
  EXPECT_EQ(run.blocks[0].address, 0xFFFFC000u);
  EXPECT_EQ(run.blocks[1].address, 0x00004000u);
}

TEST(ReassembleTest, N96ShortFirstBlockHoldsFillerZeros) {
  std::string stream(3072, '\0');
  stream += testing::PatternBytes(0x10000);
  const CutResult run = Reassemble(1, false, stream, "", 0x100);
  // Without the N96 selection there is no short block.
  EXPECT_EQ(run.blocks[0].length, 0x8000u);
  const CutResult n96 = Reassemble(1, false, stream, "", 0x100, true);
  ASSERT_GE(n96.blocks.size(), 3u);
  EXPECT_TRUE(n96.short_first);
  EXPECT_EQ(n96.blocks[0].length, 0x400u);
  EXPECT_EQ(n96.blocks[1].address, 0x500u);
  EXPECT_EQ(n96.blocks[2].address, 0x8500u);
  // Check value 00 00 over the filler.
  EXPECT_EQ(n96.file.substr(7, 2), std::string(2, '\0'));
}

// The views version against the padding one, which the tests above check
// against the hand reader: the same file to the byte, for images behind
// leading zeros (the ROFS filler, UDA zero sectors) and without, with
// padded and unpadded tails; only the zeros' blocks and a padded tail are
// copied, every other payload is a view of the image.
// A copy's pieces would point into the original's headers and bytes.
static_assert(!std::is_copy_constructible_v<Reassembly> && !std::is_copy_assignable_v<Reassembly>);
static_assert(std::is_nothrow_move_constructible_v<Reassembly>);

TEST(ReassembleTest, CuttingViewsOfTheImageGivesTheSameBytes) {
  struct Case {
    const char* name;
    int model;
    bool uda;
    std::size_t leading_zeros;
    std::size_t image_size;
    bool short_first;
  };
  const Case cases[] = {
      {"UDA, no zeros, aligned tail", 0, true, 0, 0x40000 * 2 + 0x200, false},
      {"UDA, no zeros, padded tail", 0, true, 0, 0x40000 + 0x1234, false},
      {"UDA, zero sectors in front", 0, true, 0x400, 0x40000 * 2, false},
      {"N96 ROFS filler: short block of zeros, then a block straddling", 1, false, 3072, 0x8000 * 3 + 0x10, true},
      {"zeros longer than a block", 2, false, 0x20000 + 0x100, 0x20000 * 2 + 0x1, false},
      {"only zeros", 3, true, 0x300, 0, false},
      {"image within the tail block", 0, true, 0x10, 0x20, false},
      {"empty", 0, true, 0, 0, false},
      // More than the payload reader copies in one call (1 MiB).
      {"N96 ROFS over several runs of the reader", 1, false, 3072, 0x8000 * 70 + 0x123, true},
      {"UDA over several runs of the reader", 0, true, 0x400, 0x40000 * 9 + 0x55, false},
  };
  for (const Case& c : cases) {
    const ModelProfile& p = ProfileForModel(c.model);
    const std::string image = testing::PatternBytes(c.image_size);
    std::size_t built_over_image = 0;  // headers built from the image's own bytes
    const HeaderBuilder build = [&](std::size_t, std::string_view payload, std::string_view address, std::int32_t length) {
      if (!payload.empty() && payload.data() >= image.data() && payload.data() < image.data() + image.size())
        ++built_over_image;
      return HexToBytes(c.uda ? BuildBlockHeaderHex(p.UdaSignatureHex, p.UdaTypeFieldHex, p.UdaBlockSize, payload, address, length)
                              : BuildBlockHeaderHex(p.RofsSignatureHex, p.RofsTypeFieldHex, p.RofsBlockSize, payload, address, length));
    };
    const BlockCutting cutting{c.uda ? p.UdaBlockSize : p.RofsBlockSize, c.short_first, c.uda ? '\0' : '\xFF'};
    std::string stream = std::string(c.leading_zeros, '\0') + image;
    const Reassembly padded = CutIntoBlocks(stream, "PFX", BigEndian32(0x1000000), cutting, build);
    // With a payload reader the headers are built from its copies of the
    // image's bytes and never from the image: a reader handed the wrong
    // stretch, or a copy that reached the header builder for the wrong
    // block, would change a check value. The pieces stay views.
    std::size_t read_bytes = 0;
    const PayloadReader read = [&](std::string_view part, char* to) {
      ASSERT_GE(part.data(), image.data());
      ASSERT_LE(part.data() + part.size(), image.data() + image.size());
      std::memcpy(to, image.data() + (part.data() - image.data()), part.size());
      read_bytes += part.size();
    };
    for (const bool with_reader : {false, true}) {
      SCOPED_TRACE(with_reader ? "with a payload reader" : "without a payload reader");
      read_bytes = 0;
      built_over_image = 0;
      Reassembly viewed = CutIntoBlocks(c.leading_zeros, image, "PFX", BigEndian32(0x1000000), cutting, build,
                                        with_reader ? read : nullptr);
      const Reassembly moved = std::move(viewed);  // the views stay valid
      EXPECT_EQ(testing::Concatenated(moved.pieces), testing::Concatenated(padded.pieces)) << c.name;
      EXPECT_EQ(moved.total_size, padded.total_size) << c.name;
      EXPECT_EQ(moved.headers.size(), padded.headers.size()) << c.name;
      EXPECT_EQ(moved.short_first_block_written, padded.short_first_block_written) << c.name;
      EXPECT_EQ(padded.copied_size, 0u) << c.name;
      EXPECT_LT(moved.copied_size, c.leading_zeros + 2 * static_cast<std::size_t>(cutting.block_size)) << c.name;
      std::uint64_t viewed_bytes = 0;
      std::size_t viewed_blocks = 0;
      for (std::size_t i = 2; i < moved.pieces.size(); i += 2) {
        const std::string_view payload = moved.pieces[i];
        if (payload.data() >= image.data() && payload.data() + payload.size() <= image.data() + image.size()) {
          viewed_bytes += payload.size();
          ++viewed_blocks;
        }
      }
      const std::uint64_t payload_bytes =
          moved.total_size - 3 - 19 * moved.headers.size() - (c.uda && c.model == 1 ? 7 * moved.headers.size() : 0);
      EXPECT_EQ(viewed_bytes + moved.copied_size, payload_bytes) << c.name;
      EXPECT_EQ(read_bytes, with_reader ? viewed_bytes : 0) << c.name;
      EXPECT_EQ(built_over_image, with_reader ? 0u : viewed_blocks) << c.name;
    }
    // Bytes of the source's own in front of the image (a signed image's
    // header) go where the zeros went, and every header is built for its
    // block, in order.
    const std::string lead = testing::PatternBytes(c.leading_zeros, 5);
    std::string lead_stream = lead + image;
    const Reassembly lead_padded = CutIntoBlocks(lead_stream, "PFX", BigEndian32(0x1000000), cutting, build);
    std::vector<std::size_t> built_for;
    const HeaderBuilder counting = [&](std::size_t block, std::string_view payload, std::string_view address,
                                       std::int32_t length) {
      built_for.push_back(block);
      return build(block, payload, address, length);
    };
    const Reassembly with_lead = CutIntoBlocks(c.leading_zeros, image, "PFX", BigEndian32(0x1000000), cutting, counting,
                                               nullptr, lead);
    EXPECT_EQ(testing::Concatenated(with_lead.pieces), testing::Concatenated(lead_padded.pieces)) << c.name;
    for (std::size_t i = 0; i < built_for.size(); ++i) EXPECT_EQ(built_for[i], i) << c.name;
  }
}

TEST(ReassembleTest, RefusesAStartAddressOfOtherThanFourBytes) {
  std::string stream = "x";
  EXPECT_THROW(CutIntoBlocks(stream, "", "\x01\x02", {0x8000, false, '\0'}, nullptr), std::invalid_argument);
  EXPECT_THROW(CutIntoBlocks(0, stream, "", "\x01\x02", {0x8000, false, '\0'}, nullptr), std::invalid_argument);
  EXPECT_THROW(CutIntoBlocks(0, stream, "", "\x01\x02\x03\x04", {0, false, '\0'}, nullptr), std::invalid_argument);
  EXPECT_THROW(CutIntoBlocks(4, stream, "", "\x01\x02\x03\x04", {0x8000, false, '\0'}, nullptr, nullptr, "abc"),
               std::invalid_argument);
}

}  // namespace
}  // namespace larkspur
