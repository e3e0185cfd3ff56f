// Loading a whole firmware or partition image file into memory.
#ifndef LARKSPUR_FORMAT_LOAD_FILE_BYTES_H_
#define LARKSPUR_FORMAT_LOAD_FILE_BYTES_H_

#include <string>

#include "format/byte_string.h"

namespace larkspur {

// Replaces `dest` with the whole content of the file at `path` and returns
// true. Returns false and leaves `dest` exactly as it was when `path` names
// no existing file (a folder does not count) or the file is empty.
// Throws FileOpenError ("Cannot open file "%s". %s") when the file exists but
// cannot be opened (on Windows also while another program holds it open),
// and FileIoError for a file of 2 GiB or more or a failed read; `dest` is
// unchanged then too.
bool LoadFileBytes(const std::string& path, ByteString& dest);

// LoadFileBytes for a file read again into the buffer that held it: the
// bytes go into `dest`'s own storage when they fit (see
// port::ReloadWholeFile), so the file is never held twice. Returns false
// and leaves `dest` as it was, and throws, as LoadFileBytes does, except
// that `dest` is left empty when a read fails part way.
bool ReloadFileBytes(const std::string& path, ByteString& dest);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_LOAD_FILE_BYTES_H_
