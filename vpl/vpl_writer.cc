#include "vpl/vpl_writer.h"

#include <stdexcept>

#include "base/hex.h"
#include "vpl/vpl_errors.h"

namespace larkspur::vpl {

std::string CrcText(std::uint32_t crc) { return LowerHexDigits(crc, 8); }

std::string RewriteCrc(std::string_view bytes, const VplFile& vpl, const VplEntry& entry, std::uint32_t crc,
                       std::string_view vpl_name) {
  const std::string file = "\"" + PrintableBytes(entry.name) + "\"";
  if (!entry.has_crc) {
    throw VplFormatError(vpl_name, entry.file_offset, "the <File> of " + file + " has no <Crc>; nothing is rewritten");
  }
  if (!CrcOfEntry(entry)) {
    throw VplFormatError(vpl_name, entry.crc_offset,
                         "the <Crc> of " + file + " is \"" + PrintableBytes(entry.crc_text) +
                             "\", not eight hex digits; nothing is rewritten");
  }
  // Eight ASCII digits take eight code units; the bytes there must be the
  // digits the entry was read with, or the entry is not of these bytes.
  const unsigned unit_size = CodeUnitSize(vpl.encoding);
  const std::uint64_t size = 8u * unit_size;
  if (entry.crc_size != size || entry.crc_offset > bytes.size() || size > bytes.size() - entry.crc_offset) {
    throw std::invalid_argument("RewriteCrc: the entry's <Crc> does not lie in these bytes");
  }
  std::string rewritten(bytes);
  const std::string digits = CrcText(crc);
  for (std::size_t k = 0; k < 8; ++k) {
    const std::size_t at = static_cast<std::size_t>(entry.crc_offset) + k * unit_size;
    // The ASCII digit sits in the low byte of its UTF-16 unit: first in
    // little-endian, second in big-endian.
    const std::size_t digit_at = vpl.encoding == VplEncoding::kUtf16Be ? at + 1 : at;
    const bool high_byte_zero = unit_size == 1 || rewritten[vpl.encoding == VplEncoding::kUtf16Be ? at : at + 1] == 0;
    if (rewritten[digit_at] != entry.crc_text[k] || !high_byte_zero) {
      throw std::invalid_argument("RewriteCrc: the entry's <Crc> does not lie in these bytes");
    }
    rewritten[digit_at] = digits[k];
  }
  return rewritten;
}

}  // namespace larkspur::vpl
