// Shared by the fuzz targets: a property check that stops the run with a
// readable reason, and a sink that keeps the optimiser from dropping a
// result that only feeds checks it can prove. Fuzzer code only.
#ifndef LARKSPUR_FUZZ_FUZZ_CHECK_H_
#define LARKSPUR_FUZZ_FUZZ_CHECK_H_

#include <cstdio>
#include <cstdlib>

// Aborts (which libFuzzer reports as a crash, with the input saved) when a
// property does not hold. Unlike assert(), never compiled out.
#define LARKSPUR_FUZZ_CHECK(condition, ...)                                       \
  do {                                                                           \
    if (!(condition)) {                                                          \
      std::fprintf(stderr, "%s:%d: property broken: %s\n  ", __FILE__, __LINE__, \
                   #condition);                                                  \
      std::fprintf(stderr, __VA_ARGS__);                                         \
      std::fprintf(stderr, "\n");                                                \
      std::abort();                                                              \
    }                                                                            \
  } while (0)

namespace larkspur::fuzz {

// Stores a value where the compiler must assume someone reads it.
template <typename T>
void Keep(const T& value) {
  static volatile T sink;
  sink = value;
}

}  // namespace larkspur::fuzz

#endif  // LARKSPUR_FUZZ_FUZZ_CHECK_H_
