// The ROFS tree case: the whole `larkspur-cli repack` of a big ROFS firmware
// file, timed as a process from outside, against what the same bytes cost
// the system's own tools. Run by larkspur_bench after its other cases and
// alone by rofs_tree_bench.
//
// Generates a Symbian-like tree (20,000 files, 160 MB, a few hundred
// folders, mixed-case names, many small files and some large ones; the same
// bytes on every run), builds it into an N96 ROFS firmware file, extracts
// that once with larkspur-cli, then runs N rounds of two fresh processes:
//   baseline: tar of the extracted tree into a flushed file, then a durable
//             copy of the firmware file (dd bs=4M conv=fsync);
//   repack:   larkspur-cli --model n96 --home H repack FILE.
// Each round is preceded by a sync (untimed), so writeback left by one run
// does not land in the next. It prints the medians, the median of the
// ratios taken pair by pair (the repack less its fixed 1.5 s of pauses),
// the peak resident memory of the repack (larkspur-cli or the rofsbuild it
// runs, whichever is larger) against the image size, and digests of the
// outputs, which are equal across runs and builds when the outputs are the
// same bytes (the image's time stamp is fixed by SOURCE_DATE_EPOCH).
//
// Not a test: nothing here fails a build; the target lines say PASS or MISS.
// The timing runner needs POSIX (fork, wait4, tar, dd); the tree generator,
// WriteSymbianLikeTree, is plain C++.
#include "bench/rofs_tree_case.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_inputs.h"
#include "bench/bench_report.h"
#include "bench/phase_process.h"
#include "format/model_profile.h"
#include "port/files.h"

#ifdef __linux__
#include <unistd.h>
#endif

namespace larkspur::bench {

// What WriteSymbianLikeTree makes.
struct TreeShape {
  int file_count = 20'000;
  std::uint64_t total_bytes = 160'000'000;
  int folder_count = 300;
  std::uint64_t seed = 20240611;
};

struct TreeSummary {
  int files = 0;
  int folders = 0;  // below the root
  std::uint64_t bytes = 0;
  std::uint64_t largest = 0;
};

namespace {

namespace fs = std::filesystem;

// A small fixed generator, so the tree does not depend on the standard
// library's distributions.
class Lcg {
 public:
  explicit Lcg(std::uint64_t seed) : state_(seed) {}
  std::uint32_t Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state_ >> 33);
  }
  std::uint32_t Below(std::uint32_t bound) { return Next() % bound; }

 private:
  std::uint64_t state_;
};

// Pieces of names as a phone's ROM holds them.
constexpr std::array<const char*, 32> kStems = {
    "Akn",     "Calendar", "Phonebook", "Messaging", "Camera", "Browser", "Music", "Gallery",
    "Sms",     "Mms",      "Email",     "Bluetooth", "Wlan",   "Gps",     "Maps",  "Clock",
    "Notepad", "Profiles", "Themes",    "Settings",  "Voip",   "Radio",   "Video", "Contacts",
    "Logs",    "Connmgr",  "Ecom",      "Eik",       "Cone",   "Uikon",   "Avkon", "Skins"};
constexpr std::array<const char*, 16> kParts = {"Ui",   "Engine", "Server", "Client", "Plugin", "Util",
                                                "View", "Model",  "Store",  "Cache",  "Core",   "Handler",
                                                "Data", "Srv",    "Mgr",    "Ext"};
struct Kind {
  const char* extension;
  std::uint32_t weight;  // of 100
};
constexpr std::array<Kind, 12> kSmallKinds = {{{".dll", 24},
                                               {".rsc", 20},
                                               {".mif", 10},
                                               {".exe", 5},
                                               {".r01", 8},
                                               {".r02", 4},
                                               {".txt", 4},
                                               {".xml", 6},
                                               {".ini", 4},
                                               {".cre", 5},
                                               {".png", 6},
                                               {".mbm", 4}}};
constexpr std::array<const char*, 6> kLargeExtensions = {".sis", ".mp3", ".3gp", ".jpg", ".mbm", ".dat"};

// One spelling of `word` as ROMs mix them: as it is, lower case, upper
// case.
std::string Spelled(std::string word, std::uint32_t choice) {
  if (choice % 4 == 1) {
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  } else if (choice % 4 == 2) {
    for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  }
  return word;
}

