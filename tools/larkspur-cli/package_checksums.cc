#include "tools/larkspur-cli/package_checksums.h"

#include <optional>

#include "base/hex.h"
#include "port/errors.h"
#include "port/files.h"
#include "vpl/file_crc.h"
#include "vpl/package_folder.h"
#include "vpl/vpl_writer.h"

namespace larkspur {
bool PrintPackageChecksum(std::ostream& out, const std::string& firmware_path, bool only_when_listed) {
  const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(firmware_path);
  if (!crc) throw FileOpenError(firmware_path, "The file is missing or not a regular file");
  out << "crc32:          " << vpl::CrcText(*crc) << '\n';
  const vpl::VplListing listing = vpl::FindVplListing(firmware_path);
  if (only_when_listed && listing.kind == vpl::VplListing::Kind::kNotListed) return true;
  out << "checksum list:  ";
  switch (listing.kind) {
    case vpl::VplListing::Kind::kNotListed:
      out << "no .vpl in the folder lists it\n";
      return true;
    case vpl::VplListing::Kind::kAmbiguous:
    case vpl::VplListing::Kind::kUnreadable:
      out << "cannot tell: " << listing.reason << '\n';
      return true;
    case vpl::VplListing::Kind::kListed:
      break;
  }
  const std::string vpl_name = port::FileNamePart(listing.vpl_path);
  const std::optional<std::uint32_t> listed = vpl::CrcOfEntry(listing.entry());
  if (!listed) {
    out << vpl_name << " lists it without a checksum (<Crc> \"" << PrintableBytes(listing.entry().crc_text) << "\")\n";
    return true;
  }
  if (*listed == *crc) {
    out << vpl_name << " gives " << vpl::CrcText(*listed) << ": right\n";
    return true;
  }
  out << vpl_name << " gives " << vpl::CrcText(*listed) << ", the file has " << vpl::CrcText(*crc)
      << ": wrong, the flasher refuses the file\n";
  return false;
}

}  // namespace larkspur
