// A FAT long name Windows cannot hold stops the plan of an extraction, before
// anything is written, with the rule it breaks.
#include <gtest/gtest.h>

#include "fat/fat_extract.h"
#include "rofs/rofs_errors.h"

namespace larkspur::fat {
namespace {

TEST(FatExtractWin32Test, ALongNameWindowsCannotHoldIsRefusedWithItsRule) {
  FatVolume volume;
  FatFolder folder;
  folder.name = u"\u041F\u0430\u043F\u043A\u0430";  // held: Cyrillic, whatever the code page
  folder.entry_offset = 0x2A20;
  FatFile file;
  file.name = u"report.";
  file.entry_offset = 0x4A40;
  folder.files.push_back(file);
  volume.root.folders.push_back(folder);
  try {
    PlanFatExtraction(volume, "fat16.img");
    ADD_FAILURE() << "planned";
  } catch (const rofs::FormatError& error) {
    EXPECT_EQ(std::string(error.what()),
              "fat16.img: FAT directory entry at 0x4A40: name \"report.\" cannot be extracted: this system's file "
              "names cannot hold it: Windows drops a dot at the end of a file name");
  }
}

}  // namespace
}  // namespace larkspur::fat
