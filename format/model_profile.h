// The phone model profiles: block size, block signatures, header layout and
// type fields of the firmware files of each supported model, and the two
// kinds of partition a firmware file holds. This is the one file to change
// for a new model. Plain values; the window holds the one in force.
#ifndef LARKSPUR_FORMAT_MODEL_PROFILE_H_
#define LARKSPUR_FORMAT_MODEL_PROFILE_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "format/block_header.h"

namespace larkspur {

// What a firmware file holds: a ROFS image, or a FAT user data area ("UDA").
enum class PartitionKind { kRofs, kUda };

// "ROFS" or "UDA", as the window's status bar and the command line name the
// kinds; and back (nothing for any other text).
const char* KindName(PartitionKind kind);
std::optional<PartitionKind> KindFromName(std::string_view name);

// The profile of one model as the window holds it: the header constants as
// hex text, the sizes as numbers.
struct ModelProfile {
  std::int32_t RofsBlockSize;
  std::int32_t UdaBlockSize;
  std::string RofsSignatureHex;
  std::string UdaSignatureHex;
  int RofsHeaderSize;
  int UdaHeaderSize;
  int RofsAddressIndex;  // 1-based position of the load address in a header
  int UdaAddressIndex;
  int AddressLength;
  std::string RofsTypeFieldHex;
  std::string UdaTypeFieldHex;
  int OpenDialogFilterIndex;  // 1: "ROFS2, UDA", 2: "ALL"

  bool operator==(const ModelProfile&) const = default;
};

// The model selector's items, in order.
inline constexpr int kModelCount = 4;
inline constexpr int kN96ModelIndex = 1;

// The selector's text for an item 0..3.
const char* ModelItemText(int index);

// The profile of item 0..3. Item 0 (5530, 5800, N97, N86) is also the
// profile in force at start-up. Throws std::out_of_range for other indexes.
const ModelProfile& ProfileForModel(int index);

// The block layout of item 0..3's files of `kind`, as bytes. The profile
// above is made from it. Throws std::out_of_range for other indexes.
const BlockFormat& BlockFormatOf(int index, PartitionKind kind);

}  // namespace larkspur

#endif  // LARKSPUR_FORMAT_MODEL_PROFILE_H_
