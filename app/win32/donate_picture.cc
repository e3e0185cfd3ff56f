#include "app/win32/donate_picture.h"

#include <windows.h>

namespace larkspur {

std::string_view DonatePicture() {
  // A resource of the executable itself (donate_picture.rc): loaded
  // resources stay mapped as long as the program, and need no freeing.
  const HRSRC found = FindResourceA(nullptr, "DONATE_JPG", RT_RCDATA);
  if (found == nullptr) return {};
  const HGLOBAL loaded = LoadResource(nullptr, found);
  const DWORD size = SizeofResource(nullptr, found);
  const void* bytes = loaded == nullptr ? nullptr : LockResource(loaded);
  if (bytes == nullptr || size == 0) return {};
  return std::string_view(static_cast<const char*>(bytes), size);
}

}  // namespace larkspur
