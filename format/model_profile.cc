#include "format/model_profile.h"

#include <stdexcept>

namespace larkspur {
namespace {

constexpr const char* kItemTexts[kModelCount] = {
    "手机型号(5530, 5800, N97, N86)",
    "手机型号(N96)",
    "手机型号(5320)",
    "手机型号(N78)",
};

const ModelProfile kProfiles[kModelCount] = {
    // 5530, 5800, N97, N86
    {0x40000, 0x40000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 1},
    // N96: the only model whose UDA blocks differ from its ROFS blocks
    {0x8000, 0x8000, "5401170E010100", "54013015010100", 19, 26, 15, 22, 4, "01",
     "00000000FFFFFFFF", 1},
    // 5320: the N78's blocks, but the Open dialog starts on "ALL"
    {0x20000, 0x20000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 2},
    // N78
    {0x20000, 0x20000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 1},
};

}  // namespace

const char* ModelItemText(int index) {
  if (index < 0 || index >= kModelCount) throw std::out_of_range("model index");
  return kItemTexts[index];
}

const ModelProfile& ProfileForModel(int index) {
  if (index < 0 || index >= kModelCount) throw std::out_of_range("model index");
  return kProfiles[index];
}

}  // namespace larkspur
