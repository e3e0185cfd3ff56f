#include "tools/larkspur-cli/firmware_report.h"

#include "base/hex.h"

#include <map>
#include <string>

namespace larkspur {
void PrintProblems(std::ostream& out, const FirmwareCheck& check) {
  for (const std::string& problem : check.problems) out << problem << '\n';
  for (const BlockCheck& block : check.blocks) {
    for (const std::string& problem : block.problems) {
      out << "block " << block.index << " at file offset " << HexNumber(block.header_offset, 8) << ": " << problem << '\n';
    }
  }
}

void PrintInfo(std::ostream& out, const FirmwareCheck& check) {
  out << "kind:           " << KindName(check.kind) << '\n';
  out << "size:           " << check.file_size << " bytes\n";
  out << "header layout:  " << check.header_size << "-byte headers, block size " << HexNumber(check.block_size) << '\n';
  if (!check.prefix_length) {
    PrintProblems(out, check);
    return;
  }
  out << "prefix:         " << *check.prefix_length << " bytes\n";
  if (!check.blocks.empty()) {
    const BlockCheck& first = check.blocks.front();
    const BlockCheck& last = check.blocks.back();
    out << "start address:  " << HexNumber(first.address, 8) << '\n';
    out << "blocks:         " << check.blocks.size() << '\n';
    out << "load addresses: " << HexNumber(first.address, 8) << " .. " << HexNumber(last.address, 8) << '\n';
    // The layout: runs of equal payload lengths.
    std::map<std::uint32_t, std::size_t> lengths;
    for (const BlockCheck& block : check.blocks) ++lengths[block.payload_length];
    out << "payload lengths:";
    for (const auto& [length, count] : lengths) out << ' ' << count << " x " << HexNumber(length);
    out << '\n';
  }
  out << "partition magic: "
      << (check.magic_offset ? "at offset " + HexNumber(*check.magic_offset, 8) + " of the payloads" : std::string("not found"))
      << '\n';
  if (check.AllRight()) {
    out << "headers:        all " << check.blocks.size()
        << " right (signature, check value, type field, checksum, length, address chain)\n";
  } else {
    out << "headers:        wrong ones follow\n";
    PrintProblems(out, check);
  }
}

}  // namespace larkspur
