#include "format/model_profile.h"

#include <stdexcept>

#include "base/hex.h"

namespace larkspur {
namespace {

constexpr const char* kItemTexts[kModelCount] = {
    "手机型号(5530, 5800, N97, N86)",
    "手机型号(N96)",
    "手机型号(5320)",
    "手机型号(N78)",
};

const std::string kSignature{"\x54\x01\x17\x0E\x00\x03\x00", 7};
const std::string kN96RofsSignature{"\x54\x01\x17\x0E\x01\x01\x00", 7};
const std::string kN96UdaSignature{"\x54\x01\x30\x15\x01\x01\x00", 7};
const std::string kTypeField{"\x01", 1};
const std::string kN96UdaTypeField{"\x00\x00\x00\x00\xFF\xFF\xFF\xFF", 8};

constexpr char kRofsPadding = '\xFF';
constexpr char kUdaPadding = '\0';

BlockFormat Format19(const std::string& signature, std::uint32_t block_size, char padding,
                     bool short_first_block = false) {
  return {signature, kTypeField, 19, 10, 14, block_size, short_first_block, padding};
}

struct Model {
  BlockFormat rofs;
  BlockFormat uda;
  int open_dialog_filter_index;  // 1: "ROFS2, UDA", 2: "ALL"
};

const Model kModels[kModelCount] = {
    // 5530, 5800, N97, N86
    {Format19(kSignature, 0x40000, kRofsPadding), Format19(kSignature, 0x40000, kUdaPadding), 1},
    // N96: the only model whose UDA blocks differ from its ROFS blocks, and
    // whose ROFS files begin with a short block
    {Format19(kN96RofsSignature, 0x8000, kRofsPadding, true),
     {kN96UdaSignature, kN96UdaTypeField, 26, 17, 21, 0x8000, false, kUdaPadding},
     1},
    // 5320: the N78's blocks, but the Open dialog starts on "ALL"
    {Format19(kSignature, 0x20000, kRofsPadding), Format19(kSignature, 0x20000, kUdaPadding), 2},
    // N78
    {Format19(kSignature, 0x20000, kRofsPadding), Format19(kSignature, 0x20000, kUdaPadding), 1},
};

ModelProfile ProfileOf(const Model& model) {
  return {static_cast<std::int32_t>(model.rofs.block_size),
          static_cast<std::int32_t>(model.uda.block_size),
          BytesToHex(model.rofs.signature),
          BytesToHex(model.uda.signature),
          model.rofs.header_size,
          model.uda.header_size,
          model.rofs.address_offset + 1,
          model.uda.address_offset + 1,
          4,
          BytesToHex(model.rofs.type_field),
          BytesToHex(model.uda.type_field),
          model.open_dialog_filter_index};
}

void CheckIndex(int index) {
  if (index < 0 || index >= kModelCount) throw std::out_of_range("model index");
}

}  // namespace

const char* KindName(PartitionKind kind) { return kind == PartitionKind::kUda ? "UDA" : "ROFS"; }

std::optional<PartitionKind> KindFromName(std::string_view name) {
  if (name == "ROFS") return PartitionKind::kRofs;
  if (name == "UDA") return PartitionKind::kUda;
  return std::nullopt;
}

const char* ModelItemText(int index) {
  CheckIndex(index);
  return kItemTexts[index];
}

const ModelProfile& ProfileForModel(int index) {
  CheckIndex(index);
  static const ModelProfile* const profiles = new ModelProfile[kModelCount]{
      ProfileOf(kModels[0]), ProfileOf(kModels[1]), ProfileOf(kModels[2]), ProfileOf(kModels[3])};
  return profiles[index];
}

const BlockFormat& BlockFormatOf(int index, PartitionKind kind) {
  CheckIndex(index);
  return kind == PartitionKind::kUda ? kModels[index].uda : kModels[index].rofs;
}

}  // namespace larkspur
