// Inside port: how the streamed WriteFileReplacing of both platforms hands a
// producer's bytes to the file.
#ifndef LARKSPUR_PORT_PRODUCED_STRETCHES_H_
#define LARKSPUR_PORT_PRODUCED_STRETCHES_H_

#include <string>
#include <string_view>

#include "port/files.h"

namespace larkspur::port {

// Calls `produce` and passes what it gives on to `write` in stretches:
// producers hand over many small pieces (entries, padding) between the
// large ones, so the small ones are gathered up to kStreamedWriteBuffer and
// a large one goes on as it is. Every byte in order; the last stretch is
// written before this returns.
inline void WriteProducedInStretches(const ContentProducer& produce, const ContentWrite& write) {
  std::string buffer;
  buffer.reserve(kStreamedWriteBuffer);
  produce([&](std::string_view bytes) {
    if (buffer.size() + bytes.size() > kStreamedWriteBuffer) {
      write(buffer);
      buffer.clear();
    }
    if (bytes.size() >= kStreamedWriteBuffer) {
      write(bytes);
    } else {
      buffer += bytes;
    }
  });
  write(buffer);
}

}  // namespace larkspur::port

#endif  // LARKSPUR_PORT_PRODUCED_STRETCHES_H_
