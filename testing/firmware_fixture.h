// Test and benchmark helper: generated firmware image files, made by hand
// from the header layout (not by the program's own builders), so tests can
// check the program against them.
#ifndef LARKSPUR_TESTING_FIRMWARE_FIXTURE_H_
#define LARKSPUR_TESTING_FIRMWARE_FIXTURE_H_

#include <cstdint>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "format/hex_text.h"
#include "format/model_profile.h"
#include "testing/test_bytes.h"

namespace larkspur::testing {

struct FirmwareSpec {
  int model = 0;          // model selector item 0..3
  bool uda = false;       // UDA (FAT16) or ROFS
  std::string prefix;     // bytes before the first block
  std::uint32_t start_address = 0x01000000;
  bool n96_short_first_block = false;  // ROFS in the N96 profile
  // The bytes after the check value and before the length (the profile's
  // type field when empty): real files carry others, such as 00 00 00 08
  // FF FF FF FF in 26-byte headers.
  std::string type_field;
  std::size_t padding_between = 0;  // FF bytes between code blocks
  std::string trail;                // bytes after the last block
};

inline std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

// One block: header for `payload`, then the payload.
inline std::string MakeBlock(const FirmwareSpec& spec, const std::string& payload, std::uint32_t address) {
  const ModelProfile& profile = ProfileForModel(spec.model);
  std::string header = HexToBytes(spec.uda ? profile.UdaSignatureHex : profile.RofsSignatureHex);
  unsigned char even = 0, odd = 0;
  for (std::size_t i = 0; i < payload.size(); ++i) {
    (i % 2 ? odd : even) ^= static_cast<unsigned char>(payload[i]);
  }
  header += static_cast<char>(even);
  header += static_cast<char>(odd);
  header += spec.type_field.empty() ? HexToBytes(spec.uda ? profile.UdaTypeFieldHex : profile.RofsTypeFieldHex)
                                    : spec.type_field;
  header += BigEndian(static_cast<std::uint32_t>(payload.size()));
  header += BigEndian(address);
  unsigned sum = 0;
  for (std::size_t i = 1; i < header.size(); ++i) sum += static_cast<unsigned char>(header[i]);
  header += static_cast<char>((0xFF - sum) & 0xFF);
  return header + payload;
}

// A block whose header holds `signature`, the length `announced` (the
// payload's own length when negative) and filler in the other fields, with
// no valid check values: for the chain walk and the header stripping, which
// look only at signatures and lengths. `header_size` is 19 or 26.
inline std::string UncheckedBlock(std::string_view signature, int header_size, std::string_view payload,
                                  std::int64_t announced = -1) {
  const std::uint32_t length =
      announced < 0 ? static_cast<std::uint32_t>(payload.size()) : static_cast<std::uint32_t>(announced);
  return std::string(signature) + "CC" + std::string(header_size == 19 ? 1 : 8, '\x01') + BigEndian(length) + "AAAA" +
         "S" + std::string(payload);
}

// A firmware file holding `partition` (already including any leading filler)
// cut into blocks of the profile's size; the last block is as long as what
// is left (padded by the caller if wanted).
inline std::string MakeFirmware(const FirmwareSpec& spec, const std::string& partition) {
  const ModelProfile& profile = ProfileForModel(spec.model);
  const std::size_t block = static_cast<std::size_t>(spec.uda ? profile.UdaBlockSize : profile.RofsBlockSize);
  std::string file = spec.prefix;
  std::uint32_t address = spec.start_address;
  std::size_t at = 0;
  if (spec.n96_short_first_block && partition.size() > block) {
    file += MakeBlock(spec, partition.substr(0, 0x400), address);
    address += 0x400;
    at = 0x400;
  }
  while (at < partition.size()) {
    const std::string payload = partition.substr(at, block);
    if (at > 0) file.append(spec.padding_between, '\xFF');
    file += MakeBlock(spec, payload, address);
    address += static_cast<std::uint32_t>(payload.size());
    at += payload.size();
  }
  return file + spec.trail;
}

// The parts of files as real flashers' packages have them, made from the
// layouts alone.

// One entry of a table of contents: the tag, its length (two bytes for the
// tags E4, E5, EA, EE and F3) and the value.
inline std::string TocEntryBytes(std::uint8_t tag, const std::string& value) {
  const bool wide = tag == 0xE4 || tag == 0xE5 || tag == 0xEA || tag == 0xEE || tag == 0xF3;
  std::string entry(1, static_cast<char>(tag));
  if (wide) entry += static_cast<char>(value.size() >> 8);
  entry += static_cast<char>(value.size() & 0xFF);
  return entry + value;
}

// An erase area entry (tag 12) of one or more start and end pairs.
inline std::string EraseAreaEntry(const std::vector<std::pair<std::uint32_t, std::uint32_t>>& areas) {
  std::string value("\x01\x01\x00", 3);  // APE, NAND, and the byte after
  for (const auto& [start, end] : areas) value += BigEndian(start) + BigEndian(end);
  return TocEntryBytes(0x12, value);
}

// A table of contents holding `entries` (already made) and `extra` bytes
// after them: B2, the header length, the count, the entries.
inline std::string TableOfContentsBytes(const std::vector<std::string>& entries, const std::string& extra = "") {
  std::string body;
  for (const std::string& entry : entries) body += entry;
  body += extra;
  return "\xB2" + BigEndian(static_cast<std::uint32_t>(4 + body.size())) +
         BigEndian(static_cast<std::uint32_t>(entries.size())) + body;
}

// A named block (type 5D): 5D 01 27 2D (50-byte header) or, with
// `second_hash`, 5D 01 28 43 (72 bytes, address FFFFFFFF), over `payload`.
inline std::string NamedBlockBytes(const std::string& description, const std::string& payload, std::uint32_t address,
                                   bool second_hash = false) {
  std::string header = second_hash ? std::string("\x5D\x01\x28\x43", 4) : std::string("\x5D\x01\x27\x2D", 4);
  header += PatternBytes(20, 7);                                 // key hash
  header += (description + std::string(12, '\0')).substr(0, 12);  // name
  header += std::string(3, '\0');                                 // flash id
  unsigned char even = 0, odd = 0;
  for (std::size_t i = 0; i < payload.size(); ++i) (i % 2 ? odd : even) ^= static_cast<unsigned char>(payload[i]);
  header += static_cast<char>(even);
  header += static_cast<char>(odd);
  header += BigEndian(static_cast<std::uint32_t>(payload.size()));
  header += BigEndian(second_hash ? 0xFFFFFFFF : address);
  if (second_hash) header += PatternBytes(20, 9) + std::string("\x00\x01", 2);
  unsigned sum = 0;
  for (std::size_t i = 1; i < header.size(); ++i) sum += static_cast<unsigned char>(header[i]);
  header += static_cast<char>((0xFF - sum) & 0xFF);
  return header + payload;
}

// A FAT16 boot sector as common formatters write it: a short jump EB 3C 90,
// a sane BIOS parameter block and 55 AA at its end; what Extract looks for
// at the start of a UDA file's payload.
inline std::string FatBootSector(std::uint32_t total_sectors) {
  std::string sector(512, '\0');
  const auto put16 = [&](std::size_t at, unsigned value) {
    sector[at] = static_cast<char>(value & 0xFF);
    sector[at + 1] = static_cast<char>(value >> 8);
  };
  sector[0] = '\xEB', sector[1] = '\x3C', sector[2] = '\x90';
  sector.replace(3, 8, "mkfs.fat");
  put16(11, 512);                                   // bytes per sector
  sector[13] = 4;                                   // sectors per cluster
  put16(14, 4);                                     // reserved sectors
  sector[16] = 2;                                   // FATs
  put16(17, 512);                                   // root entries
  put16(19, static_cast<unsigned>(total_sectors));  // total sectors
  sector[21] = '\xF8';                              // media
  put16(22, 32);                                    // sectors per FAT
  sector[510] = '\x55', sector[511] = '\xAA';
  return sector;
}

// Lengths to cut a file of `size` bytes at, for truncation sweeps: every
// length up to 4 KiB, every 37th beyond, and every length within 2 bytes of
// each of `edges` (where headers and payloads begin and end).
inline std::vector<std::size_t> CutLengths(std::size_t size, const std::vector<std::size_t>& edges) {
  std::set<std::size_t> lengths;
  for (std::size_t length = 0; length <= size; length += length < 4096 ? 1 : 37) lengths.insert(length);
  for (const std::size_t edge : edges) {
    for (std::size_t length = edge < 2 ? 0 : edge - 2; length <= edge + 2 && length <= size; ++length) {
      lengths.insert(length);
    }
  }
  lengths.insert(size);
  return {lengths.begin(), lengths.end()};
}

}  // namespace larkspur::testing

#endif  // LARKSPUR_TESTING_FIRMWARE_FIXTURE_H_
