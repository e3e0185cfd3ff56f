// Helpers shared by the FAT tests: mtools and dosfstools as independent
// oracles (images made by mkfs.fat, files put in and taken out by mcopy,
// checks by fsck.fat), and comparisons of folder trees. Test code only;
// POSIX only, as the tools are.
#ifndef LARKSPUR_FAT_FAT_TEST_SUPPORT_H_
#define LARKSPUR_FAT_FAT_TEST_SUPPORT_H_

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace larkspur::fat::testing {

// Runs `program` with `arguments` (one word each) with mtools told not to
// second-guess the geometry and a UTF-8 locale for long names. Throws
// std::runtime_error with the tool's output when it exits non-zero (unless
// `allow_failure`), and when the program is not installed, saying to run
// scripts/install-deps. Returns standard output and error together.
std::string RunOracle(const std::string& program, const std::vector<std::string>& arguments,
                      bool allow_failure = false, int* exit_code = nullptr);

// mkfs.fat -C `image` with `options`, then a fixed serial and label so the
// result is the same on every run.
void MakeFatImage(const std::filesystem::path& image, int fat_bits, int size_kib,
                  const std::vector<std::string>& options = {});

// "::/a/b" for mtools from "a/b".
std::string ImagePath(const std::string& relative);

// Free bytes as mdir reports them.
std::uint64_t MdirFreeBytes(const std::filesystem::path& image);

// What a folder holds: relative '/'-separated UTF-8 paths, folders with a
// trailing '/', files with their contents.
std::map<std::string, std::string> TreeOf(const std::filesystem::path& folder);

// "" when the two folders hold the same paths with the same contents;
// otherwise one line per path that is missing, extra or different (without
// the contents, which can be large).
std::string TreeDifference(const std::filesystem::path& actual, const std::filesystem::path& expected);

// Writes `content` to `root`/`relative` (UTF-8), making the folders.
void PutFile(const std::filesystem::path& root, const std::string& relative, const std::string& content);

// `size` bytes of a pattern that differs from file to file.
std::string Pattern(std::size_t size, unsigned seed);

}  // namespace larkspur::fat::testing

#endif  // LARKSPUR_FAT_FAT_TEST_SUPPORT_H_
