// Carving: the partition image starts at its partition magic ("ROFS0" and
// FF for ROFS, the FAT16 boot sector's jump E9 00 90 for UDA). Pure.
#ifndef LARKSPUR_EXTRACT_CARVE_H_
#define LARKSPUR_EXTRACT_CARVE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "format/partition.h"

namespace larkspur {

// The bytes of `stripped` from the first occurrence of `magic` to the end,
// or all of `stripped` when the magic does not occur. A view, not a copy.
std::string_view CarvePartition(std::string_view stripped, std::string_view magic);

// The partition image of a stripped file given as spans (see PayloadSpans):
// the bytes of the spans' concatenation from `offset` to the end, as views
// into the same bytes, ready to be written with WriteFileReplacing. Empty
// when `offset` is at or past the end; empty spans are left out.
std::vector<std::string_view> CarveSpans(const std::vector<std::string_view>& stream, std::uint64_t offset);

// The searches carving makes in a stripped file given as spans, with the
// answers the same searches give on the spans' concatenation; offsets are
// in that concatenation.

// Where `pattern` first occurs at or after `from`, a match that runs across
// the joins of spans included. Nothing when it does not occur or `pattern`
// is empty.
std::optional<std::uint64_t> FindInSpans(const std::vector<std::string_view>& stream, std::string_view pattern,
                                         std::uint64_t from = 0);

// FindFatBootSector on the bytes from `from` on: the offset, counted from
// `from`, of a boot sector at a 512-byte boundary with nothing but zero
// bytes before it.
std::optional<std::uint64_t> FindFatBootSectorInSpans(const std::vector<std::string_view>& stream,
                                                      std::uint64_t from);

// The `length` bytes from `offset` (fewer where the stream ends sooner):
// a view into the span that holds them all, or, when they run across a
// join, a copy made in `scratch`. A view is valid as long as the spans'
// bytes; a copy until `scratch` changes.
std::string_view BytesOfSpans(const std::vector<std::string_view>& stream, std::uint64_t offset,
                              std::uint64_t length, std::string& scratch);

// The total length of the spans.
std::uint64_t SpansSize(const std::vector<std::string_view>& stream);

}  // namespace larkspur

#endif  // LARKSPUR_EXTRACT_CARVE_H_
