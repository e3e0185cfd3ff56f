// The donation button picture (assets/donate.jpg), compiled into the program
// so the window needs no file beside it. Callable from any thread.
#ifndef LARKSPUR_APP_QT_DONATE_PICTURE_H_
#define LARKSPUR_APP_QT_DONATE_PICTURE_H_

#include <string_view>

namespace larkspur {

// The JPEG bytes, 97 x 25 pixels; they live as long as the program.
std::string_view DonatePicture();

}  // namespace larkspur

#endif  // LARKSPUR_APP_QT_DONATE_PICTURE_H_
