#include "app/qt/open_filter.h"

namespace larkspur {
namespace {

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(separator, start);
    if (end == std::string_view::npos) {
      parts.push_back(text.substr(start));
      return parts;
    }
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::vector<std::string> NameFiltersFromOpenFilter(std::string_view filter) {
  std::vector<std::string> entries;
  if (filter.empty()) return entries;
  const std::vector<std::string_view> parts = Split(filter, '|');
  // Descriptions and pattern lists alternate; a lone description would be an
  // entry that matches nothing.
  if (parts.size() % 2 != 0) {
    throw OpenFilterError("Open filter \"" + std::string(filter) + "\": description \"" +
                          std::string(parts.back()) + "\" has no patterns");
  }
  for (std::size_t i = 0; i < parts.size(); i += 2) {
    std::string patterns;
    for (std::string_view pattern : Split(parts[i + 1], ';')) {
      if (pattern.empty()) continue;
      if (!patterns.empty()) patterns += ' ';
      patterns += pattern == "*.*" ? std::string_view("*") : pattern;
    }
    if (patterns.empty()) {
      throw OpenFilterError("Open filter \"" + std::string(filter) + "\": description \"" +
                            std::string(parts[i]) + "\" has an empty pattern list");
    }
    entries.push_back(std::string(parts[i]) + " (" + patterns + ")");
  }
  return entries;
}

int SelectedFilterEntry(int filter_index, int entry_count) {
  if (filter_index < 1 || filter_index > entry_count) return 0;
  return filter_index - 1;
}

}  // namespace larkspur
