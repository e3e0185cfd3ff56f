// On Windows a firmware file that another program holds open cannot be
// loaded: Open must say so with the system's reason, not read a file that
// may be changing under it.
#include <gtest/gtest.h>

#include <filesystem>

#include "format/load_file_bytes.h"
#include "port/errors.h"
#include "port/files.h"
#include "port/process.h"
#include "testing/scratch_folder.h"
#include "testing/stand_in_tool.h"

namespace larkspur {
namespace {

constexpr unsigned long kSharingViolation = 32;  // ERROR_SHARING_VIOLATION

TEST(LoadFileBytesWin32Test, AFileHeldOpenByAnotherProgramThrowsFileOpenError) {
  testing::ScratchFolder folder;
  const std::string path = folder.Write("RM-356.rofs2.V21", "firmware");
  testing::InstallStandInTool(folder.path(), "holder", "hold $1 3");
  const port::ProcessOutcome holder =
      port::RunCommandLine("\"" + folder.Path("holder.exe") + "\" \"" + path + "\"", false);
  ASSERT_TRUE(holder.started) << holder.reason;
  for (int i = 0; i < 200 && !folder.Exists("RM-356.rofs2.V21.held"); ++i) port::SleepMilliseconds(10);
  ASSERT_TRUE(folder.Exists("RM-356.rofs2.V21.held"));

  ByteString dest = "kept";
  try {
    LoadFileBytes(path, dest);
    FAIL() << "no error";
  } catch (const FileOpenError& error) {
    EXPECT_EQ(std::string(error.what()),
              "Cannot open file \"" + path + "\". " + port::WindowsErrorText(kSharingViolation));
  }
  EXPECT_EQ(dest, "kept");

  // Once the other program lets go, the file loads.
  for (int i = 0; i < 500; ++i) {
    try {
      if (LoadFileBytes(path, dest)) break;
    } catch (const FileOpenError&) {
      port::SleepMilliseconds(20);
    }
  }
  EXPECT_EQ(dest, "firmware");
}

}  // namespace
}  // namespace larkspur
