#include "rofs/host_names.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

namespace larkspur::rofs {
namespace {

// HostPathBelow joins as operator/ does, whatever the separators and
// whether the folder ends in one or the path is absolute.
TEST(HostNamesTest, HostPathBelowJoinsAsOperatorSlashDoes) {
  namespace fs = std::filesystem;
  const fs::path base = fs::temp_directory_path() / "tool";
  for (const fs::path& folder : {base, base / ""}) {
    for (const std::string bytes : {"..\\rofs2\\sys\\bin\\a.dll", "../rofs2/x", "a.txt", "d\\e/f", "/abs/f"}) {
      SCOPED_TRACE(folder.string() + " + " + bytes);
      EXPECT_EQ(HostPathBelow(folder, bytes), (folder / HostPathFromBytes(bytes)).native());
    }
  }
}

}  // namespace
}  // namespace larkspur::rofs
