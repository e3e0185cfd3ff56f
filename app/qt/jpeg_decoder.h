// Decodes a JPEG picture held in memory into 8-bit RGB pixels with libjpeg,
// for the window's pictures. Toolkit-free and stateless; callable from any
// thread.
#ifndef LARKSPUR_APP_QT_JPEG_DECODER_H_
#define LARKSPUR_APP_QT_JPEG_DECODER_H_

#include <string>
#include <string_view>
#include <vector>

#include "port/errors.h"

namespace larkspur {

// A picture that cannot be decoded: "Cannot decode picture "NAME". REASON".
class PictureError : public Error {
 public:
  PictureError(const std::string& name, const std::string& reason);
};

struct RgbPicture {
  int width = 0;
  int height = 0;
  // Rows from top to bottom, no padding, 3 bytes (R, G, B) per pixel.
  std::vector<unsigned char> pixels;
};

// The largest picture DecodeJpeg accepts in either direction; larger ones
// would only be damaged headers asking for huge buffers.
inline constexpr int kMaxPictureSide = 4096;

// Decodes `bytes`. `name` only labels errors. Throws PictureError for data
// that is not a complete, undamaged JPEG picture (libjpeg's warnings about
// corrupt or missing data count as errors) or that is larger than
// kMaxPictureSide.
RgbPicture DecodeJpeg(std::string_view bytes, const std::string& name);

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_JPEG_DECODER_H_
