// Which paths below rofs2 the obey file can carry to the ROFS build. A line
// of the obey file groups a word with double quotes and ends at a line end,
// and the image stores each name as at most 255 UTF-16 code units, taken
// from the line's bytes as UTF-8: a path that breaks one of these rules
// would fail deep in the build or be stored under another name. Pure.
#ifndef LARKSPUR_REPACK_OBEY_NAMES_H_
#define LARKSPUR_REPACK_OBEY_NAMES_H_

#include <optional>
#include <string>
#include <string_view>

#include "base/text.h"

namespace larkspur {

// Why `relative_path` (folders separated by backslashes) cannot go into the
// obey file, as a text of the catalog; nothing when it can. `utf8_names`:
// the names are UTF-8 bytes, so they must be valid UTF-8 (the program's path
// strings are, on POSIX and on Windows alike; a Windows name that is not
// valid UTF-16 comes out of port/ as bytes that are not UTF-8).
std::optional<Text> ObeyPathProblem(std::string_view relative_path, bool utf8_names);

}  // namespace larkspur

#endif  // LARKSPUR_REPACK_OBEY_NAMES_H_
