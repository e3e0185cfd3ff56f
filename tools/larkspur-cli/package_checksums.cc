#include "tools/larkspur-cli/package_checksums.h"

#include <optional>

#include "base/hex.h"
#include "port/errors.h"
#include "port/files.h"
#include "vpl/file_crc.h"
#include "vpl/package_folder.h"
#include "vpl/vpl_writer.h"

namespace larkspur {
bool PrintPackageChecksum(std::ostream& out, const std::string& firmware_path) {
  const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(firmware_path);
  if (!crc) throw FileOpenError(firmware_path, "The file is missing or not a regular file");
  out << "crc32:          " << vpl::CrcText(*crc) << '\n';
  const vpl::VplListing listing = vpl::FindVplListing(firmware_path);
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

std::string WriteRebChecksumList(std::ostream& log, const std::string& input_path, const std::string& reb_path) {
  const vpl::VplListing listing = vpl::FindVplListing(input_path);
  if (listing.kind == vpl::VplListing::Kind::kNotListed) {
    log << "No .vpl beside " << port::FileNamePart(input_path) << " lists it; no checksum list written.\n";
    return "";
  }
  if (listing.kind != vpl::VplListing::Kind::kListed) {
    log << "Checksum list not written: " << listing.reason << '\n';
    return "";
  }
  const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(reb_path);
  if (!crc) throw FileOpenError(reb_path, "The file is missing or not a regular file");
  const std::string rewritten =
      vpl::RewriteCrc(listing.vpl_bytes, listing.vpl, listing.entry(), *crc, listing.vpl_path);
  const std::string written = port::FolderPart(reb_path) + "REB-" + port::FileNamePart(listing.vpl_path);
  port::WriteFileReplacing(written, {rewritten});
  log << "Checksum list: " << listing.vpl_path << " gives " << port::FileNamePart(input_path) << " "
      << listing.entry().crc_text << "; " << written << " gives the REB- file " << vpl::CrcText(*crc) << ".\n";
  return written;
}

void WritePackageTo(std::ostream& log, const std::string& input_path, const std::string& reb_path,
                    const std::string& target_folder) {
  const vpl::VplListing listing = vpl::FindVplListing(input_path);
  if (listing.kind == vpl::VplListing::Kind::kAmbiguous || listing.kind == vpl::VplListing::Kind::kUnreadable) {
    throw FileError("Cannot write the package folder", target_folder, listing.reason);
  }
  vpl::FlashableFolderSources sources{.package_folder = port::FolderPart(input_path),
                                      .firmware_name = port::FileNamePart(input_path),
                                      .repacked_path = reb_path};
  if (listing.kind == vpl::VplListing::Kind::kListed) {
    const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(reb_path);
    if (!crc) throw FileOpenError(reb_path, "The file is missing or not a regular file");
    sources.vpl_name = port::FileNamePart(listing.vpl_path);
    sources.vpl_bytes = vpl::RewriteCrc(listing.vpl_bytes, listing.vpl, listing.entry(), *crc, listing.vpl_path);
  }
  const vpl::FlashableFolderWritten written = vpl::WriteFlashableFolder(sources, target_folder);
  log << "Package folder: " << written.folder << " (" << written.firmware_name << " repacked"
      << (sources.vpl_name.empty() ? std::string(", no .vpl lists it") : ", " + sources.vpl_name + " rewritten")
      << ", other files copied: " << written.copied.size() << ")\n";
  for (const std::string& name : written.left_out) log << "Left out (not a file): " << name << '\n';
}

}  // namespace larkspur
