// Fuzz target for the obey parser and the layout of what it accepts: any
// text must give a layout or an ObeyError, never a crash or a hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_errors.h"
#include "rofs/rofs_writer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  try {
    const larkspur::rofs::ObeyFile obey = larkspur::rofs::ParseObey(text, "fuzz.obey");
    larkspur::rofs::ImageSpec spec = larkspur::rofs::SpecFromObey(obey, 0);
    for (auto& file : spec.files) file.size = file.line * 3;
    volatile std::uint32_t image_size = larkspur::rofs::LayOutImage(spec).image_size;
    (void)image_size;
  } catch (const larkspur::rofs::RofsError&) {
  }
  return 0;
}
