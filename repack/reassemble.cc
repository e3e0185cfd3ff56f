#include "repack/reassemble.h"

#include <stdexcept>

#include "format/block_header.h"

namespace larkspur {

Reassembly CutIntoBlocks(ByteString& payload_stream, std::string_view prefix,
                         std::string_view start_address, const BlockCutting& cutting,
                         const HeaderBuilder& build_header) {
  if (start_address.size() != 4) throw std::invalid_argument("the start address is not 4 bytes");
  if (cutting.block_size <= 0) throw std::invalid_argument("the block size is not positive");

  // Padding first, so the views taken below stay valid.
  const std::uint64_t unpadded = payload_stream.size();
  const std::uint64_t block = static_cast<std::uint64_t>(cutting.block_size);
  std::uint64_t full_part = unpadded > block ? ((unpadded - 1) / block) * block : 0;
  const bool short_first = cutting.short_first_block && unpadded > block;
  if (short_first) {
    // After the short block the rest is cut into full blocks while more than
    // a block size remains; the last stretch of at most a block is the tail.
    const std::uint64_t rest = unpadded - kShortFirstBlockSize;
    full_part = kShortFirstBlockSize + (rest > block ? ((rest - 1) / block) * block : 0);
  }
  std::uint64_t tail = unpadded - full_part;
  const std::uint64_t padded_tail = (tail + kTailAlignment - 1) / kTailAlignment * kTailAlignment;
  payload_stream.append(static_cast<std::size_t>(padded_tail - tail), cutting.padding_byte);
  tail = padded_tail;

  Reassembly result;
  const std::string_view stream(payload_stream);
  const std::size_t block_count =
      (short_first ? 1 : 0) + (full_part - (short_first ? kShortFirstBlockSize : 0)) / block + (tail ? 1 : 0);
  result.headers.reserve(block_count);
  result.pieces.reserve(1 + 2 * block_count);
  result.pieces.push_back(prefix);
  result.total_size = prefix.size();

  std::uint32_t address = ReadBigEndian32(start_address, 0);
  std::uint64_t offset = 0;
  auto emit = [&](std::uint64_t length, std::int32_t announced) {
    const std::string_view payload = stream.substr(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
    result.headers.push_back(build_header(payload, BigEndian32(address), announced));
    result.pieces.push_back(result.headers.back());
    result.pieces.push_back(payload);
    result.total_size += result.headers.back().size() + length;
    address += static_cast<std::uint32_t>(length);  // wraps modulo 2^32
    offset += length;
  };

  if (short_first) {
    emit(kShortFirstBlockSize, kShortFirstBlockSize);
    result.short_first_block_written = true;
  }
  while (offset < full_part) emit(block, 0);
  if (tail > 0) emit(tail, static_cast<std::int32_t>(tail));
  return result;
}

}  // namespace larkspur
