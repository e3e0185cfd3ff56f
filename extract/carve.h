// Carving: the partition image starts at its partition magic ("ROFS0" and
// FF for ROFS, the FAT16 boot sector's jump E9 00 90 for UDA). Pure.
#ifndef LARKSPUR_EXTRACT_CARVE_H_
#define LARKSPUR_EXTRACT_CARVE_H_

#include <string_view>

#include "format/partition.h"

namespace larkspur {


// The bytes of `stripped` from the first occurrence of `magic` to the end,
// or all of `stripped` when the magic does not occur. A view, not a copy.
std::string_view CarvePartition(std::string_view stripped, std::string_view magic);

}  // namespace larkspur

#endif  // LARKSPUR_EXTRACT_CARVE_H_
