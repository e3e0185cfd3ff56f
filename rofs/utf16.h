// Conversions between UTF-8 bytes and the UTF-16 code units that ROFS names
// are stored in. Pure functions; safe from any thread.
#ifndef LARKSPUR_ROFS_UTF16_H_
#define LARKSPUR_ROFS_UTF16_H_

#include <optional>
#include <string>
#include <string_view>

namespace larkspur::rofs {

// Strict decode: nullopt for any ill-formed sequence (stray or truncated
// continuation bytes, overlong forms, encoded surrogates, values above
// U+10FFFF). Characters outside the BMP become surrogate pairs.
std::optional<std::u16string> Utf8ToUtf16(std::string_view utf8);

// nullopt when `utf16` holds an unpaired surrogate, which has no UTF-8 form.
std::optional<std::string> Utf16ToUtf8(std::u16string_view utf16);

// For messages and listings: like Utf16ToUtf8, with U+FFFD in place of each
// unpaired surrogate. Never fails.
std::string Utf16ToUtf8Lossy(std::u16string_view utf16);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_UTF16_H_
