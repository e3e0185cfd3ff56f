#include "bench/bench_report.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <vector>

namespace larkspur::bench {
namespace {

constexpr double kMiB = 1024.0 * 1024.0;
constexpr std::size_t kReadPiece = 1 << 20;

std::string Format(const char* format, double value) {
  char text[64];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

}  // namespace

void PrintSection(std::ostream& out, const std::string& title, std::uint64_t file_size,
                  const std::vector<Figure>& figures) {
  out << "\n" << title << "\n";
  char line[240];
  std::snprintf(line, sizeof line, "  %-50s %8s %8s %8s %7s %9s %7s\n", "phase", "median s", "MB/s",
                "copy s", "x copy", "peak MiB", "x file");
  out << line;
  for (const Figure& figure : figures) {
    const double seconds = figure.median_seconds;
    const double rate = seconds > 0 ? static_cast<double>(figure.bytes) / 1e6 / seconds : 0;
    const std::string peak =
        figure.peak_bytes ? Format("%9.1f", static_cast<double>(figure.peak_bytes) / kMiB) : "n/a";
    const std::string peak_ratio = figure.peak_bytes
                                       ? Format("%7.2f", static_cast<double>(figure.peak_bytes) /
                                                             static_cast<double>(file_size))
                                       : "n/a";
    const std::string copy = figure.copy_median_seconds > 0 ? Format("%8.3f", figure.copy_median_seconds) : "";
    const std::string ratio = figure.copy_ratio > 0 ? Format("%7.2f", figure.copy_ratio) : "";
    std::snprintf(line, sizeof line, "  %-50s %8.3f %8.0f %8s %7s %9s %7s\n", figure.label.c_str(), seconds,
                  rate, copy.c_str(), ratio.c_str(), peak.c_str(), peak_ratio.c_str());
    out << line;
  }
}

void PrintTarget(std::ostream& out, const std::string& what, double value, double limit,
                 bool at_most, const std::string& unit) {
  const bool met = at_most ? value <= limit : value >= limit;
  char line[200];
  std::snprintf(line, sizeof line, "  %-52s %8.2f %-6s (%s %.2f)  %s\n", what.c_str(), value,
                unit.c_str(), at_most ? "<=" : ">=", limit, met ? "PASS" : "MISS");
  out << line;
}

std::string ContentDigest(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::string();
  std::vector<char> piece(kReadPiece);
  // FNV-1a over 64-bit words: quick enough for hundreds of megabytes, and
  // any changed byte changes it.
  std::uint64_t digest = 14695981039346656037ull;
  std::uint64_t length = 0;
  while (in) {
    in.read(piece.data(), static_cast<std::streamsize>(piece.size()));
    const std::size_t got = static_cast<std::size_t>(in.gcount());
    std::size_t at = 0;
    for (; at + 8 <= got; at += 8) {
      std::uint64_t word;
      std::memcpy(&word, piece.data() + at, 8);
      digest = (digest ^ word) * 1099511628211ull;
    }
    for (; at < got; ++at)
      digest = (digest ^ static_cast<unsigned char>(piece[at])) * 1099511628211ull;
    length += got;
  }
  digest = (digest ^ length) * 1099511628211ull;
  char text[17];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
  return text;
}

bool SameContent(const std::string& a, const std::string& b) {
  std::ifstream left(a, std::ios::binary);
  std::ifstream right(b, std::ios::binary);
  if (!left || !right) return false;
  std::vector<char> left_piece(kReadPiece);
  std::vector<char> right_piece(kReadPiece);
  while (left && right) {
    left.read(left_piece.data(), static_cast<std::streamsize>(kReadPiece));
    right.read(right_piece.data(), static_cast<std::streamsize>(kReadPiece));
    if (left.gcount() != right.gcount() ||
        std::memcmp(left_piece.data(), right_piece.data(),
                    static_cast<std::size_t>(left.gcount())) != 0) {
      return false;
    }
  }
  return !left && !right;
}

double MedianOf(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::string WithSeparator(std::string folder) {
  if (!folder.empty() && folder.back() != '/') folder += '/';
  return folder;
}

std::string WorkFolder(const std::string& given, const std::string& stem) {
  std::string folder = given;
  if (folder.empty()) {
    std::random_device random;
    folder = (std::filesystem::temp_directory_path() / (stem + "-" + std::to_string(random()))).string();
  }
  return WithSeparator(std::filesystem::absolute(folder).string());
}

}  // namespace larkspur::bench
