// Checks the sorted lookup tables that follow each directory's subdirectory
// entries. The phone opens files by binary search over them, so an image
// whose tables are incomplete or out of the driver's order lists fine but
// cannot open some names. Reading and extracting do not need the tables;
// this is a diagnosis. Stateless; safe from any thread.
#ifndef LARKSPUR_ROFS_ROFS_LOOKUP_H_
#define LARKSPUR_ROFS_ROFS_LOOKUP_H_

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "rofs/rofs_reader.h"

namespace larkspur::rofs {

// One line per problem, each naming the directory block's offset: a table
// outside the directory tree, counts that differ from the entries, an offset
// that names no entry, or a pair out of the order of CompareForLookup.
// Empty when every table is as the phone expects. `image` must come from
// ParseRofsImage of `bytes`.
std::vector<std::string> FindLookupTableProblems(std::span<const std::uint8_t> bytes,
                                                 const RofsImage& image);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_LOOKUP_H_
