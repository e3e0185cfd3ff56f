#include "rofs/symbian_time.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rofs/rofs_format.h"

namespace larkspur::rofs {
namespace {

TEST(SymbianTimeTest, ParsesTheObeyForms) {
  const std::vector<std::pair<std::string, std::int64_t>> cases = {
      {"02/03/2010_04:05:06", 63'435'758'706'000'000},  // value the reference builder wrote
      {"01/01/1970_00:00:00", kSymbianTimeOfUnixEpoch},
      {"1/1/1970", kSymbianTimeOfUnixEpoch + (10 * 3600 + 10 * 60) * 1'000'000LL},
      {"29/02/2024_23:59:59.5", SymbianTimeFromUnixSeconds(1'709'251'199) + 5},
      {"31/12/2060_12:00:00.999999", SymbianTimeFromUnixSeconds(2'871'720'000) + 999'999},
  };
  for (const auto& [text, expected] : cases) {
    EXPECT_EQ(ParseObeyTime(text), expected) << text;
  }
}

TEST(SymbianTimeTest, RefusesWhatIsNoDateOrTime) {
  for (const char* text :
       {"", "2010-03-02", "29/02/2023", "31/04/2010", "00/01/2010", "01/13/2010", "01/01/1969",
        "01/01/2061", "01/01/2010_24:00:00", "01/01/2010_10:60:00", "01/01/2010_10:00",
        "01/01/2010 10:00:00", "01/01/2010_10:00:00.1234567", "01/01/2010_10:00:00x"}) {
    EXPECT_EQ(ParseObeyTime(text), std::nullopt) << text;
  }
}

TEST(SymbianTimeTest, FormatsForListings) {
  EXPECT_EQ(FormatSymbianTime(0x00E33FEFD6DF2200), "2026-12-10 00:37:28.000000");
  EXPECT_EQ(FormatSymbianTime(kSymbianTimeOfUnixEpoch - 1), "1969-12-31 23:59:59.999999");
  EXPECT_EQ(FormatSymbianTime(INT64_MIN), "(before year -290000)");
}

TEST(SymbianTimeTest, ObeyTimesFormatAndReadBackAsTheSameTime) {
  for (const char* text : {"01/01/1970_00:00:00.000000", "02/03/2010_04:05:06.123456", "29/02/2024_23:59:59.999999",
                           "31/12/2060_23:59:59.999999"}) {
    const auto time = ParseObeyTime(text);
    ASSERT_TRUE(time) << text;
    EXPECT_EQ(FormatObeyTime(*time), text);
  }
  EXPECT_FALSE(FormatObeyTime(*ParseObeyTime("01/01/1970") - 10 * 3600 * 1000000LL - 600 * 1000000LL - 1));
  EXPECT_FALSE(FormatObeyTime(*ParseObeyTime("31/12/2060_23:59:59.999999") + 1));
}

}  // namespace
}  // namespace larkspur::rofs
