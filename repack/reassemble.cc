#include "repack/reassemble.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "format/block_header.h"

namespace larkspur {
namespace {

// The reader copies runs of consecutive payloads inside the image, up to
// this much (or one larger block) a call: one read of the file per run
// instead of one per block.
constexpr std::uint64_t kReadRunBytes = std::uint64_t{1} << 20;

struct PlannedBlock {
  std::uint64_t offset;   // in the (padded) payload stream
  std::uint64_t length;
  std::int32_t announced;  // 0 announces the block size
};

void CheckArguments(std::string_view start_address, const BlockCutting& cutting) {
  if (start_address.size() != 4) throw std::invalid_argument("the start address is not 4 bytes");
  if (cutting.block_size <= 0) throw std::invalid_argument("the block size is not positive");
}

// The blocks a stream of `unpadded` bytes is cut into; the last one ends at
// the padded end of the stream.
std::vector<PlannedBlock> PlanBlocks(std::uint64_t unpadded, const BlockCutting& cutting) {
  const std::uint64_t block = static_cast<std::uint64_t>(cutting.block_size);
  std::uint64_t full_part = unpadded > block ? ((unpadded - 1) / block) * block : 0;
  const bool short_first = cutting.short_first_block && unpadded > block;
  if (short_first) {
    // After the short block the rest is cut into full blocks while more than
    // a block size remains; the last stretch of at most a block is the tail.
    const std::uint64_t rest = unpadded - kShortFirstBlockSize;
    full_part = kShortFirstBlockSize + (rest > block ? ((rest - 1) / block) * block : 0);
  }
  const std::uint64_t tail = unpadded - full_part;
  const std::uint64_t padded_tail = (tail + kTailAlignment - 1) / kTailAlignment * kTailAlignment;

  std::vector<PlannedBlock> blocks;
  blocks.reserve((short_first ? 1 : 0) + full_part / block + (tail ? 1 : 0));
  std::uint64_t offset = 0;
  if (short_first) {
    blocks.push_back({0, kShortFirstBlockSize, kShortFirstBlockSize});
    offset = kShortFirstBlockSize;
  }
  for (; offset < full_part; offset += block) blocks.push_back({offset, block, 0});
  if (padded_tail > 0) blocks.push_back({offset, padded_tail, static_cast<std::int32_t>(padded_tail)});
  return blocks;
}

}  // namespace

Reassembly CutIntoBlocks(ByteString& payload_stream, std::string_view prefix,
                         std::string_view start_address, const BlockCutting& cutting,
                         const HeaderBuilder& build_header) {
  CheckArguments(start_address, cutting);
  // Padded in place (into the room callers reserve behind the content), so
  // the cutting below finds every payload inside the stream and copies none.
  const std::vector<PlannedBlock> blocks = PlanBlocks(payload_stream.size(), cutting);
  const std::uint64_t padded_end = blocks.empty() ? 0 : blocks.back().offset + blocks.back().length;
  payload_stream.append(static_cast<std::size_t>(padded_end - payload_stream.size()), cutting.padding_byte);
  return CutIntoBlocks(0, payload_stream, prefix, start_address, cutting, build_header);
}

Reassembly CutIntoBlocks(std::size_t leading_zeros, std::string_view image, std::string_view prefix,
                         std::string_view start_address, const BlockCutting& cutting,
                         const HeaderBuilder& build_header, const PayloadReader& read_payload,
                         std::string_view lead_bytes) {
  CheckArguments(start_address, cutting);
  if (!lead_bytes.empty() && lead_bytes.size() != leading_zeros) {
    throw std::invalid_argument("the lead bytes are not as many as the lead");
  }
  const std::uint64_t unpadded = static_cast<std::uint64_t>(leading_zeros) + image.size();
  const std::vector<PlannedBlock> blocks = PlanBlocks(unpadded, cutting);

  // A payload is a view of `image` when it lies wholly inside it; the rest
  // (blocks reaching into the zeros, a padded tail) is built in one buffer.
  auto inside_image = [&](const PlannedBlock& block) {
    return block.offset >= leading_zeros && block.offset + block.length <= unpadded;
  };
  Reassembly result;
  for (const PlannedBlock& block : blocks) {
    if (!inside_image(block)) result.copied_size += block.length;
  }
  if (result.copied_size > 0) result.copied.reset(new char[static_cast<std::size_t>(result.copied_size)]);

  result.headers.reserve(blocks.size());
  result.pieces.reserve(1 + 2 * blocks.size());
  result.pieces.push_back(prefix);
  result.total_size = prefix.size();
  result.short_first_block_written =
      cutting.short_first_block && unpadded > static_cast<std::uint64_t>(cutting.block_size);

  // The bytes the check values are computed over, a run of payloads at a
  // time.
  std::unique_ptr<char[]> read_buffer;
  std::uint64_t buffer_size = 0;
  std::uint64_t run_begin = 0;  // the stretch of `image` in read_buffer
  std::uint64_t run_end = 0;
  if (read_payload) {
    std::uint64_t largest = 0;
    std::uint64_t viewed = 0;
    for (const PlannedBlock& block : blocks) {
      if (!inside_image(block)) continue;
      largest = std::max(largest, block.length);
      viewed += block.length;
    }
    buffer_size = std::max(largest, std::min(viewed, kReadRunBytes));
    if (buffer_size > 0) read_buffer.reset(new char[static_cast<std::size_t>(buffer_size)]);
  }
  // Reads the payloads from blocks[from] on, as many as fit the buffer.
  auto read_run = [&](std::size_t from) {
    run_begin = blocks[from].offset - leading_zeros;
    run_end = run_begin;
    for (std::size_t i = from; i < blocks.size() && inside_image(blocks[i]); ++i) {
      const std::uint64_t end = blocks[i].offset - leading_zeros + blocks[i].length;
      if (end - run_begin > buffer_size) break;
      run_end = end;
    }
    read_payload(image.substr(static_cast<std::size_t>(run_begin), static_cast<std::size_t>(run_end - run_begin)),
                 read_buffer.get());
  };

  std::uint32_t address = ReadBigEndian32(start_address, 0);
  std::uint64_t copied_at = 0;
  for (std::size_t index = 0; index < blocks.size(); ++index) {
    const PlannedBlock& block = blocks[index];
    std::string_view payload;
    const bool viewed = inside_image(block);
    if (viewed) {
      payload = image.substr(static_cast<std::size_t>(block.offset - leading_zeros),
                             static_cast<std::size_t>(block.length));
    } else {
      // Zeros, then the image's bytes, then padding, each where this block
      // overlaps it.
      char* out = result.copied.get() + copied_at;
      const std::uint64_t end = block.offset + block.length;
      const std::uint64_t zeros_end = std::min<std::uint64_t>(end, leading_zeros);
      const std::uint64_t image_end = std::min<std::uint64_t>(end, unpadded);
      std::uint64_t at = block.offset;
      if (at < zeros_end) {
        if (lead_bytes.empty()) {
          std::memset(out, 0, static_cast<std::size_t>(zeros_end - at));
        } else {
          std::memcpy(out, lead_bytes.data() + at, static_cast<std::size_t>(zeros_end - at));
        }
        out += zeros_end - at;
        at = zeros_end;
      }
      if (at < image_end) {
        std::memcpy(out, image.data() + (at - leading_zeros), static_cast<std::size_t>(image_end - at));
        out += image_end - at;
        at = image_end;
      }
      std::memset(out, cutting.padding_byte, static_cast<std::size_t>(end - at));
      payload = std::string_view(result.copied.get() + copied_at, static_cast<std::size_t>(block.length));
      copied_at += block.length;
    }
    std::string_view checked = payload;  // the bytes the header is built from
    if (viewed && read_payload) {
      const std::uint64_t at = block.offset - leading_zeros;
      if (at < run_begin || at + block.length > run_end) read_run(index);
      checked = std::string_view(read_buffer.get() + (at - run_begin), payload.size());
    }
    result.headers.push_back(build_header(result.headers.size(), checked, BigEndian32(address), block.announced));
    result.pieces.push_back(result.headers.back());
    result.pieces.push_back(payload);
    result.total_size += result.headers.back().size() + block.length;
    address += static_cast<std::uint32_t>(block.length);  // wraps modulo 2^32
  }
  return result;
}

}  // namespace larkspur
