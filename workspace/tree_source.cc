#include "workspace/tree_source.h"

#include <charconv>

namespace larkspur {
namespace {

template <typename Number>
bool ParseNumber(std::string_view text, Number& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

std::string FormatTreeSource(const TreeSource& source) {
  std::string text = "size=" + std::to_string(source.size) + "\nwrite_time=" + std::to_string(source.write_time) +
                     "\npartition_size=" + std::to_string(source.partition_size) +
                     "\nlead=" + std::to_string(source.lead) + "\nmodel=" + std::to_string(source.model) + "\n";
  if (!source.rofs_version.empty()) text += "rofs_version=" + source.rofs_version + "\n";
  if (source.rofs_max_size != 0) text += "rofs_max_size=" + std::to_string(source.rofs_max_size) + "\n";
  if (source.rofs_time) text += "rofs_time=" + std::to_string(*source.rofs_time) + "\n";
  // The path goes last, so any byte but a line end may stand in it.
  return text + "path=" + source.path + "\n";
}

std::optional<TreeSource> ParseTreeSource(std::string_view text) {
  TreeSource source;
  int seen = 0;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    if (end == std::string_view::npos) return std::nullopt;  // cut short
    const std::string_view line = text.substr(0, end);
    text.remove_prefix(end + 1);
    const std::size_t equals = line.find('=');
    if (equals == std::string_view::npos) return std::nullopt;
    const std::string_view key = line.substr(0, equals);
    const std::string_view value = line.substr(equals + 1);
    bool ok = true;
    if (key == "size") {
      ok = ParseNumber(value, source.size), seen |= 1;
    } else if (key == "write_time") {
      ok = ParseNumber(value, source.write_time), seen |= 2;
    } else if (key == "partition_size") {
      ok = ParseNumber(value, source.partition_size), seen |= 4;
    } else if (key == "lead") {
      ok = ParseNumber(value, source.lead), seen |= 32;
    } else if (key == "model") {
      ok = ParseNumber(value, source.model), seen |= 8;
    } else if (key == "rofs_version") {
      source.rofs_version = std::string(value);
    } else if (key == "rofs_max_size") {
      ok = ParseNumber(value, source.rofs_max_size);
    } else if (key == "rofs_time") {
      std::int64_t time = 0;
      ok = ParseNumber(value, time);
      source.rofs_time = time;
    } else if (key == "path") {
      source.path = std::string(value), seen |= 16;
    }
    if (!ok) return std::nullopt;
  }
  if (seen != 63 || source.path.empty()) return std::nullopt;
  return source;
}

}  // namespace larkspur
