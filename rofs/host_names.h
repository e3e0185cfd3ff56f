// How names cross between an image and the host's file system: the one
// platform-specific part of the ROFS library. Host paths are the program's
// path strings (port/files.h): bytes on POSIX, UTF-8 on Windows too, where
// the file system's names are UTF-16 and every name of an image has its own
// spelling whatever the ANSI code page. Obey files are UTF-8 on every
// system. POSIX: host_names_posix.cc; Windows: host_names_win32.cc.
// Stateless; safe from any thread.
#ifndef LARKSPUR_ROFS_HOST_NAMES_H_
#define LARKSPUR_ROFS_HOST_NAMES_H_

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::rofs {

// A host path from bytes given on a command line or in an obey file, where
// '\' and '/' both separate folders. POSIX: the bytes as they are. Windows:
// the bytes read as UTF-8.
std::filesystem::path HostPathFromBytes(std::string_view bytes);

// The host path of `bytes` (as HostPathFromBytes reads them) below
// `folder`, as `folder / HostPathFromBytes(bytes)` gives it, in the system's
// own form: on POSIX made without splitting the path into its parts, which
// counts when a tree of many files is loaded.
std::filesystem::path::string_type HostPathBelow(const std::filesystem::path& folder, std::string_view bytes);

// The bytes of a host path, as the program's own strings hold paths (for
// port/ calls, messages and listings): POSIX: as they are; Windows: UTF-8.
// Never fails.
std::string HostPathToBytes(const std::filesystem::path& path);

// Why the host cannot hold one image name as a file name under exactly that
// name, in a few English words that name the rule (on Windows: a reserved
// device name, a character Windows forbids, a trailing dot or blank; on
// every system: an unpaired surrogate, which no path string can carry);
// nullopt when it can. The caller has already refused names that are unsafe
// anywhere (see UnsafeNameReason).
std::optional<std::string> HostNameRefusal(std::u16string_view name);

// The host file-name component for one image name, or nullopt exactly when
// HostNameRefusal gives a reason.
std::optional<std::filesystem::path> HostNameFromImageName(std::u16string_view name);

// UTF-16 for the bytes of an image path in an obey file; nullopt when they
// are not UTF-8 text.
std::optional<std::u16string> ImageNameFromObeyBytes(std::string_view bytes);

// The image name as UTF-8, for listings.
std::string ImageNameForDisplay(std::u16string_view name);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_HOST_NAMES_H_
