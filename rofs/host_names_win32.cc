#include "rofs/host_names.h"

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <algorithm>
#include <cwctype>

#include "rofs/utf16.h"

namespace larkspur::rofs {
namespace {

// Bytes in the ANSI code page -> UTF-16; nullopt for bytes the code page
// does not define.
std::optional<std::wstring> FromAnsi(std::string_view bytes) {
  if (bytes.empty()) return std::wstring();
  const int length = MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(),
                                         static_cast<int>(bytes.size()), nullptr, 0);
  if (length <= 0) return std::nullopt;
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                      wide.data(), length);
  return wide;
}

// UTF-16 -> ANSI code page. With `exact`, nullopt when any character has no
// exact form there (no best-fit substitutes such as 'a' for 'a-ring');
// otherwise such characters become '?'.
std::optional<std::string> ToAnsi(std::wstring_view wide, bool exact) {
  if (wide.empty()) return std::string();
  BOOL used_default = FALSE;
  const DWORD flags = WC_NO_BEST_FIT_CHARS;
  const int length = WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, exact ? &used_default : nullptr);
  if (length <= 0 || used_default) return std::nullopt;
  std::string bytes(static_cast<std::size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, flags, wide.data(), static_cast<int>(wide.size()), bytes.data(),
                      length, nullptr, nullptr);
  return bytes;
}

std::wstring Wide(std::u16string_view name) { return std::wstring(name.begin(), name.end()); }

bool IsReservedDeviceName(std::wstring_view name) {
  // "CON", "nul.txt", "COM1.log": Windows opens the device for any extension.
  std::wstring stem(name.substr(0, name.find(L'.')));
  while (!stem.empty() && stem.back() == L' ') stem.pop_back();
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](wchar_t c) { return static_cast<wchar_t>(std::towupper(c)); });
  static constexpr const wchar_t* kDevices[] = {L"CON", L"PRN", L"AUX", L"NUL"};
  for (const wchar_t* device : kDevices) {
    if (stem == device) return true;
  }
  return stem.size() == 4 && (stem.starts_with(L"COM") || stem.starts_with(L"LPT")) &&
         stem[3] >= L'1' && stem[3] <= L'9';
}

}  // namespace

std::filesystem::path HostPathFromBytes(std::string_view bytes) {
  // The same reading as for image names, so both paths of one obey line
  // agree: an obey file written on Linux is UTF-8, one written here is ANSI.
  if (std::optional<std::u16string> utf8 = Utf8ToUtf16(bytes)) {
    return std::filesystem::path(std::wstring(utf8->begin(), utf8->end()));
  }
  const std::optional<std::wstring> wide = FromAnsi(bytes);
  if (wide) return std::filesystem::path(*wide);
  // Undefined bytes cannot name an existing file; keep them visible as '?'
  // so the open fails with a message that shows the path.
  std::wstring fallback(bytes.begin(), bytes.end());
  return std::filesystem::path(fallback);
}

std::filesystem::path::string_type HostPathBelow(const std::filesystem::path& folder, std::string_view bytes) {
  return (folder / HostPathFromBytes(bytes)).native();
}

std::string HostPathToBytes(const std::filesystem::path& path) {
  return *ToAnsi(path.native(), false);
}

std::optional<std::filesystem::path> HostNameFromImageName(std::u16string_view name) {
  const std::wstring wide = Wide(name);
  for (wchar_t c : wide) {
    if (c < 0x20 || std::wstring_view(L"<>\"|?*").find(c) != std::wstring_view::npos) {
      return std::nullopt;
    }
  }
  if (wide.back() == L'.' || wide.back() == L' ' || IsReservedDeviceName(wide)) {
    return std::nullopt;
  }
  // The tree is later listed through the ANSI functions; a name that has no
  // exact ANSI form would come back changed and fail the rebuild.
  if (!ToAnsi(wide, true)) return std::nullopt;
  return std::filesystem::path(wide);
}

std::optional<std::u16string> ImageNameFromObeyBytes(std::string_view bytes) {
  if (std::optional<std::u16string> utf8 = Utf8ToUtf16(bytes)) return utf8;
  const std::optional<std::wstring> wide = FromAnsi(bytes);
  if (!wide) return std::nullopt;
  return std::u16string(wide->begin(), wide->end());
}

std::string ImageNameForDisplay(std::u16string_view name) { return *ToAnsi(Wide(name), false); }

}  // namespace larkspur::rofs
