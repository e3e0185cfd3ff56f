#include "app/qt/donate_picture.h"

#include <QResource>
#include <QString>

#include <cstddef>

namespace larkspur {

std::string_view DonatePicture() {
  // The resource is stored uncompressed (app/qt/CMakeLists.txt): data() is
  // the JPEG itself, in the program's image. A missing resource gives no
  // bytes, which the decoder refuses by name.
  static const QResource resource(QStringLiteral(":/larkspur/donate.jpg"));
  if (!resource.isValid() || resource.compressionAlgorithm() != QResource::NoCompression) return {};
  return std::string_view(reinterpret_cast<const char*>(resource.data()), static_cast<std::size_t>(resource.size()));
}

}  // namespace larkspur
