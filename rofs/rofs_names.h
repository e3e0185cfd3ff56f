// Rules for entry names: how the phone's driver orders and matches them, and
// which names can safely become a file name on a host. Pure functions; safe
// from any thread.
#ifndef LARKSPUR_ROFS_ROFS_NAMES_H_
#define LARKSPUR_ROFS_ROFS_NAMES_H_

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::rofs {

// Order of the lookup tables as the phone's driver binary-searches them:
// full UTF-16 units compared unsigned after folding only A-Z to a-z; when one
// name is a prefix of the other, the shorter comes first. Returns <0, 0 or >0.
int CompareForLookup(std::u16string_view a, std::u16string_view b);

// A-Z folded to a-z, every other unit kept: the key under which the phone
// (and the builder, when it looks for duplicates) considers names equal.
std::u16string FoldAsciiCase(std::u16string_view name);

// nullopt when `name` can be one component of a path on any host; otherwise
// why not: empty, "." or "..", a '/', '\', ':' or NUL unit, or an unpaired
// surrogate (no UTF-8 form).
std::optional<std::string> UnsafeNameReason(std::u16string_view name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_ROFS_NAMES_H_
