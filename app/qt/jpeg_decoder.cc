#include "app/qt/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first

#include <jpeglib.h>

namespace larkspur {
namespace {

// libjpeg's own error handler ends the process; this one jumps back to the
// decoding routine with the message, which then throws.
struct ErrorManager {
  jpeg_error_mgr base;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void ErrorExit(j_common_ptr info) {
  ErrorManager* manager = reinterpret_cast<ErrorManager*>(info->err);
  (*info->err->format_message)(info, manager->message);
  std::longjmp(manager->jump, 1);
}

void EmitMessage(j_common_ptr info, int level) {
  // Level -1 is a warning about corrupt or truncated data; libjpeg would
  // fill in grey and go on, but a damaged picture must not pass as good.
  if (level < 0) ErrorExit(info);
}

// Everything between setjmp and a possible longjmp lives here. It writes
// only through references into the caller's frame, so after the jump no
// local of this frame is read again, and it creates no object with a
// destructor that the jump could skip. Returns false with `errors.message`
// set when the picture cannot be decoded.
bool DecodeInto(jpeg_decompress_struct& info, ErrorManager& errors, std::string_view bytes,
                RgbPicture& out) {
  info.err = jpeg_std_error(&errors.base);
  errors.base.error_exit = ErrorExit;
  errors.base.emit_message = EmitMessage;
  errors.message[0] = '\0';
  if (setjmp(errors.jump)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()),
               static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  // The output size is known only now; bound it before the buffer is made.
  if (info.output_width > kMaxPictureSide || info.output_height > kMaxPictureSide) {
    std::snprintf(errors.message, sizeof errors.message, "It is %u x %u pixels, more than %d in a direction",
                  info.output_width, info.output_height, kMaxPictureSide);
    jpeg_destroy_decompress(&info);
    return false;
  }
  if (info.output_components != 3) {
    std::snprintf(errors.message, sizeof errors.message, "It decodes to %d colour components, not 3",
                  info.output_components);
    jpeg_destroy_decompress(&info);
    return false;
  }
  out.width = static_cast<int>(info.output_width);
  out.height = static_cast<int>(info.output_height);
  const std::size_t row_size = std::size_t{info.output_width} * 3;
  out.pixels.resize(row_size * info.output_height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.pixels.data() + row_size * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

}  // namespace

PictureError::PictureError(const std::string& name, const std::string& reason)
    : Error("Cannot decode picture \"" + name + "\". " + reason) {}

RgbPicture DecodeJpeg(std::string_view bytes, const std::string& name) {
  // jpeg_mem_src treats an empty buffer as a fatal misuse with a message
  // that says nothing about the picture.
  if (bytes.empty()) throw PictureError(name, "The data is empty");
  jpeg_decompress_struct info{};
  ErrorManager errors{};
  RgbPicture picture;
  if (!DecodeInto(info, errors, bytes, picture)) throw PictureError(name, errors.message);
  return picture;
}

}  // namespace larkspur
