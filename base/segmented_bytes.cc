#include "base/segmented_bytes.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace larkspur {

SegmentedBytes::SegmentedBytes(Piece bytes) {
  if (bytes.empty()) return;
  pieces_.push_back(bytes);
  starts_.push_back(0);
  size_ = bytes.size();
}

SegmentedBytes::SegmentedBytes(const std::vector<Piece>& pieces) {
  pieces_.reserve(pieces.size());
  starts_.reserve(pieces.size());
  for (const Piece piece : pieces) {
    // An empty piece would share its start with the next one, and the
    // search for the piece holding an offset could land on it.
    if (piece.empty()) continue;
    pieces_.push_back(piece);
    starts_.push_back(size_);
    size_ += piece.size();
  }
}

void SegmentedBytes::Require(std::uint64_t offset, std::uint64_t length) const {
  if (!Contains(offset, length)) {
    throw std::out_of_range("segmented bytes: " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                            " lie outside the " + std::to_string(size_) + " bytes held");
  }
}

std::size_t SegmentedBytes::PieceAt(std::uint64_t offset) const {
  // The last piece starting at or before `offset`.
  return static_cast<std::size_t>(std::upper_bound(starts_.begin(), starts_.end(), offset) - starts_.begin()) - 1;
}

void SegmentedBytes::CopyOut(std::uint64_t offset, std::span<std::uint8_t> to) const {
  Require(offset, to.size());
  std::size_t done = 0;
  for (std::size_t piece = to.empty() ? 0 : PieceAt(offset); done < to.size(); ++piece) {
    const std::uint64_t within = offset + done - starts_[piece];
    const std::size_t length = static_cast<std::size_t>(
        std::min<std::uint64_t>(pieces_[piece].size() - within, to.size() - done));
    std::memcpy(to.data() + done, pieces_[piece].data() + within, length);
    done += length;
  }
}

std::optional<SegmentedBytes::Piece> SegmentedBytes::Contiguous(std::uint64_t offset, std::uint64_t length) const {
  Require(offset, length);
  if (length == 0) return Piece{};
  const std::size_t piece = PieceAt(offset);
  const std::uint64_t within = offset - starts_[piece];
  if (length > pieces_[piece].size() - within) return std::nullopt;
  return pieces_[piece].subspan(static_cast<std::size_t>(within), static_cast<std::size_t>(length));
}

SegmentedBytes SegmentedBytes::Slice(std::uint64_t offset, std::uint64_t length) const {
  Require(offset, length);
  std::vector<Piece> parts;
  for (std::size_t piece = length == 0 ? pieces_.size() : PieceAt(offset); piece < pieces_.size(); ++piece) {
    const std::uint64_t begin = std::max(offset, starts_[piece]);
    const std::uint64_t end = std::min(offset + length, starts_[piece] + pieces_[piece].size());
    if (begin >= end) break;
    parts.push_back(pieces_[piece].subspan(static_cast<std::size_t>(begin - starts_[piece]),
                                           static_cast<std::size_t>(end - begin)));
  }
  return SegmentedBytes(parts);
}

SegmentedBytes SegmentedBytes::Joined(const std::vector<SegmentedBytes>& parts) {
  std::vector<Piece> pieces;
  for (const SegmentedBytes& part : parts) pieces.insert(pieces.end(), part.pieces_.begin(), part.pieces_.end());
  return SegmentedBytes(pieces);
}

bool SameBytes(const SegmentedBytes& a, const SegmentedBytes& b) {
  if (a.size() != b.size()) return false;
  const auto& a_pieces = a.pieces();
  const auto& b_pieces = b.pieces();
  std::size_t ai = 0, bi = 0;
  std::size_t a_at = 0, b_at = 0;  // within the current pieces
  while (ai < a_pieces.size() && bi < b_pieces.size()) {
    const std::size_t length = std::min(a_pieces[ai].size() - a_at, b_pieces[bi].size() - b_at);
    if (std::memcmp(a_pieces[ai].data() + a_at, b_pieces[bi].data() + b_at, length) != 0) return false;
    a_at += length;
    b_at += length;
    if (a_at == a_pieces[ai].size()) ++ai, a_at = 0;
    if (b_at == b_pieces[bi].size()) ++bi, b_at = 0;
  }
  return true;
}

}  // namespace larkspur
