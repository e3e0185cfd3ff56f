// Reassembly: cuts a payload stream into blocks behind freshly built block
// headers with consecutive load addresses. Pure; the caller writes the
// pieces out.
#ifndef LARKSPUR_REPACK_REASSEMBLE_H_
#define LARKSPUR_REPACK_REASSEMBLE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "format/byte_string.h"

namespace larkspur {

inline constexpr std::int32_t kShortFirstBlockSize = 0x400;
inline constexpr std::int32_t kTailAlignment = 256;

struct BlockCutting {
  std::int32_t block_size;
  bool short_first_block;  // the N96 profile's ROFS images
  char padding_byte;       // FF for ROFS, 00 for UDA
};

// Builds the header (as bytes) for the `block`th payload (counted from 0);
// `length` 0 stands for the block size.
using HeaderBuilder = std::function<ByteString(std::size_t block, std::string_view payload,
                                               std::string_view address, std::int32_t length)>;

// Copies `part`, a stretch of the image, to `to` (see the second
// CutIntoBlocks).
using PayloadReader = std::function<void(std::string_view part, char* to)>;

// Move-only: `pieces` views its own `headers` and `copied`, whose bytes stay
// where they are when the value moves (heap storage changes hands), but a
// copy's pieces would still point into the original and dangle once it
// goes.
struct Reassembly {
  Reassembly() = default;
  Reassembly(Reassembly&&) noexcept = default;
  Reassembly& operator=(Reassembly&&) noexcept = default;
  Reassembly(const Reassembly&) = delete;
  Reassembly& operator=(const Reassembly&) = delete;

  std::vector<ByteString> headers;
  // What the output file holds, in order: the prefix, then each header
  // followed by its payload. Views into the prefix, `headers`, `copied` and
  // the payload stream, which must outlive them. Moving the value keeps
  // them valid.
  std::vector<std::string_view> pieces;
  // The few payload bytes that are not views of the image (see the second
  // CutIntoBlocks): blocks that hold leading zeros, and the padded tail.
  std::unique_ptr<char[]> copied;
  std::uint64_t copied_size = 0;
  bool short_first_block_written = false;
  std::uint64_t total_size = 0;
};

// Cuts `payload_stream` into blocks: while more than a block size remains,
// a full block (headed with length 0, which announces the block size) — in
// the short-first-block profile the first of them is preceded by a block of
// 0x400 bytes, after which the remaining length is tested again; then what
// is left (at most one block size) as a tail block, padded at the end of
// `payload_stream` with `padding_byte` to a multiple of 256 and headed with
// its padded length. Every header announces exactly the payload that follows
// it. The first block carries `start_address` (4 bytes, big-endian); each
// next one the address before plus the payload length before, wrapping
// modulo 2^32. Throws std::invalid_argument for an address of other than 4
// bytes or a block size that is not positive.
Reassembly CutIntoBlocks(ByteString& payload_stream, std::string_view prefix,
                         std::string_view start_address, const BlockCutting& cutting,
                         const HeaderBuilder& build_header);

// The same blocks, headers and bytes for the payload stream made of
// `leading_zeros` zero bytes followed by `image` (the rebuilt partition
// image, often a port::FileView), without padding or copying the image:
// every payload lying inside `image` is a view of it, so each check value
// is computed over the image's own bytes. Only the payloads that hold some
// of the leading zeros, and the tail block when it needs padding, are
// built in `copied` (less than the zeros and two block sizes).
//
// With `read_payload`, a payload inside `image` reaches `build_header` as a
// copy made by `read_payload` into one buffer, reused from run to run (a
// call copies a run of consecutive payloads, up to 1 MiB or one block),
// while the piece stays the view: a mapped image is
// then read once through its file (port::FileView::CopyOut) instead of
// being brought into memory page by page, and a writer that has the system
// copy the payloads never touches it.
//
// With `lead_bytes` (exactly `leading_zeros` of them), those bytes stand in
// front of the image instead of zeros. Throws as above, and
// std::invalid_argument for lead bytes of another length.
Reassembly CutIntoBlocks(std::size_t leading_zeros, std::string_view image, std::string_view prefix,
                         std::string_view start_address, const BlockCutting& cutting,
                         const HeaderBuilder& build_header, const PayloadReader& read_payload = nullptr,
                         std::string_view lead_bytes = {});

}  // namespace larkspur

#endif  // LARKSPUR_REPACK_REASSEMBLE_H_
