#include "fat/folder_record.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "testing/fat_oracles.h"
#include "testing/scratch_folder.h"
#include "testing/tree_snapshot.h"

namespace larkspur::fat {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;
using testing::PutFile;

void MakeTree(const fs::path& folder) {
  PutFile(folder, "a.txt", "alpha");
  PutFile(folder, "sub/b.bin", "beta");
  PutFile(folder, "sub/deeper/c", "");
  fs::create_directories(folder / "empty");
}

TEST(FolderRecordTest, AnUntouchedFolderMatchesItsRecord) {
  ScratchFolder temp;
  MakeTree(temp.root());
  const std::string record = RecordFolderState(temp.root());
  EXPECT_TRUE(FolderMatchesRecord(temp.root(), record));
  EXPECT_EQ(record.substr(0, record.find('\n')), "larkspur folder record 1");
  EXPECT_NE(record.find("\nd sub/deeper\n"), std::string::npos) << record;
  EXPECT_NE(record.find(" sub/b.bin\n"), std::string::npos) << record;
}

TEST(FolderRecordTest, EveryKindOfEditIsSeen) {
  const struct {
    const char* label;
    void (*edit)(const fs::path&);
  } cases[] = {
      {"content of another size", [](const fs::path& f) { PutFile(f, "a.txt", "alphabet"); }},
      {"a new time", [](const fs::path& f) {
         fs::last_write_time(f / "a.txt", fs::last_write_time(f / "a.txt") - std::chrono::seconds(10));
       }},
      {"a new file", [](const fs::path& f) { PutFile(f, "sub/new.txt", ""); }},
      {"a new empty folder", [](const fs::path& f) { fs::create_directories(f / "sub" / "new"); }},
      {"a removed file", [](const fs::path& f) { fs::remove(f / "sub" / "deeper" / "c"); }},
      {"a removed folder", [](const fs::path& f) { fs::remove(f / "empty"); }},
      {"a renamed file", [](const fs::path& f) { fs::rename(f / "a.txt", f / "renamed.txt"); }},
#ifndef _WIN32
      // Under wine a rename that changes only the case changes nothing.
      {"a name with another case", [](const fs::path& f) { fs::rename(f / "a.txt", f / "A.txt"); }},
#endif
  };
  for (const auto& c : cases) {
    ScratchFolder temp;
    MakeTree(temp.root());
    const std::string record = RecordFolderState(temp.root());
    c.edit(temp.root());
    EXPECT_FALSE(FolderMatchesRecord(temp.root(), record)) << c.label;
  }
}

TEST(FolderRecordTest, ARecordOfAnotherFormOrAMissingFolderNeverMatches) {
  ScratchFolder temp;
  MakeTree(temp.root());
  const std::string record = RecordFolderState(temp.root());
  EXPECT_FALSE(FolderMatchesRecord(temp.root(), ""));
  EXPECT_FALSE(FolderMatchesRecord(temp.root(), "larkspur folder record 2\n" + record.substr(record.find('\n') + 1)));
  EXPECT_FALSE(FolderMatchesRecord(temp.root() / "gone", record));
}

}  // namespace
}  // namespace larkspur::fat
