// The benchmark's inputs, generated the same byte for byte on every run so
// that the figures of two runs (before and after a change) compare: a UDA
// firmware file, a tree of small files, and a ROFS firmware file whose image
// holds that tree. Called from the generating child process only; these
// hold whole files in memory.
#ifndef LARKSPUR_BENCH_BENCH_INPUTS_H_
#define LARKSPUR_BENCH_BENCH_INPUTS_H_

#include <cstdint>
#include <string>

namespace larkspur::bench {

inline constexpr std::uint64_t kMiB = 1024 * 1024;
inline constexpr std::uint64_t kUdaFileSize = 256 * kMiB;
inline constexpr std::uint64_t kRofsFileSize = 64 * kMiB;
inline constexpr int kTreeFileCount = 4000;
inline constexpr std::uint64_t kTreeBytes = 64'000'000;

// The builder's image goes behind this much filler in a ROFS payload
// stream, as Repack lays it out.
inline constexpr std::size_t kRofsFiller = 3072;

// Writes a UDA firmware file of exactly `file_size` bytes in the profile of
// model `model`: a prefix, then a FAT16-looking partition cut into blocks
// behind intact headers. Throws when the size cannot be met exactly.
void WriteUdaFirmware(const std::string& path, int model, std::uint64_t file_size);

// Writes `file_count` files of `total_bytes` together into `folder`, spread
// over subfolders of 100 files, sizes varying around the mean.
void WriteTree(const std::string& folder, int file_count, std::uint64_t total_bytes);

// Builds `program_folder`/rofs2 into a ROFS image with the rofsbuild tool in
// `program_folder`/exebat (with a fixed time stamp), and writes a ROFS
// firmware file of exactly `file_size` bytes holding it in the profile of
// model `model` (with its short first block for the N96 one). The stream
// is padded with FF to meet the size. Throws when the build fails or the
// image does not fit.
void WriteRofsFirmware(const std::string& program_folder, const std::string& path, int model,
                       std::uint64_t file_size);

// Writes two UDA firmware files of exactly `file_size` bytes in model
// `model`'s profile whose partitions are real FAT16 volumes: the old one
// holds `tree`, the new one a copy of it made at `edited_tree` with one file
// removed, one changed in place (same size, same time) and one of 1 MiB
// added. What larkspur-cli diff compares in the benchmark.
void WriteUdaFirmwarePair(const std::string& old_path, const std::string& new_path, int model,
                          std::uint64_t file_size, const std::string& tree, const std::string& edited_tree);

}  // namespace larkspur::bench

#endif  // LARKSPUR_BENCH_BENCH_INPUTS_H_
