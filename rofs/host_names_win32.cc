#include "port/files.h"
#include "rofs/host_names.h"
#include "rofs/utf16.h"

namespace larkspur::rofs {
namespace {

// The device names Windows opens in place of a file of that name, with any
// extension ("CON", "nul.txt", "COM1.log", "LPT\u00B9"); CONIN$ and CONOUT$
// are the console's. The name upper-cased, or empty when it is none.
std::u16string ReservedDeviceName(std::u16string_view name) {
  std::u16string stem(name.substr(0, name.find(u'.')));
  while (!stem.empty() && stem.back() == u' ') stem.pop_back();
  for (char16_t& c : stem) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  static constexpr std::u16string_view kDevices[] = {u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$"};
  for (const std::u16string_view device : kDevices) {
    if (stem == device) return stem;
  }
  // COM and LPT with a digit, the superscripts one to three included.
  const bool port_device = stem.size() == 4 && (stem.starts_with(u"COM") || stem.starts_with(u"LPT")) &&
                           ((stem[3] >= u'0' && stem[3] <= u'9') || stem[3] == u'\u00B9' || stem[3] == u'\u00B2' ||
                            stem[3] == u'\u00B3');
  return port_device ? stem : std::u16string();
}

}  // namespace

std::filesystem::path HostPathFromBytes(std::string_view bytes) { return port::FileSystemPath(bytes); }

std::filesystem::path::string_type HostPathBelow(const std::filesystem::path& folder, std::string_view bytes) {
  return (folder / HostPathFromBytes(bytes)).native();
}

std::string HostPathToBytes(const std::filesystem::path& path) { return port::PathText(path); }

std::optional<std::string> HostNameRefusal(std::u16string_view name) {
  for (const char16_t c : name) {
    if (c < 0x20) return "Windows file names cannot hold control characters";
    if (std::u16string_view(u"<>:\"/\\|?*").find(c) != std::u16string_view::npos) {
      return std::string("Windows file names cannot hold the character '") + static_cast<char>(c) + "'";
    }
  }
  if (!Utf16ToUtf8(name)) return "the name holds an unpaired UTF-16 surrogate, which has no UTF-8 form";
  // Windows cuts these from the end of every name it is given: the file
  // would be made, and later found, under another name.
  if (!name.empty() && name.back() == u'.') return "Windows drops a dot at the end of a file name";
  if (!name.empty() && name.back() == u' ') return "Windows drops a blank at the end of a file name";
  if (const std::u16string device = ReservedDeviceName(name); !device.empty()) {
    return "Windows reserves the name " + Utf16ToUtf8Lossy(device) + " for a device, whatever follows a dot";
  }
  return std::nullopt;
}

std::optional<std::filesystem::path> HostNameFromImageName(std::u16string_view name) {
  if (HostNameRefusal(name)) return std::nullopt;
  return std::filesystem::path(std::wstring(name.begin(), name.end()));
}

std::optional<std::u16string> ImageNameFromObeyBytes(std::string_view bytes) { return Utf8ToUtf16(bytes); }

std::string ImageNameForDisplay(std::u16string_view name) { return Utf16ToUtf8Lossy(name); }

}  // namespace larkspur::rofs
