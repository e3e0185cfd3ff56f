# cmake -DINPUT=picture -DOUTPUT=file.cc -DFUNCTION=Name -DHEADER=app/qt/x.h -P embed_picture.cmake
# Writes a source file whose FUNCTION() returns the bytes of INPUT.
file(READ "${INPUT}" hex HEX)
string(LENGTH "${hex}" hex_length)
if(hex_length EQUAL 0)
  message(FATAL_ERROR "Picture \"${INPUT}\" is empty")
endif()
# Sixteen bytes a line keeps the generated file readable.
set(bytes "")
set(line_start 0)
while(line_start LESS hex_length)
  string(SUBSTRING "${hex}" ${line_start} 32 line)
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," line "${line}")
  string(APPEND bytes "    ${line}\n")
  math(EXPR line_start "${line_start} + 32")
endwhile()
get_filename_component(input_name "${INPUT}" NAME)
file(WRITE "${OUTPUT}"
"// Generated from ${input_name} by embed_picture.cmake; do not edit.
#include \"${HEADER}\"

namespace larkspur {
namespace {

const unsigned char kBytes[] = {
${bytes}};

}  // namespace

std::string_view ${FUNCTION}() {
  return std::string_view(reinterpret_cast<const char*>(kBytes), sizeof kBytes);
}

}  // namespace larkspur
")
