// Fuzz target for the image reader and everything that walks its result:
// any bytes must give either a tree or a FormatError, never a crash, a hang
// or a read outside the input.
#include <cstddef>
#include <cstdint>
#include <span>

#include "rofs/rofs_errors.h"
#include "rofs/rofs_extract.h"
#include "rofs/rofs_lookup.h"
#include "rofs/rofs_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes(data, size);
  try {
    const larkspur::rofs::RofsImage image = larkspur::rofs::ParseRofsImage(bytes, "fuzz.img");
    volatile std::size_t problems = larkspur::rofs::FindLookupTableProblems(bytes, image).size();
    (void)problems;
    const larkspur::rofs::ExtractPlan plan = larkspur::rofs::PlanExtraction(image, "fuzz.img");
    volatile std::uint64_t total = 0;
    for (const larkspur::rofs::ExtractItem& item : plan.items) {
      if (item.file) total = total + larkspur::rofs::FileData(bytes, *item.file).size();
    }
  } catch (const larkspur::rofs::RofsError&) {
  }
  return 0;
}
