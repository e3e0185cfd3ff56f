#include "format/byte_string.h"

#include <algorithm>

namespace larkspur {

std::int64_t PosFrom(std::string_view pattern, std::string_view text, std::int64_t start) {
  if (start < 1) start = 1;
  const auto from = static_cast<std::size_t>(start - 1);
  if (pattern.empty() || from > text.size()) return 0;
  const auto found = text.find(pattern, from);
  return found == std::string_view::npos ? 0 : static_cast<std::int64_t>(found) + 1;
}

std::string_view Take(std::string_view text, std::int64_t position, std::int64_t count) {
  if (position < 1) position = 1;
  const auto size = static_cast<std::int64_t>(text.size());
  if (count <= 0 || position > size) return {};
  count = std::min(count, size - position + 1);
  return text.substr(static_cast<std::size_t>(position - 1), static_cast<std::size_t>(count));
}

void Remove(ByteString& text, std::int64_t position, std::int64_t count) {
  const auto size = static_cast<std::int64_t>(text.size());
  if (position < 1 || position > size || count <= 0) return;
  count = std::min(count, size - position + 1);
  text.erase(static_cast<std::size_t>(position - 1), static_cast<std::size_t>(count));
}

}  // namespace larkspur
