// Every Extract and Repack is all or nothing when the disk fails: the Nth
// call that changes a file or folder fails with "no space left" or "I/O
// error", for every N of a run, and the run either gives its whole result
// or leaves the program folder exactly as it was (and says why); a plain
// run afterwards gives the whole result. The ROFS tools' work is done in
// this process, so their files count too. POSIX: the disk's failures are
// made by port/faults.h, which counts the POSIX calls.
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <functional>

#include "pipeline/extract.h"
#include "pipeline/opened_file.h"
#include "pipeline/repack.h"
#include "pipeline/run_lock.h"
#include "port/faults.h"
#include "testing/fat_oracles.h"
#include "testing/firmware_fixture.h"
#include "testing/rofs_images.h"
#include "testing/scratch_folder.h"
#include "testing/tree_snapshot.h"

namespace larkspur::pipeline {
namespace {

namespace fs = std::filesystem;

class QuietReporter : public Reporter {
 public:
  void Log(const Text& line) override { last = line.key; }
  void Progress(const std::optional<Text>&) override {}
  void UnableToRun(const std::string&) override {}
  bool Confirm(const Text&) override { return false; }
  std::string last;
};

// A copy of a program folder, times kept (the record of the folder uda and
// the FAT image rebuilt from it hold them).
void CopyTree(const fs::path& from, const fs::path& to) {
  fs::create_directories(to);
  std::vector<fs::path> folders;
  for (const auto& entry : fs::recursive_directory_iterator(from)) {
    const fs::path target = to / fs::relative(entry.path(), from);
    if (entry.is_directory()) {
      fs::create_directories(target);
      folders.push_back(entry.path());
    } else {
      fs::copy_file(entry.path(), target);
      fs::last_write_time(target, fs::last_write_time(entry.path()));
    }
  }
  // A folder's time changes with what is made in it: set last, inner first.
  for (auto folder = folders.rbegin(); folder != folders.rend(); ++folder) {
    fs::last_write_time(to / fs::relative(*folder, from), fs::last_write_time(*folder));
  }
}

// What a program folder holds, but for the stamp of fat16.img, whose time
// is the moment the image was written.
std::map<std::string, std::string> StateOf(const fs::path& home) {
  std::map<std::string, std::string> state = testing::TreeOf(home);
  if (state.count("temp/fat16.stamp")) state["temp/fat16.stamp"] = "(a stamp)";
  return state;
}

// The paths where two states differ, for a message that fits on a screen.
std::string Difference(const std::map<std::string, std::string>& actual,
                       const std::map<std::string, std::string>& expected) {
  std::string paths;
  for (const auto& [path, content] : actual) {
    const auto other = expected.find(path);
    if (other == expected.end())
      paths += " +" + path;
    else if (other->second != content)
      paths += " ~" + path;
  }
  for (const auto& [path, content] : expected) {
    if (!actual.count(path)) paths += " -" + path;
  }
  return paths;
}

enum class Command { kExtract, kRepack };

struct Scenario {
  const char* label;
  std::string firmware;  // the file the run works on
  std::string name;
  int model;
  Command command;
  // Makes the program folder the run starts from.
  std::function<void(const fs::path& home, const std::string& firmware)> arrange;
  // Repack: the flashable folder it writes, in the program folder (so that
  // it counts in what the run changed); none when null.
  const char* package_folder = nullptr;
};

// Open, then the command, as the command line runs them. The outcome, or
// the error that ended the run.
std::string RunCommand(const fs::path& home, const std::string& firmware, const Scenario& scenario, bool& done) {
  const Workspace workspace((home / "").string());
  QuietReporter reporter;
  InProcessRofsTools tools;
  done = false;
  try {
    TakenLock lock = TakeRunLock(workspace);
    if (!lock.lock) return lock.refusal->key;
    OpenedFile file = OpenFirmware(firmware, std::nullopt, scenario.model, reporter);
    RepackOptions options;
    if (scenario.package_folder != nullptr) options.package_to = (home / scenario.package_folder).string();
    const Outcome outcome = scenario.command == Command::kExtract
                                ? Extract(file, scenario.model, workspace, tools, reporter)
                                : Repack(file, scenario.model, workspace, tools, reporter, options).outcome;
    done = outcome.done();
    if (outcome.refusal) return outcome.refusal->key;
    return done ? "" : reporter.last;
  } catch (const std::exception& error) {
    return error.what();
  }
}

std::string SmallRofsFirmware(const std::string& text) {
  const std::vector<std::uint8_t> image =
      testing::BuildInMemory({{"readme.txt", text}, {"sys\\bin\\app.exe", "app " + text}, {"resource\\a.rsc", "rsc"}});
  std::string stream = std::string(3072, '\0') + std::string(image.begin(), image.end());
  stream.append((256 - stream.size() % 256) % 256, '\xFF');
  return testing::MakeFirmware({.model = 1, .prefix = "HEAD", .n96_short_first_block = true}, stream);
}

std::string SmallUdaFirmware(const fs::path& scratch, const std::string& text) {
  const fs::path image = scratch / "fat.img";
  fs::remove(image);
  testing::MakeFatImage(image, 12, 512);
  const fs::path note = scratch / "note.txt";
  testing::PutFile(scratch, "note.txt", text);
  testing::RunOracle("mcopy", {"-i", image.string(), note.string(), "::/note.txt"});
  testing::RunOracle("mmd", {"-i", image.string(), "::/music"});
  testing::RunOracle("mcopy", {"-i", image.string(), note.string(), "::/music/song.txt"});
  std::ifstream in(image, std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), {});
  return testing::MakeFirmware({.uda = true, .prefix = "UDAHEAD"}, bytes);
}

// Where the trials go: each run flushes its files, and a run for each of
// its calls and two errors flushes some thousands, which a disk takes
// minutes for. In memory (/dev/shm, where there is one) they cost nothing;
// the failures are made by counting calls, not by the disk.
std::filesystem::path TrialsParent() {
  std::error_code error;
  if (fs::is_directory("/dev/shm", error)) return "/dev/shm";
  return fs::temp_directory_path();
}

TEST(DiskFaultsTest, EveryRunIsAllOrNothingWhateverCallOfTheDiskFails) {
  testing::ScratchFolder scratch;
  const std::string rofs = SmallRofsFirmware("new");
  const std::string earlier_rofs = SmallRofsFirmware("earlier");
  const std::string uda = SmallUdaFirmware(scratch.root(), "new");
  const std::string earlier_uda = SmallUdaFirmware(scratch.root(), "earlier");
  // An earlier Extract of another file left its tree, image and records,
  // and an earlier Repack its REB- file.
  const auto earlier_extract = [](const std::string& bytes, const std::string& name, int model) {
    return [=](const fs::path& home, const std::string&) {
      const fs::path earlier = home.parent_path() / name;
      std::ofstream(earlier, std::ios::binary) << bytes;
      const Workspace workspace((home / "").string());
      QuietReporter reporter;
      InProcessRofsTools tools;
      OpenedFile file = OpenFirmware(earlier.string(), std::nullopt, model, reporter);
      ASSERT_TRUE(Extract(file, model, workspace, tools, reporter).done());
      std::ofstream(home / ("REB-" + name), std::ios::binary) << "earlier output";
    };
  };
  const auto extracted = [](const std::string& edit) {
    return [=](const fs::path& home, const std::string& firmware) {
      const Workspace workspace((home / "").string());
      QuietReporter reporter;
      InProcessRofsTools tools;
      OpenedFile file =
          OpenFirmware(firmware, std::nullopt, firmware.find("uda") != std::string::npos ? 0 : 1, reporter);
      ASSERT_TRUE(Extract(file, file.kind == PartitionKind::kUda ? 0 : 1, workspace, tools, reporter).done());
      testing::PutFile(home, edit, "the user's edit");
      std::ofstream(home / ("REB-" + fs::path(firmware).filename().string()), std::ios::binary) << "earlier output";
    };
  };
  const Scenario scenarios[] = {
      {"ROFS Extract over an earlier one", rofs, "fw.rofs2.V1", 1, Command::kExtract,
       earlier_extract(earlier_rofs, "old.rofs2.V1", 1)},
      {"UDA Extract over an earlier one", uda, "fw.uda.fpsx", 0, Command::kExtract,
       earlier_extract(earlier_uda, "old.uda.fpsx", 0)},
      {"ROFS Repack of an edited tree", rofs, "fw.rofs2.V1", 1, Command::kRepack, extracted("rofs2/added.txt")},
      {"UDA Repack of an edited folder", uda, "fw.uda.fpsx", 0, Command::kRepack, extracted("uda/added.txt")},
      // The package's checksum list goes beside the REB- file, and a copy of
      // the package into a folder of its own.
      {"UDA Repack into a flashable folder", uda, "fw.uda.fpsx", 0, Command::kRepack,
       [extracted](const fs::path& home, const std::string& firmware) {
         std::ofstream(fs::path(firmware).parent_path() / "fw.vpl", std::ios::binary)
             << "<Files><File><Name>fw.uda.fpsx</Name><Crc>00000000</Crc></File></Files>";
         extracted("uda/added.txt")(home, firmware);
       },
       "flash"},
  };
  for (const Scenario& scenario : scenarios) {
    SCOPED_TRACE(scenario.label);
    testing::ScratchFolder work(TrialsParent());
    const std::string firmware = work.Write(scenario.name, scenario.firmware);
    const fs::path start = work.root() / "start" / "home";
    for (const char* folder : {"exebat", "temp", "rofs2", "fat16"}) fs::create_directories(start / folder);
    scenario.arrange(start, firmware);
    const auto before = StateOf(start);

    // The whole run, counted.
    const fs::path clean = work.root() / "clean" / "home";
    CopyTree(start, clean);
    bool done = false;
    port::SetFileChangeFault(0, 0);
    const std::string said = RunCommand(clean, firmware, scenario, done);
    ASSERT_TRUE(done) << said;
    const std::uint64_t calls = port::FileChangesCounted();
    const auto after = StateOf(clean);
    ASSERT_NE(after, before);
    ASSERT_GT(calls, 10u);

    std::size_t failed_runs = 0;
    for (std::uint64_t n = 1; n <= calls; ++n) {
      for (const int error_number : {ENOSPC, EIO}) {
        const fs::path trial =
            work.root() / ("trial-" + std::to_string(n) + "-" + std::to_string(error_number)) / "home";
        CopyTree(start, trial);
        port::SetFileChangeFault(n, error_number);
        const std::string reason = RunCommand(trial, firmware, scenario, done);
        port::SetFileChangeFault(0, 0);
        if (done) {
          EXPECT_EQ(Difference(StateOf(trial), after), "") << "call " << n << " failed, the run said it was done";
        } else {
          ++failed_runs;
          EXPECT_EQ(Difference(StateOf(trial), before), "") << "call " << n << " failed: " << reason;
          EXPECT_FALSE(reason.empty()) << "call " << n << " failed without a word";
        }
        // A plain run afterwards gives the whole result.
        ASSERT_EQ(RunCommand(trial, firmware, scenario, done), "") << "call " << n;
        EXPECT_TRUE(done);
        EXPECT_EQ(Difference(StateOf(trial), after), "") << "the plain run after call " << n << " failed";
        fs::remove_all(trial.parent_path());
      }
    }
    // Nearly every call's failure is one the run must report.
    EXPECT_GT(failed_runs, calls);
  }
}

}  // namespace
}  // namespace larkspur::pipeline
