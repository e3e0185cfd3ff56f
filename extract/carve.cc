#include "extract/carve.h"

namespace larkspur {

std::string_view CarvePartition(std::string_view stripped, std::string_view magic) {
  const std::size_t found = magic.empty() ? std::string_view::npos : stripped.find(magic);
  return found == std::string_view::npos ? stripped : stripped.substr(found);
}

}  // namespace larkspur