std::string Folded(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// The folders: the usual top of a ROM drive, then private\<uid> folders of
// applications and folders below resource and data, up to `count`.
std::vector<std::string> MakeFolders(int count, Lcg& random) {
  std::vector<std::string> folders = {
      "sys",           "sys/bin",        "resource",      "resource/apps", "resource/plugins", "resource/skins",
      "resource/help", "resource/fonts", "private",       "data",          "data/sounds",      "data/Images",
      "System",        "System/data",    "system/Install"};
  std::set<std::string> taken;
  for (const std::string& folder : folders) taken.insert(Folded(folder));
  while (static_cast<int>(folders.size()) < count) {
    std::string folder;
    switch (random.Below(4)) {
      case 0: {  // an application's private folder, maybe with a subfolder
        char uid[16];
        std::snprintf(uid, sizeof uid, "%08x", 0x10200000u + random.Below(0xFFFFF));
        folder = std::string("private/") + (random.Below(2) ? uid : Spelled(uid, 2));
        if (random.Below(3) == 0) {
          if (taken.insert(Folded(folder)).second) folders.push_back(folder);
          folder += random.Below(2) ? "/import" : "/Data";
        }
        break;
      }
      case 1:
        folder = std::string(random.Below(2) ? "resource/" : "resource/apps/") +
                 Spelled(kStems[random.Below(kStems.size())], random.Next());
        break;
      case 2:
        folder = "resource/skins/" + std::to_string(0x101F8000 + random.Below(4096));
        break;
      default:
        folder = std::string(random.Below(2) ? "data/" : "System/data/") +
                 Spelled(std::string(kStems[random.Below(kStems.size())]) + kParts[random.Below(kParts.size())],
                         random.Next());
        break;
    }
    if (taken.insert(Folded(folder)).second) folders.push_back(folder);
  }
  return folders;
}

// The size of each file: mostly small (resources, icons, texts), a quarter
// of them a few KiB (libraries), half a percent large (packages, media:
// about half the bytes), a few empty; scaled so they add up to `total`.
std::vector<std::uint64_t> MakeSizes(int count, std::uint64_t total, Lcg& random) {
  std::vector<std::uint64_t> sizes(static_cast<std::size_t>(count));
  std::uint64_t sum = 0;
  for (std::uint64_t& size : sizes) {
    const std::uint32_t kind = random.Below(1000);
    if (kind < 3) {
      size = 0;
    } else if (kind < 8) {
      size = 256 * 1024 + random.Below(1024 * 1024);
    } else if (kind < 258) {
      size = 4 * 1024 + random.Below(16 * 1024);
    } else {
      size = 100 + random.Below(3900);
    }
    sum += size;
  }
  std::uint64_t scaled = 0;
  for (std::uint64_t& size : sizes) {
    size = size * total / sum;
    scaled += size;
  }
  // What rounding left goes to the largest file.
  *std::max_element(sizes.begin(), sizes.end()) += total - scaled;
  return sizes;
}

// Bytes that look like a Symbian binary: a UID header for executables and
// resources (the image copies the first 16 bytes of each file into its
// entry), then noise.
void FillContent(std::string& bytes, std::uint64_t size, const std::string& extension, Lcg& random) {
  bytes.resize(static_cast<std::size_t>(size));
  for (std::size_t at = 0; at < bytes.size(); at += 4) {
    const std::uint32_t word = random.Next();
    for (std::size_t i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<char>(word >> (8 * i));
  }
  if (size >= 16 && (extension == ".dll" || extension == ".exe" || extension == ".rsc")) {
    const std::uint32_t uid1 = extension == ".rsc" ? 0x101F4A6B : extension == ".dll" ? 0x10000079 : 0x1000007A;
    for (int i = 0; i < 4; ++i) bytes[static_cast<std::size_t>(i)] = static_cast<char>(uid1 >> (8 * i));
  }
}

}  // namespace

// Writes a tree like the rofs2 partition of a phone into `folder` (which
// must not exist yet or be empty): `shape.file_count` files of
// `shape.total_bytes` together in `shape.folder_count` folders (sys\bin
// holds the most files, as on a phone), names in mixed case, unique within
// a folder regardless of ASCII case as the image needs. The same bytes and
// names for the same shape on every run and platform. Throws
// FileCreateError when a file cannot be written.
TreeSummary WriteSymbianLikeTree(const std::string& folder, const TreeShape& shape) {
  Lcg random(shape.seed);
  const std::vector<std::string> folders = MakeFolders(shape.folder_count, random);
  const std::vector<std::uint64_t> sizes = MakeSizes(shape.file_count, shape.total_bytes, random);
  for (const std::string& relative : folders) fs::create_directories(fs::path(folder) / relative);

  // One set of folded names per folder, the root last.
  std::vector<std::set<std::string>> names(folders.size() + 1);
  // sys\bin takes a tenth of the files (at most what one ROFS folder's file
  // block holds), the root a few, the rest spread over the other folders.
  constexpr std::size_t kSysBin = 1;
  const auto sys_bin_files = static_cast<std::uint32_t>(std::min(shape.file_count / 10, 2500));
  TreeSummary summary;
  summary.folders = static_cast<int>(folders.size());
  std::string bytes;
  for (int index = 0; index < shape.file_count; ++index) {
    const std::uint64_t size = sizes[static_cast<std::size_t>(index)];
    const bool large = size >= 256 * 1024;
    std::size_t where;
    if (static_cast<std::uint32_t>(index) % 10 == 0 && static_cast<std::uint32_t>(index) / 10 < sys_bin_files) {
      where = kSysBin;
    } else if (index < 8) {
      where = folders.size();  // the root
    } else {
      where = 2 + random.Below(static_cast<std::uint32_t>(folders.size() - 2));
    }
    std::string extension;
    if (where == kSysBin) {
      extension = random.Below(8) == 0 ? ".exe" : ".dll";
    } else if (large) {
      extension = kLargeExtensions[random.Below(kLargeExtensions.size())];
    } else {
      std::uint32_t pick = random.Below(100);
      for (const Kind& kind : kSmallKinds) {
        if (pick < kind.weight) {
          extension = kind.extension;
          break;
        }
        pick -= kind.weight;
      }
      if (extension.empty()) extension = ".dat";
    }
    std::set<std::string>& used = names[where];
    std::string name;
    do {
      name = Spelled(std::string(kStems[random.Below(kStems.size())]) + kParts[random.Below(kParts.size())],
                     random.Next());
      if (random.Below(3) == 0) name += "_" + std::to_string(random.Below(1000));
      name += Spelled(extension, random.Below(3) == 0 ? 2 : 0);
    } while (!used.insert(Folded(name)).second);
    const fs::path path = where < folders.size() ? fs::path(folder) / folders[where] / name : fs::path(folder) / name;
    FillContent(bytes, size, extension, random);
    port::WriteNewFile(path.string(), {bytes});
    ++summary.files;
    summary.bytes += size;
    summary.largest = std::max(summary.largest, size);
  }
  return summary;
}

namespace {

constexpr double kBuildPauseSeconds = 1.5;  // buildrofs's three 500 ms pauses
constexpr double kTargetRatio = 1.3;
constexpr char kSourceDateEpoch[] = "1262304000";
// Runs `arguments` as a fresh process after a sync (untimed): writeback
// left by an earlier run is not this run's.
ProcessRun TimedProcess(const std::vector<std::string>& arguments, const std::string& log_path) {
#ifdef __linux__
  ::sync();
#endif
  return RunProcess(arguments, log_path);
}

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

}  // namespace

int RunRofsTreeCase(const RofsTreeOptions& options) {
  ::setenv("SOURCE_DATE_EPOCH", kSourceDateEpoch, 1);
  const std::string work = options.work;
  const std::string source_home = work + "source/";  // where the tree is generated and built
  const std::string home = work + "home/";           // larkspur-cli's program folder
  const std::string input = work + "inputs/RM-000_rofs_tree.rofs2.V1";
  const std::string cli = options.programs + "larkspur-cli";
  for (const std::string& folder : {source_home, home}) {
    for (const char* sub : {"exebat", "temp", "rofs2", "fat16"}) fs::create_directories(folder + sub);
    for (const char* tool : {"readimage", "rofsbuild"}) {
      fs::copy_file(options.programs + "exebat/" + tool, folder + "exebat/" + tool,
                    fs::copy_options::overwrite_existing);
    }
  }
  fs::create_directories(work + "inputs");

  const TreeShape shape;
  auto start = std::chrono::steady_clock::now();
  const TreeSummary tree = WriteSymbianLikeTree(source_home + "rofs2", shape);
  // Room for the image's entries and padding, then up to a whole MiB.
  const std::uint64_t room = tree.bytes + 96 * static_cast<std::uint64_t>(tree.files) + (4 << 20);
  const std::uint64_t file_size = (room + (1 << 20) - 1) / (1 << 20) * (1 << 20);
  WriteRofsFirmware(source_home, input, kN96ModelIndex, file_size);
  std::cout << "\nROFS tree case: " << tree.files << " files, " << tree.bytes << " bytes (largest " << tree.largest
            << "), " << tree.folders << " folders; firmware file " << file_size << " bytes, N96 profile; generated in "
            << std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() << " s\n"
            << "  programs " << options.programs << "; work folder " << work << "; " << options.repeat
            << " rounds, each a fresh baseline process then a fresh repack process, a sync before each\n";

  const std::string log = work + "run.log";
  TimedProcess({cli, "--model", "n96", "--home", home, "extract", input}, log);

  const std::string tar_file = work + "baseline-tree.tar";
  const std::string copy_file = work + "baseline-copy";
  const std::string baseline_script = "tar -cf " + Quoted(tar_file) + " -C " + Quoted(home) + " rofs2 && sync " +
                                      Quoted(tar_file) + " && dd if=" + Quoted(input) + " of=" + Quoted(copy_file) +
                                      " bs=4M conv=fsync status=none";
  std::vector<double> baseline_seconds, repack_seconds, ratios;
  std::uint64_t repack_peak = 0;
  for (int round = 0; round < options.repeat; ++round) {
    const ProcessRun baseline = TimedProcess({"sh", "-c", baseline_script}, log);
    const ProcessRun repack = TimedProcess({cli, "--model", "n96", "--home", home, "repack", input}, log);
    baseline_seconds.push_back(baseline.seconds);
    repack_seconds.push_back(repack.seconds);
    ratios.push_back((repack.seconds - kBuildPauseSeconds) / baseline.seconds);
    repack_peak = std::max(repack_peak, repack.peak_bytes);
    std::printf("  round %d: baseline %.3f s, repack %.3f s (%.3f s without the pauses), ratio %.2f\n", round + 1,
                baseline.seconds, repack.seconds, repack.seconds - kBuildPauseSeconds, ratios.back());
    std::fflush(stdout);
  }

  const std::string image = home + "temp/rofs2r.img";
  const auto image_size = static_cast<double>(fs::file_size(image));
  const double median_ratio = MedianOf(ratios);
  std::printf("\n  %-58s %8.3f s\n", "baseline: tar of the tree, flushed + dd bs=4M conv=fsync",
              MedianOf(baseline_seconds));
  std::printf("  %-58s %8.3f s\n", "larkspur-cli repack", MedianOf(repack_seconds));
  std::printf("  %-58s %8.3f s\n", "  the same less the fixed 3 x 500 ms pauses",
              MedianOf(repack_seconds) - kBuildPauseSeconds);
  std::printf("  %-58s %8.2f x\n", "repack less pauses / baseline (median of the pairs)", median_ratio);
  std::printf("  %-58s %8.1f MiB (%.2f x the image, image + %.1f MiB)\n", "repack peak resident memory",
              static_cast<double>(repack_peak) / (1 << 20), static_cast<double>(repack_peak) / image_size,
              (static_cast<double>(repack_peak) - image_size) / (1 << 20));
  std::cout << "\nTargets\n";
  PrintTarget(std::cout, "repack less pauses against the baseline", median_ratio, kTargetRatio, true, "x");
  std::cout << "\nOutput digests (equal across runs and builds when the outputs are the same bytes)\n"
            << "  rofs2r.img  " << ContentDigest(image) << "\n"
            << "  REB file    " << ContentDigest(home + "REB-" + fs::path(input).filename().string()) << "\n";
  if (!options.keep) fs::remove_all(work);
  return 0;
}

}  // namespace larkspur::bench
