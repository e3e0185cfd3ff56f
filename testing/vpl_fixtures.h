// Test helper: small checksum lists (.vpl) like those of the phone maker's
// firmware packages, and their bytes in each encoding and line end such
// lists come in. Header only, for the vpl tests and the fuzz seeds; the
// includer links larkspur_vpl and larkspur_rofs (whose UTF-16 conversion
// encodes the text, apart from the reader's own decoding).
#ifndef LARKSPUR_TESTING_VPL_FIXTURES_H_
#define LARKSPUR_TESTING_VPL_FIXTURES_H_

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "rofs/utf16.h"
#include "vpl/vpl_reader.h"

namespace larkspur::testing {

// A package's list: a declaration, a comment, a root with attributes,
// elements besides the <File>s, a <File> of each kind (a <Crc> in lower and
// in upper case, an empty <Crc/> and none for signed files), a name padded
// with blanks, one with an entity and one outside ASCII (a character
// outside the BMP among it).
inline constexpr char kPackageVplText[] =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<!-- RM-596 variant package -->\n"
    "<VariantPackage version=\"1.0\">\n"
    "  <Description lang=\"en\">RM-596 &amp; friends</Description>\n"
    "  <Files>\n"
    "    <File>\n"
    "      <Name>RM-596_11.0.027.rofs2.V20</Name>\n"
    "      <FileType>Binary</FileType>\n"
    "      <FileSubType>Ppm</FileSubType>\n"
    "      <Signed>false</Signed>\n"
    "      <Optional>false</Optional>\n"
    "      <Crc>c0d79d0d</Crc>\n"
    "    </File>\n"
    "    <File id=\"2\">\n"
    "      <Name> RM-596_11.0.027.uda.V1 </Name>\n"
    "      <FileSubType>MemoryCardContent</FileSubType>\n"
    "      <Crc type=\"crc32\">0A1B2C3D</Crc>\n"
    "    </File>\n"
    "    <File>\n"
    "      <Name>RM-596_11.0.027.dcp</Name>\n"
    "      <Signed>true</Signed>\n"
    "      <Crc/>\n"
    "    </File>\n"
    "    <File>\n"
    "      <Name>RM-596_signature.bin</Name>\n"
    "      <Signed>true</Signed>\n"
    "    </File>\n"
    "    <File>\n"
    "      <Name>Gr\xC3\xBC\xC3\x9F" "e &amp; \xF0\x9D\x84\x9E.txt</Name>\n"
    "      <Crc>89abcdef</Crc>\n"
    "    </File>\n"
    "  </Files>\n"
    "</VariantPackage>\n";

// Three <File>s and nothing around them: every cut after a </File> is a
// complete list of the entries before it.
inline constexpr char kFlatVplText[] =
    "<File><Name>a.rofs2.V1</Name><Crc>00000001</Crc></File>\n"
    "<File><Name>b.uda.V1</Name><Crc>ffffffff</Crc></File>\n"
    "<File><Name>c.bin</Name></File>\n";

// One way a .vpl is stored.
struct VplForm {
  vpl::VplEncoding encoding;
  bool crlf;          // line ends CR LF instead of LF
  const char* label;  // for test messages
};

inline constexpr VplForm kVplForms[] = {
    {vpl::VplEncoding::kUtf8, false, "UTF-8, LF"},
    {vpl::VplEncoding::kUtf8WithBom, true, "UTF-8 with BOM, CR LF"},
    {vpl::VplEncoding::kUtf16Le, true, "UTF-16 LE, CR LF"},
    {vpl::VplEncoding::kUtf16Le, false, "UTF-16 LE, LF"},
    {vpl::VplEncoding::kUtf16Be, false, "UTF-16 BE, LF"},
};

// `utf8` (with LF line ends, valid UTF-8) stored as `form` says, byte order
// mark included.
inline std::string EncodedVpl(std::string_view utf8, const VplForm& form) {
  std::string text;
  for (char c : utf8) {
    if (c == '\n' && form.crlf) text += '\r';
    text += c;
  }
  switch (form.encoding) {
    case vpl::VplEncoding::kUtf8:
      return text;
    case vpl::VplEncoding::kUtf8WithBom:
      return "\xEF\xBB\xBF" + text;
    case vpl::VplEncoding::kUtf16Le:
    case vpl::VplEncoding::kUtf16Be: {
      const bool little = form.encoding == vpl::VplEncoding::kUtf16Le;
      const std::optional<std::u16string> units = rofs::Utf8ToUtf16(text);
      if (!units) throw std::invalid_argument("EncodedVpl: the text is not UTF-8");
      std::string bytes = little ? "\xFF\xFE" : "\xFE\xFF";
      for (char16_t unit : *units) {
        const char low = static_cast<char>(unit & 0xFF);
        const char high = static_cast<char>(unit >> 8);
        bytes += little ? low : high;
        bytes += little ? high : low;
      }
      return bytes;
    }
  }
  return text;
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_VPL_FIXTURES_H_
