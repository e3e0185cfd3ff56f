#include "port/faults.h"

#include <atomic>

namespace larkspur::port {
namespace {

std::atomic<std::uint64_t> counted{0};
std::atomic<std::uint64_t> fail_at_call{0};
std::atomic<int> failure{0};

}  // namespace

void SetFileChangeFault(std::uint64_t fail_at, int error_number) {
  fail_at_call = 0;
  counted = 0;
  failure = error_number;
  fail_at_call = fail_at;
}

std::uint64_t FileChangesCounted() { return counted.load(); }

int NextFileChange(FileChange) {
  const std::uint64_t call = ++counted;
  return call == fail_at_call.load() ? failure.load() : 0;
}

}  // namespace larkspur::port
