#include "extract/carve.h"

#include <algorithm>

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

std::uint64_t SpansSize(const std::vector<std::string_view>& stream) {
  std::uint64_t size = 0;
  for (const std::string_view span : stream) size += span.size();
  return size;
}

std::string_view BytesOfSpans(const std::vector<std::string_view>& stream, std::uint64_t offset,
                              std::uint64_t length, std::string& scratch) {
  std::uint64_t base = 0;
  std::size_t index = 0;
  while (index < stream.size() && base + stream[index].size() <= offset) base += stream[index++].size();
  if (index == stream.size() || length == 0) return {};
  const std::uint64_t local = offset - base;
  if (length <= stream[index].size() - local) {
    return stream[index].substr(static_cast<std::size_t>(local), static_cast<std::size_t>(length));
  }
  scratch.clear();
  for (std::uint64_t skip = local; index < stream.size() && scratch.size() < length; ++index, skip = 0) {
    const std::string_view rest = stream[index].substr(static_cast<std::size_t>(skip));
    scratch.append(rest.substr(0, static_cast<std::size_t>(std::min<std::uint64_t>(rest.size(),
                                                                                     length - scratch.size()))));
  }
  return scratch;
}

std::optional<std::uint64_t> FindInSpans(const std::vector<std::string_view>& stream, std::string_view pattern,
                                         std::uint64_t from) {
  if (pattern.empty()) return std::nullopt;
  // A match that begins in the last pattern.size() - 1 bytes of a span runs
  // on into the next ones: those bytes and as many after them are searched
  // together once the span itself holds no match.
  const std::uint64_t overlap = pattern.size() - 1;
  std::string scratch;
  std::uint64_t base = 0;
  for (const std::string_view span : stream) {
    const std::uint64_t end = base + span.size();
    if (end > from) {
      const std::uint64_t local = from > base ? from - base : 0;
      const std::size_t found = span.find(pattern, static_cast<std::size_t>(local));
      if (found != std::string_view::npos) return base + found;
      if (overlap > 0) {
        const std::uint64_t window_start = std::max(from, end > overlap ? end - overlap : 0);
        const std::string_view window = BytesOfSpans(stream, window_start, end - window_start + overlap, scratch);
        const std::size_t crossing = window.find(pattern);
        if (crossing != std::string_view::npos && window_start + crossing < end) return window_start + crossing;
      }
    }
    base = end;
  }
  return std::nullopt;
}

std::optional<std::uint64_t> FindFatBootSectorInSpans(const std::vector<std::string_view>& stream,
                                                      std::uint64_t from) {
  // FindFatBootSector passes over sectors of zeros and decides at the first
  // sector that holds another byte: that sector alone is looked at.
  std::uint64_t base = 0;
  std::optional<std::uint64_t> first_other;
  for (const std::string_view span : stream) {
    const std::uint64_t end = base + span.size();
    if (end > from) {
      const std::uint64_t local = from > base ? from - base : 0;
      const std::size_t at = span.find_first_not_of('\0', static_cast<std::size_t>(local));
      if (at != std::string_view::npos) {
        first_other = base + at;
        break;
      }
    }
    base = end;
  }
  if (!first_other) return std::nullopt;
  const std::uint64_t sector = (*first_other - from) / kSectorSize * kSectorSize;
  std::string scratch;
  const std::string_view bytes = BytesOfSpans(stream, from + sector, kSectorSize, scratch);
  if (!FindFatBootSector(bytes)) return std::nullopt;
  return sector;
}

}  // namespace larkspur
