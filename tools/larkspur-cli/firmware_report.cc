#include "tools/larkspur-cli/firmware_report.h"

#include <cstdio>
#include <map>
#include <string>

namespace larkspur {
namespace {

std::string Hex(std::uint64_t value, int digits = 8) {
  char text[32];
  std::snprintf(text, sizeof text, "0x%0*llX", digits, static_cast<unsigned long long>(value));
  return text;
}

}  // namespace

void PrintProblems(std::ostream& out, const FirmwareCheck& check) {
  for (const std::string& problem : check.problems) out << problem << '\n';
  for (const BlockCheck& block : check.blocks) {
    for (const std::string& problem : block.problems) {
      out << "block " << block.index << " at file offset " << Hex(block.header_offset) << ": " << problem << '\n';
    }
  }
}

void PrintInfo(std::ostream& out, const FirmwareCheck& check) {
  out << "kind:           " << check.kind << '\n';
  out << "size:           " << check.file_size << " bytes\n";
  out << "header layout:  " << check.header_size << "-byte headers, block size " << Hex(check.block_size, 0) << '\n';
  if (!check.prefix_length) {
    PrintProblems(out, check);
    return;
  }
  out << "prefix:         " << *check.prefix_length << " bytes\n";
  if (!check.blocks.empty()) {
    const BlockCheck& first = check.blocks.front();
    const BlockCheck& last = check.blocks.back();
    out << "start address:  " << Hex(first.address) << '\n';
    out << "blocks:         " << check.blocks.size() << '\n';
    out << "load addresses: " << Hex(first.address) << " .. " << Hex(last.address) << '\n';
    // The layout: runs of equal payload lengths.
    std::map<std::uint32_t, std::size_t> lengths;
    for (const BlockCheck& block : check.blocks) ++lengths[block.payload_length];
    out << "payload lengths:";
    for (const auto& [length, count] : lengths) out << ' ' << count << " x " << Hex(length, 0);
    out << '\n';
  }
  out << "partition magic: "
      << (check.magic_offset ? "at offset " + Hex(*check.magic_offset) + " of the payloads" : std::string("not found"))
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
