// Turns the open dialog's filter, written as "Description|pattern;pattern|..."
// pairs, into the name filters a Qt file dialog takes. Toolkit-free and
// stateless; callable from any thread.
#ifndef LARKSPUR_APP_QT_OPEN_FILTER_H_
#define LARKSPUR_APP_QT_OPEN_FILTER_H_

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace larkspur {

class OpenFilterError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// One entry per description, in order: "ROFS2, UDA|*.rofs2.*;*.uda.*" gives
// "ROFS2, UDA (*.rofs2.* *.uda.*)". The pattern "*.*" becomes "*", because
// it stands for every file, also names without a dot. An empty filter gives
// no entries. Throws OpenFilterError when a description has no pattern list
// or a pattern list is empty.
std::vector<std::string> NameFiltersFromOpenFilter(std::string_view filter);

// The entry that a 1-based filter index selects; out-of-range indexes select
// the first entry, as the dialog falls back to it. `entry_count` > 0.
int SelectedFilterEntry(int filter_index, int entry_count);

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_OPEN_FILTER_H_
