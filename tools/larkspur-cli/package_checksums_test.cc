#include "tools/larkspur-cli/package_checksums.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/texts.h"
#include "port/errors.h"
#include "port/files.h"
#include "testing/scratch_folder.h"
#include "testing/test_bytes.h"

namespace larkspur {
namespace {

using testing::PatternBytes;

// The firmware file's bytes, and Python's zlib.crc32 of them printed once
// with "%08x" (PatternBytes by a Python copy of it).
const std::string kFirmware = PatternBytes(1000, 11);
constexpr char kFirmwareCrc[] = "2a1a2703";

std::string ListGiving(const std::string& crc) {
  return "<?xml version=\"1.0\"?>\r\n<Files>\r\n  <File>\r\n    <Name>RM-596.rofs2.V20</Name>\r\n    <Crc>" + crc +
         "</Crc>\r\n  </File>\r\n</Files>\r\n";
}

TEST(PackageChecksumsTest, InfoSaysWhetherTheListMatchesTheFile) {
  const struct {
    const char* label;
    const char* vpl;  // the list's name; none when null
    std::string vpl_text;
    bool passes;
    std::string line;
  } kCases[] = {
      {"right", "RM-596.vpl", ListGiving(kFirmwareCrc), true, "RM-596.vpl gives 2a1a2703: right"},
      {"right in upper case", "RM-596.vpl", ListGiving("2A1A2703"), true, "RM-596.vpl gives 2a1a2703: right"},
      {"wrong", "RM-596.vpl", ListGiving("c0d79d0d"), false,
       "RM-596.vpl gives c0d79d0d, the file has 2a1a2703: wrong, the flasher refuses the file"},
      {"no checksum", "RM-596.vpl", ListGiving(""), true, "RM-596.vpl lists it without a checksum (<Crc> \"\")"},
      {"no list", nullptr, "", true, "no .vpl in the folder lists it"},
      {"a broken list", "RM-596.vpl", "<Files>", true, "cannot tell: @RM-596.vpl at byte 0x0: <Files> without </Files>"},
  };
  for (const auto& test : kCases) {
    SCOPED_TRACE(test.label);
    testing::ScratchFolder scratch;
    const std::string firmware = scratch.Write("pkg/RM-596.rofs2.V20", kFirmware);
    if (test.vpl != nullptr) scratch.Write("pkg/" + std::string(test.vpl), test.vpl_text);
    std::ostringstream out;
    SetLanguage(Language::kEnglish);
    EXPECT_EQ(PrintPackageChecksum(out, firmware), test.passes);
    SetLanguage(Language::kChinese);
    std::string line = test.line;
    if (const auto at = line.find('@'); at != std::string::npos) {
      line.replace(at, 1, port::JoinPath(scratch.Path("pkg"), ""));
    }
    EXPECT_EQ(out.str(), std::string("crc32:          ") + kFirmwareCrc + "\nchecksum list:  " + line + "\n");
  }
}

// In Chinese the labels and the verdict are Chinese, with the same values.
TEST(PackageChecksumsTest, ChineseSaysItInChinese) {
  testing::ScratchFolder scratch;
  const std::string firmware = scratch.Write("pkg/RM-596.rofs2.V20", kFirmware);
  scratch.Write("pkg/RM-596.vpl", ListGiving("c0d79d0d"));
  std::ostringstream out;
  SetLanguage(Language::kChinese);
  EXPECT_FALSE(PrintPackageChecksum(out, firmware));
  EXPECT_EQ(out.str(), std::string("CRC-32 校验值:  ") + kFirmwareCrc +
                           "\n校验清单:       RM-596.vpl 给出 c0d79d0d, 文件的是 " + kFirmwareCrc +
                           ": 错误, 刷机程序会拒绝这个文件\n");
}

}  // namespace
}  // namespace larkspur
