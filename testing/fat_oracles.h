// Test helpers: mtools and dosfstools as independent oracles of the FAT
// code (images made by mkfs.fat, files put in and taken out by mcopy, checks
// by fsck.fat). Test code only; the tests that use them are POSIX only, as
// the tools are.
#ifndef LARKSPUR_TESTING_FAT_ORACLES_H_
#define LARKSPUR_TESTING_FAT_ORACLES_H_

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace larkspur::testing {

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
std::string MtoolsPath(const std::string& relative);

// Free bytes as mdir reports them.
std::uint64_t MdirFreeBytes(const std::filesystem::path& image);

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_FAT_ORACLES_H_
