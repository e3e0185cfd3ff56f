// The donation button picture (assets/donate.jpg), a resource of the
// program (donate_picture.rc), so the window needs no file beside it.
// Callable from any thread.
#ifndef LARKSPUR_APP_WIN32_DONATE_PICTURE_H_
#define LARKSPUR_APP_WIN32_DONATE_PICTURE_H_

#include <string_view>

namespace larkspur {

// The JPEG bytes, 97 x 25 pixels; they live as long as the program. Empty
// when the program carries no such resource.
std::string_view DonatePicture();

}  // namespace larkspur

#endif  // LARKSPUR_APP_WIN32_DONATE_PICTURE_H_
