#include "app/win32/system_picture.h"

#include <objbase.h>
#include <ocidl.h>
#include <olectl.h>

#include <cstring>

#include "base/hex.h"

namespace larkspur {
namespace {

std::string HresultText(HRESULT result) { return HexNumber(static_cast<unsigned long>(result), 8); }

// Releases a COM interface when it goes out of scope.
template <typename Interface>
class ComRef {
 public:
  ~ComRef() {
    if (pointer_) pointer_->Release();
  }
  Interface** Receive() { return &pointer_; }
  Interface* operator->() const { return pointer_; }

 private:
  Interface* pointer_ = nullptr;
};

}  // namespace

SystemPictureError::SystemPictureError(const std::string& name, const std::string& reason)
    : Error("Cannot decode picture \"" + name + "\". " + TrimReason(reason)) {}

SIZE Bitmap::Size() const {
  BITMAP info = {};
  if (handle_ == nullptr || GetObjectW(handle_, sizeof info, &info) != sizeof info) return SIZE{0, 0};
  return SIZE{info.bmWidth, info.bmHeight < 0 ? -info.bmHeight : info.bmHeight};
}

Bitmap DecodeJpegWithSystem(std::string_view bytes, const std::string& name) {
  if (bytes.empty()) throw SystemPictureError(name, "The picture is empty");
  if (bytes.size() > kMaxSystemPictureBytes) {
    throw SystemPictureError(name, "The picture is larger than " + std::to_string(kMaxSystemPictureBytes) + " bytes");
  }
  auto byte_at = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
  if (bytes.size() < 4 || byte_at(0) != 0xFF || byte_at(1) != 0xD8) {
    throw SystemPictureError(name, "It does not start with a JPEG start-of-image marker (FF D8)");
  }
  if (byte_at(bytes.size() - 2) != 0xFF || byte_at(bytes.size() - 1) != 0xD9) {
    throw SystemPictureError(name, "It does not end with a JPEG end-of-image marker (FF D9); the file is cut short");
  }

  // The stream owns a copy of the bytes and frees it when released.
  HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
  if (memory == nullptr) throw SystemPictureError(name, "No memory for the picture");
  void* const target = GlobalLock(memory);
  if (target == nullptr) {
    GlobalFree(memory);
    throw SystemPictureError(name, "No memory for the picture");
  }
  std::memcpy(target, bytes.data(), bytes.size());
  GlobalUnlock(memory);
  ComRef<IStream> stream;
  HRESULT result = CreateStreamOnHGlobal(memory, TRUE, stream.Receive());
  if (FAILED(result)) {
    GlobalFree(memory);
    throw SystemPictureError(name, "No stream over the picture (" + HresultText(result) + ")");
  }

  ComRef<IPicture> picture;
  result = OleLoadPicture(stream.operator->(), static_cast<LONG>(bytes.size()), FALSE, IID_IPicture,
                          reinterpret_cast<void**>(picture.Receive()));
  if (FAILED(result)) {
    throw SystemPictureError(name, "The system's picture decoder refused it (" + HresultText(result) + ")");
  }
  SHORT type = PICTYPE_UNINITIALIZED;
  OLE_HANDLE handle = 0;
  if (FAILED(picture->get_Type(&type)) || type != PICTYPE_BITMAP || FAILED(picture->get_Handle(&handle)) ||
      handle == 0) {
    throw SystemPictureError(name, "The system's picture decoder gave no bitmap");
  }
  // The picture object owns its bitmap; the window keeps a copy of its own.
  Bitmap bitmap(static_cast<HBITMAP>(
      CopyImage(reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(handle)), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
  if (bitmap.get() == nullptr) throw SystemPictureError(name, "The decoded bitmap could not be copied");
  const SIZE size = bitmap.Size();
  if (size.cx <= 0 || size.cy <= 0 || size.cx > kMaxSystemPictureSide || size.cy > kMaxSystemPictureSide) {
    throw SystemPictureError(name, "Its size " + std::to_string(size.cx) + " x " + std::to_string(size.cy) +
                                       " is outside 1 .. " + std::to_string(kMaxSystemPictureSide));
  }
  return bitmap;
}

}  // namespace larkspur
