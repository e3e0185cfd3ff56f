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

// The profiles the window holds are made from the block formats: they must
// be the table users of the old program know, value for value.
TEST(ModelProfileTest, TheProfilesAreTheKnownTable) {
  const ModelProfile expected[kModelCount] = {
      {0x40000, 0x40000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 1},
      {0x8000, 0x8000, "5401170E010100", "54013015010100", 19, 26, 15, 22, 4, "01", "00000000FFFFFFFF", 1},
      {0x20000, 0x20000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 2},
      {0x20000, 0x20000, "5401170E000300", "5401170E000300", 19, 19, 15, 15, 4, "01", "01", 1},
  };
  for (int model = 0; model < kModelCount; ++model) {
    EXPECT_EQ(ProfileForModel(model), expected[model]) << model;
    for (const PartitionKind kind : {PartitionKind::kRofs, PartitionKind::kUda}) {
      const BlockFormat& format = BlockFormatOf(model, kind);
      EXPECT_EQ(format.short_first_block, model == kN96ModelIndex && kind == PartitionKind::kRofs) << model;
      EXPECT_EQ(format.padding_byte, kind == PartitionKind::kRofs ? '\xFF' : '\0') << model;
      const auto layout = LayoutForHeaderSize(format.header_size);
      ASSERT_TRUE(layout);
      EXPECT_EQ(format.length_offset, layout->length_offset);
      EXPECT_EQ(format.address_offset, layout->address_offset);
      EXPECT_EQ(format.header_size, 7 + 2 + static_cast<int>(format.type_field.size()) + 4 + 4 + 1);
    }
  }
  EXPECT_EQ(KindFromName(KindName(PartitionKind::kUda)), PartitionKind::kUda);
  EXPECT_EQ(KindFromName("rofs"), std::nullopt);
}

}  // namespace
}  // namespace larkspur
