// The checksum-list reader on arbitrary bytes, and the rewrite of every
// <Crc> it reads. Properties:
//   - only VplFormatError comes out, naming the list and an offset inside
//     the bytes;
//   - every entry's places lie inside the bytes;
//   - a rewrite is refused exactly when the <Crc> is not eight hex digits;
//     otherwise it changes exactly the eight code units of that <Crc> (the
//     new value differs from the old in every digit) and nothing else, and
//     the result reads back to the same entries with the new value in that
//     one.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "vpl/vpl_errors.h"
#include "vpl/vpl_reader.h"
#include "vpl/vpl_writer.h"

namespace larkspur::fuzz {
namespace {

constexpr char kVplName[] = "fuzz.vpl";
// Each rewrite reads the whole list back; a few entries show the property.
constexpr std::size_t kRewrittenEntries = 8;

bool SameEntry(const vpl::VplEntry& a, const vpl::VplEntry& b) {
  return a.file_offset == b.file_offset && a.name == b.name && a.has_crc == b.has_crc && a.crc_text == b.crc_text &&
         a.crc_offset == b.crc_offset && a.crc_size == b.crc_size;
}

void CheckRewrite(std::string_view bytes, const vpl::VplFile& list, std::size_t index) {
  const vpl::VplEntry& entry = list.entries[index];
  const std::optional<std::uint32_t> old_crc = vpl::CrcOfEntry(entry);
  // XOR with 1 in every nibble changes every hex digit.
  const std::uint32_t new_crc = old_crc.value_or(0) ^ 0x11111111;
  std::string rewritten;
  try {
    rewritten = vpl::RewriteCrc(bytes, list, entry, new_crc, kVplName);
  } catch (const vpl::VplFormatError& error) {
    LARKSPUR_FUZZ_CHECK(!old_crc, "entry %zu with a valid <Crc> refused: %s", index, error.what());
    return;
  }
  LARKSPUR_FUZZ_CHECK(old_crc.has_value(), "entry %zu rewritten without a valid <Crc>", index);
  const std::size_t unit = vpl::CodeUnitSize(list.encoding);
  LARKSPUR_FUZZ_CHECK(rewritten.size() == bytes.size(), "size %zu became %zu", bytes.size(), rewritten.size());
  LARKSPUR_FUZZ_CHECK(entry.crc_size == 8 * unit, "a <Crc> of eight digits in %llu bytes",
                      static_cast<unsigned long long>(entry.crc_size));
  std::size_t changed_units = 0;
  for (std::size_t at = 0; at < bytes.size(); at += unit) {
    if (bytes.substr(at, unit) == std::string_view(rewritten).substr(at, unit)) continue;
    LARKSPUR_FUZZ_CHECK(at >= entry.crc_offset && at < entry.crc_offset + entry.crc_size,
                        "byte %zu outside the <Crc> of entry %zu changed", at, index);
    ++changed_units;
  }
  LARKSPUR_FUZZ_CHECK(changed_units == 8, "%zu code units changed, not 8", changed_units);

  vpl::VplFile reread;
  try {
    reread = vpl::ParseVpl(rewritten, kVplName);
  } catch (const vpl::VplFormatError& error) {
    LARKSPUR_FUZZ_CHECK(false, "the rewritten list is refused: %s", error.what());
  }
  LARKSPUR_FUZZ_CHECK(reread.encoding == list.encoding && reread.entries.size() == list.entries.size(),
                      "the rewritten list reads differently");
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    if (i == index) {
      LARKSPUR_FUZZ_CHECK(vpl::CrcOfEntry(reread.entries[i]) == new_crc && reread.entries[i].crc_text == vpl::CrcText(new_crc),
                          "entry %zu reads back as \"%s\"", i, reread.entries[i].crc_text.c_str());
    } else {
      LARKSPUR_FUZZ_CHECK(SameEntry(reread.entries[i], list.entries[i]), "entry %zu changed with entry %zu", i, index);
    }
  }
}

}  // namespace
}  // namespace larkspur::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace larkspur;
  using namespace larkspur::fuzz;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  vpl::VplFile list;
  try {
    list = vpl::ParseVpl(bytes, kVplName);
  } catch (const vpl::VplFormatError& error) {
    LARKSPUR_FUZZ_CHECK(std::string(error.what()).rfind(std::string(kVplName) + " at byte 0x", 0) == 0, "message %s",
                        error.what());
    LARKSPUR_FUZZ_CHECK(error.offset() <= size, "offset %llu past the %zu bytes",
                        static_cast<unsigned long long>(error.offset()), size);
    return 0;
  }
  for (std::size_t i = 0; i < list.entries.size(); ++i) {
    const vpl::VplEntry& entry = list.entries[i];
    LARKSPUR_FUZZ_CHECK(entry.file_offset < size, "entry %zu begins past the end", i);
    LARKSPUR_FUZZ_CHECK(entry.crc_offset <= size && entry.crc_size <= size - entry.crc_offset,
                        "the <Crc> of entry %zu lies past the end", i);
    LARKSPUR_FUZZ_CHECK(entry.has_crc || entry.crc_text.empty(), "entry %zu has text but no <Crc>", i);
    if (i < kRewrittenEntries) CheckRewrite(bytes, list, i);
  }
  Keep(list.entries.size());
  return 0;
}
