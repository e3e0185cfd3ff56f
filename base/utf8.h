// UTF-8 bytes of one code point: the one encoder behind every conversion of
// the project to UTF-8 (UTF-16 image names, the wide names of Windows, the
// UTF-16 text of a checksum list). Pure; callable from any thread.
#ifndef LARKSPUR_BASE_UTF8_H_
#define LARKSPUR_BASE_UTF8_H_

#include <string>

namespace larkspur {

// Appends the one to four bytes of `code_point` (at most 0x10FFFF) to `out`.
// A surrogate's value gets its three-byte form, which is not valid UTF-8:
// the callers decide whether one may come through.
void AppendUtf8(char32_t code_point, std::string& out);

}  // namespace larkspur

#endif  // LARKSPUR_BASE_UTF8_H_
