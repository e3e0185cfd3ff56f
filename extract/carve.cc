#include "extract/carve.h"

namespace larkspur {

std::string_view CarvePartition(std::string_view stripped, std::string_view magic) {
  const std::size_t found = magic.empty() ? std::string_view::npos : stripped.find(magic);
  return found == std::string_view::npos ? stripped : stripped.substr(found);
}

std::vector<std::string_view> CarveSpans(const std::vector<std::string_view>& stream, std::uint64_t offset) {
  std::vector<std::string_view> carved;
  std::uint64_t skip = offset;
  for (std::string_view span : stream) {
    if (skip >= span.size()) {
      skip -= span.size();
      continue;
    }
    span.remove_prefix(static_cast<std::size_t>(skip));
    skip = 0;
    if (carved.empty()) carved.reserve(stream.size());
    carved.push_back(span);
  }
  return carved;
}

}  // namespace larkspur
