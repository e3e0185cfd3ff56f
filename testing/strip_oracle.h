// Test helper: header stripping done the plain way, as an oracle for the
// program's stripping (extract/strip.h), written from the header layout
// alone and with no code of the program's. Header only, so the strip
// fuzzer uses it too.
#ifndef LARKSPUR_TESTING_STRIP_ORACLE_H_
#define LARKSPUR_TESTING_STRIP_ORACLE_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace larkspur::testing {

struct StrippedByScan {
  std::string bytes;
  std::int64_t count = 0;  // headers deleted
};

// Deletes `header_size` bytes (fewer when the data ends sooner) at each
// occurrence of `signature` in turn. After a deletion the search goes on at
// the deletion point, so bytes before it are never looked at again, as the
// old program did. Quadratic, which is fine for test-sized inputs.
inline StrippedByScan DeleteEachHeaderInTurn(std::string data, std::string_view signature,
                                             std::size_t header_size) {
  StrippedByScan scan;
  std::size_t from = 0;
  for (;;) {
    const std::size_t found = data.find(signature, from);
    if (found == std::string::npos) break;
    data.erase(found, header_size);
    ++scan.count;
    from = found;
  }
  scan.bytes = std::move(data);
  return scan;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_STRIP_ORACLE_H_
