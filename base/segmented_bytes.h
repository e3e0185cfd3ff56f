// An image held in pieces laid end to end, read as one run of bytes: a
// partition image as it lies in a firmware file's block payloads, between
// the block headers, without copying it into one buffer. Offsets count from
// the start of the first piece. A span of bytes is an image of one piece.
// Holds views, not bytes: the pieces must outlive it. Immutable once made;
// safe to read from any thread.
#ifndef LARKSPUR_BASE_SEGMENTED_BYTES_H_
#define LARKSPUR_BASE_SEGMENTED_BYTES_H_

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace larkspur {

class SegmentedBytes {
 public:
  using Piece = std::span<const std::uint8_t>;

  SegmentedBytes() = default;
  // One piece: the bytes of a span.
  SegmentedBytes(Piece bytes);  // NOLINT: implicit, so a span reads as an image of one piece
  // The pieces in order; empty ones are left out.
  explicit SegmentedBytes(const std::vector<Piece>& pieces);

  std::uint64_t size() const { return size_; }
  const std::vector<Piece>& pieces() const { return pieces_; }

  // True when `length` bytes at `offset` lie inside the image (checked in
  // 64 bits, so no offset or length can wrap).
  bool Contains(std::uint64_t offset, std::uint64_t length) const {
    return offset <= size_ && length <= size_ - offset;
  }

  // The `to.size()` bytes at `offset`, copied into `to` from the pieces
  // that hold them. Throws std::out_of_range when they do not lie inside
  // the image (a caller's fault: check Contains first).
  void CopyOut(std::uint64_t offset, std::span<std::uint8_t> to) const;

  // The `length` bytes at `offset` as one view, when a single piece holds
  // them all; nothing when they run across a join. Throws std::out_of_range
  // as CopyOut does.
  std::optional<Piece> Contiguous(std::uint64_t offset, std::uint64_t length) const;

  // The `length` bytes at `offset` as an image of their own (views of the
  // same pieces). Throws std::out_of_range as CopyOut does.
  SegmentedBytes Slice(std::uint64_t offset, std::uint64_t length) const;

  // The pieces of `parts`, one after the other, as one image: a file whose
  // data lies in several runs of an image.
  static SegmentedBytes Joined(const std::vector<SegmentedBytes>& parts);

 private:
  void Require(std::uint64_t offset, std::uint64_t length) const;
  // The piece that holds the byte at `offset` (< size()).
  std::size_t PieceAt(std::uint64_t offset) const;

  std::vector<Piece> pieces_;
  std::vector<std::uint64_t> starts_;  // where each piece starts in the image
  std::uint64_t size_ = 0;
};

// True when `a` and `b` hold the same bytes (and so the same number of
// them), compared piece against piece where they overlap.
bool SameBytes(const SegmentedBytes& a, const SegmentedBytes& b);

}  // namespace larkspur

#endif  // LARKSPUR_BASE_SEGMENTED_BYTES_H_
