// How names cross between an image and the host's file system: the one
// platform-specific part of the ROFS library. POSIX hosts use UTF-8 bytes
// (host_names_posix.cc); Windows uses the ANSI code page that the rest of
// the program and its obey files use (host_names_win32.cc). Stateless; safe
// from any thread.
#ifndef LARKSPUR_ROFS_HOST_NAMES_H_
#define LARKSPUR_ROFS_HOST_NAMES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::rofs {

// A host path from bytes given on a command line or in an obey file, where
// '\' and '/' both separate folders. POSIX: the bytes as they are. Windows:
// UTF-8 when the bytes are valid UTF-8, otherwise the ANSI code page.
std::filesystem::path HostPathFromBytes(std::string_view bytes);

// The host path of `bytes` (as HostPathFromBytes reads them) below
// `folder`, as `folder / HostPathFromBytes(bytes)` gives it, in the system's
// own form: on POSIX made without splitting the path into its parts, which
// counts when a tree of many files is loaded.
std::filesystem::path::string_type HostPathBelow(const std::filesystem::path& folder, std::string_view bytes);

// The bytes of a host path as the host's own programs print them (for
// messages and listings). Never fails; unrepresentable characters become '?'.
std::string HostPathToBytes(const std::filesystem::path& path);

// The host file-name component for one image name, or nullopt when the host
// cannot hold it under exactly that name (on Windows: not in the ANSI code
// page, a reserved device name, a character Windows forbids, a trailing dot
// or blank). The caller has already refused names that are unsafe anywhere
// (see UnsafeNameReason).
std::optional<std::filesystem::path> HostNameFromImageName(std::u16string_view name);

// UTF-16 for the bytes of an image path in an obey file; nullopt when they
// are not text. POSIX: strict UTF-8. Windows: UTF-8 when the bytes are valid
// UTF-8, otherwise the ANSI code page that the obey generator writes.
std::optional<std::u16string> ImageNameFromObeyBytes(std::string_view bytes);

// The image name as the host's console shows it, for listings.
std::string ImageNameForDisplay(std::u16string_view name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_HOST_NAMES_H_
