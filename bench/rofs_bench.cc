// rofs_bench [WORK_FOLDER]: times building and extracting a ROFS image of a
// generated tree (about 4,000 files, 64 MiB) with the ROFS library, next to
// "cp -r" of the same tree, and prints the peak memory. The tree is the
// same on every run. A timing program, not a test: it checks only that the
// extracted tree came back complete.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#endif

#include "rofs/image_file.h"
#include "rofs/obey_build.h"
#include "rofs/obey_parser.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_reader.h"

namespace {

namespace fs = std::filesystem;

constexpr int kFileCount = 4000;
constexpr std::uint64_t kTotalBytes = 64ull << 20;
constexpr int kFolderCount = 160;

// A small fixed generator, so the tree does not depend on the library's
// distributions.
struct Lcg {
  std::uint64_t state;
  std::uint32_t Next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<std::uint32_t>(state >> 33);
  }
};

double Seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

long PeakRssKiB() {
#if defined(__unix__) || defined(__APPLE__)
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
#if defined(__APPLE__)
  return usage.ru_maxrss / 1024;
#else
  return usage.ru_maxrss;
#endif
#else
  return -1;
#endif
}

// Writes rofs2/ under `root` and returns the obey text that lists it the way
// the obey generator does.
std::string GenerateTree(const fs::path& root) {
  Lcg random{20240101};
  std::vector<std::string> folders;
  for (int i = 0; i < kFolderCount; ++i) {
    std::string folder = i < 8 ? "" : folders[random.Next() % folders.size()];
    if (std::count(folder.begin(), folder.end(), '\\') >= 3) folder.clear();
    folder += "dir" + std::to_string(i) + "\\";
    folders.push_back(folder);
  }
  std::vector<std::uint64_t> sizes(kFileCount);
  std::uint64_t total = 0;
  for (auto& size : sizes) {
    // Mostly small files with a few large ones, as in a firmware tree.
    size =
        random.Next() % 16 == 0 ? 64 * 1024 + random.Next() % (256 * 1024) : random.Next() % 12000;
    total += size;
  }
  // Scale to the exact total.
  std::uint64_t scaled_total = 0;
  for (auto& size : sizes) {
    size = size * kTotalBytes / total;
    scaled_total += size;
  }
  sizes.back() += kTotalBytes - scaled_total;

  std::string obey = "rofsname=rofs2r.img\r\nrofssize=0x10000000\r\n";
  std::vector<char> data;
  for (int i = 0; i < kFileCount; ++i) {
    const std::string relative =
        folders[random.Next() % folders.size()] + "file" + std::to_string(i) + ".bin";
    std::string host = relative;
    for (char& c : host) c = c == '\\' ? '/' : c;
    const fs::path path = root / "rofs2" / host;
    fs::create_directories(path.parent_path());
    data.resize(sizes[i]);
    for (char& c : data) c = static_cast<char>(random.Next());
    std::ofstream(path, std::ios::binary)
        .write(data.data(), static_cast<std::streamsize>(data.size()));
    obey += "data=\"..\\rofs2\\" + relative + "\" \"" + relative + "\"\r\n";
  }
  return obey;
}

std::uint64_t CountFiles(const fs::path& folder, std::uint64_t& bytes) {
  std::uint64_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file()) ++files, bytes += entry.file_size();
  }
  return files;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path work =
      argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "larkspur-rofs-bench";
  fs::remove_all(work);
  fs::create_directories(work / "exebat");
  fs::create_directories(work / "temp");

  auto start = std::chrono::steady_clock::now();
  const std::string obey_text = GenerateTree(work);
  std::printf("generated %d files, %.1f MiB in %.2f s (%s)\n", kFileCount, kTotalBytes / 1048576.0,
              Seconds(start), work.string().c_str());

  start = std::chrono::steady_clock::now();
  const larkspur::rofs::ObeyFile obey = larkspur::rofs::ParseObey(obey_text, "rofs2.obey");
  const larkspur::rofs::BuildResult built =
      larkspur::rofs::BuildImageFromObey(obey, work / "exebat", 0);
  const double build_seconds = Seconds(start);
  const long rss_after_build = PeakRssKiB();
  std::printf("build:   %.3f s  %.1f MiB/s  image %u bytes  peak RSS %ld KiB\n", build_seconds,
              built.image_size / 1048576.0 / build_seconds, built.image_size, rss_after_build);

  start = std::chrono::steady_clock::now();
  const std::vector<std::uint8_t> bytes =
      larkspur::rofs::ReadImageFile(built.image_path, "rofs2r.img");
  const larkspur::rofs::RofsImage image = larkspur::rofs::ParseRofsImage(bytes, "rofs2r.img");
  const larkspur::rofs::ExtractStats stats =
      larkspur::rofs::ExtractImage(bytes, image, "rofs2r.img", work / "extracted");
  const double read_seconds = Seconds(start);
  std::printf("read -z: %.3f s  %.1f MiB/s  %zu files  peak RSS %ld KiB\n", read_seconds,
              stats.bytes / 1048576.0 / read_seconds, stats.files, PeakRssKiB());

  start = std::chrono::steady_clock::now();
  const std::string copy =
      "cp -r \"" + (work / "rofs2").string() + "\" \"" + (work / "copied").string() + "\"";
  const int copy_status = std::system(copy.c_str());
  const double copy_seconds = Seconds(start);
  std::printf("cp -r:   %.3f s  %.1f MiB/s%s\n", copy_seconds,
              kTotalBytes / 1048576.0 / copy_seconds, copy_status == 0 ? "" : "  (cp failed)");

  std::uint64_t extracted_bytes = 0;
  const std::uint64_t extracted = CountFiles(work / "extracted", extracted_bytes);
  const bool complete = extracted == kFileCount && extracted_bytes == kTotalBytes;
  std::printf("extracted tree %s\n", complete ? "complete" : "INCOMPLETE");
  fs::remove_all(work);
  return complete ? 0 : 1;
}
