#include "vpl/file_crc.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>

#include "base/crc32.h"
#include "port/files.h"

namespace larkspur::vpl {
namespace {

constexpr std::size_t kReadBuffer = std::size_t{1} << 20;

}  // namespace

std::uint32_t Crc32OfView(const port::FileView& view) {
  Crc32 crc;
  const std::string_view bytes = view.bytes();
  const std::unique_ptr<char[]> buffer(new char[std::min(kReadBuffer, std::max<std::size_t>(bytes.size(), 1))]);
  for (std::size_t at = 0; at < bytes.size(); at += kReadBuffer) {
    const std::string_view part = bytes.substr(at, kReadBuffer);
    view.CopyOut(part, buffer.get());
    crc.Update(std::string_view(buffer.get(), part.size()));
  }
  return crc.value();
}

std::optional<std::uint32_t> Crc32OfFile(const std::string& path) {
  port::FileView view;
  if (view.Open(path, std::numeric_limits<std::uint64_t>::max())) return Crc32OfView(view);
  // Open refuses an empty file as it refuses a missing one.
  if (port::FileSize(path) == 0) return Crc32Of("");
  return std::nullopt;
}

}  // namespace larkspur::vpl
