// Carving: the partition image starts at its partition magic ("ROFS0" and
// FF for ROFS, the FAT16 boot sector's jump E9 00 90 for UDA). Pure.
#ifndef LARKSPUR_EXTRACT_CARVE_H_
#define LARKSPUR_EXTRACT_CARVE_H_

#include <cstdint>
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

}  // namespace larkspur

#endif  // LARKSPUR_EXTRACT_CARVE_H_
