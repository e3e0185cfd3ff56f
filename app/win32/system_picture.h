// Decodes the window's JPEG pictures with the system's own decoder
// (OleLoadPicture), so the Windows window needs no image library.
// Callable from any thread that has initialised COM.
#ifndef LARKSPUR_APP_WIN32_SYSTEM_PICTURE_H_
#define LARKSPUR_APP_WIN32_SYSTEM_PICTURE_H_

#include <windows.h>

#include <string>
#include <string_view>
#include <utility>

#include "port/errors.h"

namespace larkspur {

// A picture that cannot be decoded: "Cannot decode picture "NAME". REASON".
class SystemPictureError : public Error {
 public:
  SystemPictureError(const std::string& name, const std::string& reason);
};

// A bitmap the caller owns; DeleteObject frees it when the owner goes.
class Bitmap {
 public:
  Bitmap() = default;
  explicit Bitmap(HBITMAP handle) : handle_(handle) {}
  ~Bitmap() {
    if (handle_) DeleteObject(handle_);
  }
  Bitmap(Bitmap&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
  Bitmap& operator=(Bitmap&& other) noexcept {
    std::swap(handle_, other.handle_);
    return *this;
  }
  Bitmap(const Bitmap&) = delete;
  Bitmap& operator=(const Bitmap&) = delete;

  HBITMAP get() const { return handle_; }
  SIZE Size() const;

 private:
  HBITMAP handle_ = nullptr;
};

// The largest picture accepted in either direction.
inline constexpr int kMaxSystemPictureSide = 4096;
inline constexpr std::size_t kMaxSystemPictureBytes = 4 << 20;

// Decodes the JPEG `bytes`. `name` only labels errors. Throws
// SystemPictureError for data that is empty, larger than
// kMaxSystemPictureBytes, not framed as a whole JPEG file (start-of-image
// marker first, end-of-image marker last: a cut-off file is refused rather
// than shown half grey), refused by the system's decoder, or larger than
// kMaxSystemPictureSide.
Bitmap DecodeJpegWithSystem(std::string_view bytes, const std::string& name);

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_SYSTEM_PICTURE_H_
