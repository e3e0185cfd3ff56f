#include "tools/larkspur-cli/package_checksums.h"

#include <optional>

#include "app/run_reports.h"
#include "base/hex.h"
#include "base/text.h"
#include "port/errors.h"
#include "port/files.h"
#include "vpl/file_crc.h"
#include "vpl/package_folder.h"
#include "vpl/vpl_writer.h"

namespace larkspur {
namespace {

// A line of `info` and `verify`, said in the language in force.
void PrintLine(std::ostream& out, const Text& line) { out << SayText(line) << '\n'; }

}  // namespace

bool PrintPackageChecksum(std::ostream& out, const std::string& firmware_path, bool only_when_listed) {
  const std::optional<std::uint32_t> crc = vpl::Crc32OfFile(firmware_path);
  if (!crc) throw FileOpenError(firmware_path, "The file is missing or not a regular file");
  PrintLine(out, Text("CRC-32 校验值:  %1", {vpl::CrcText(*crc)}));
  const vpl::VplListing listing = vpl::FindVplListing(firmware_path);
  if (only_when_listed && listing.kind == vpl::VplListing::Kind::kNotListed) return true;
  const auto list_says = [&out](const Text& what) { PrintLine(out, Text("校验清单:       %1", {what})); };
  switch (listing.kind) {
    case vpl::VplListing::Kind::kNotListed:
      list_says(Text("文件夹中没有列出它的 .vpl"));
      return true;
    case vpl::VplListing::Kind::kAmbiguous:
    case vpl::VplListing::Kind::kUnreadable:
      // The reader's reason names the list and the bytes: quoted as it is.
      list_says(Text("无法判断: %1", {listing.reason}));
      return true;
    case vpl::VplListing::Kind::kListed:
      break;
  }
  const std::string vpl_name = port::FileNamePart(listing.vpl_path);
  const std::optional<std::uint32_t> listed = vpl::CrcOfEntry(listing.entry());
  if (!listed) {
    list_says(Text("%1 列出了它, 但没有校验值 (%2)",
                   {vpl_name, "<Crc> \"" + PrintableBytes(listing.entry().crc_text) + "\""}));
    return true;
  }
  if (*listed == *crc) {
    list_says(Text("%1 给出 %2: 正确", {vpl_name, vpl::CrcText(*listed)}));
    return true;
  }
  list_says(Text("%1 给出 %2, 文件的是 %3: 错误, 刷机程序会拒绝这个文件",
                 {vpl_name, vpl::CrcText(*listed), vpl::CrcText(*crc)}));
  return false;
}

}  // namespace larkspur
