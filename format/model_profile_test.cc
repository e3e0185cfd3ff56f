#include "format/model_profile.h"

#include <gtest/gtest.h>

#include "format/block_header.h"

namespace larkspur {
namespace {

TEST(ModelProfileTest, OnlyTheN96ProfileDiffersBetweenRofsAndUda) {
  for (int index = 0; index < kModelCount; ++index) {
    const ModelProfile& p = ProfileForModel(index);
    EXPECT_EQ(p.RofsBlockSize, p.UdaBlockSize);
    EXPECT_EQ(p.AddressLength, 4);
    // Header sizes and address positions agree with the header layouts.
    for (auto [size, index_1based] : {std::pair{p.RofsHeaderSize, p.RofsAddressIndex},
                                      std::pair{p.UdaHeaderSize, p.UdaAddressIndex}}) {
      const auto layout = LayoutForHeaderSize(size);
      ASSERT_TRUE(layout);
      EXPECT_EQ(layout->address_offset + 1, index_1based);
    }
    EXPECT_EQ(p.RofsSignatureHex == p.UdaSignatureHex, index != kN96ModelIndex);
  }
  EXPECT_EQ(ProfileForModel(1).UdaSignatureHex, "54013015010100");
  EXPECT_EQ(ProfileForModel(1).UdaTypeFieldHex, "00000000FFFFFFFF");
  EXPECT_EQ(ProfileForModel(0).RofsBlockSize, 0x40000);
  EXPECT_EQ(ProfileForModel(2).OpenDialogFilterIndex, 2);
  EXPECT_EQ(ProfileForModel(3).OpenDialogFilterIndex, 1);
  EXPECT_STREQ(ModelItemText(0), "手机型号(5530, 5800, N97, N86)");
  EXPECT_THROW(ProfileForModel(-1), std::out_of_range);
}

}  // namespace
}  // namespace larkspur
