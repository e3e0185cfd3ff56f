#include "format/load_file_bytes.h"

#include "port/files.h"

namespace larkspur {

bool LoadFileBytes(const std::string& path, ByteString& dest) {
  return port::ReadWholeFile(path, dest, static_cast<std::uint64_t>(kMaxByteStringLength));
}

bool ReloadFileBytes(const std::string& path, ByteString& dest) {
  return port::ReloadWholeFile(path, dest, static_cast<std::uint64_t>(kMaxByteStringLength));
}

}  // namespace larkspur
