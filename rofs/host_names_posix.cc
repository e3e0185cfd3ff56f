#include "rofs/host_names.h"

#include <algorithm>

#include "rofs/utf16.h"

namespace larkspur::rofs {

std::filesystem::path HostPathFromBytes(std::string_view bytes) {
  // Obey files come from Windows habits; a backslash in a POSIX name would
  // otherwise be taken as part of the name.
  std::string native(bytes);
  for (char& c : native) {
    if (c == '\\') c = '/';
  }
  return std::filesystem::path(native);
}

std::filesystem::path::string_type HostPathBelow(const std::filesystem::path& folder, std::string_view bytes) {
  // As operator/ joins them: an absolute path stands alone; a separator
  // goes between the two unless the folder ends in one.
  std::string joined;
  if (bytes.empty() || (bytes[0] != '/' && bytes[0] != '\\')) {
    joined = folder.native();
    if (!joined.empty() && joined.back() != '/') joined += '/';
  }
  const std::size_t start = joined.size();
  joined += bytes;
  std::replace(joined.begin() + static_cast<std::ptrdiff_t>(start), joined.end(), '\\', '/');
  return joined;
}

std::string HostPathToBytes(const std::filesystem::path& path) { return path.native(); }

std::optional<std::filesystem::path> HostNameFromImageName(std::u16string_view name) {
  std::optional<std::string> utf8 = Utf16ToUtf8(name);
  if (!utf8) return std::nullopt;
  return std::filesystem::path(*utf8);
}

std::optional<std::u16string> ImageNameFromObeyBytes(std::string_view bytes) {
  return Utf8ToUtf16(bytes);
}

std::string ImageNameForDisplay(std::u16string_view name) { return Utf16ToUtf8Lossy(name); }

}  // namespace larkspur::rofs
