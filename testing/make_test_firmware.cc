// make_test_firmware: wraps a partition image into a generated firmware
// file, for end-to-end runs of the real programs (scripts/windows-test).
// The blocks come from the test fixture, which builds them from the header
// layout by hand rather than with the program's own writer.
//
//   make_test_firmware uda|rofs MODEL IMAGE OUTPUT
//
// uda: the image is the FAT16 partition as it is. rofs: the partition is
// 3072 zero bytes, the ROFS image, then FF up to a multiple of 256, as on
// the phone; model 1 (N96) starts with its short first block.
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>

#include "testing/firmware_fixture.h"

int main(int argc, char** argv) {
  const std::string kind = argc == 5 ? argv[1] : "";
  const int model = argc == 5 ? std::atoi(argv[2]) : -1;
  if ((kind != "uda" && kind != "rofs") || model < 0 || model >= larkspur::kModelCount) {
    std::cerr << "usage: make_test_firmware uda|rofs MODEL(0-" << larkspur::kModelCount - 1 << ") IMAGE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[3], std::ios::binary);
  if (!in) {
    std::cerr << "make_test_firmware: cannot read " << argv[3] << '\n';
    return 1;
  }
  std::string partition(std::istreambuf_iterator<char>(in), {});
  if (kind == "rofs") {
    partition = std::string(3072, '\0') + partition;
    partition.append((256 - partition.size() % 256) % 256, '\xFF');
  }
  const larkspur::testing::FirmwareSpec spec{.model = model,
                                             .uda = kind == "uda",
                                             .prefix = "HEAD",
                                             .start_address = 0x01234500,
                                             .n96_short_first_block = kind == "rofs" && model == 1};
  std::ofstream out(argv[4], std::ios::binary);
  if (!(out << larkspur::testing::MakeFirmware(spec, partition)) || !out.flush()) {
    std::cerr << "make_test_firmware: cannot write " << argv[4] << '\n';
    return 1;
  }
  return 0;
}
