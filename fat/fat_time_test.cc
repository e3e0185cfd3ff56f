#include "fat/fat_time.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <string>

namespace larkspur::fat {
namespace {

FatTimestamp Stamp(int year, int month, int day, int hour, int minute, int second) {
  return {static_cast<std::uint16_t>(((year - 1980) << 9) | (month << 5) | day),
          static_cast<std::uint16_t>((hour << 11) | (minute << 5) | (second / 2))};
}

// An extracted file carries HostTimeFromFat of its stamp; the rebuild must
// read the same stamp back from it, or an untouched tree would change.
void ExpectStampsSurviveTheHost() {
  const FatTimestamp stamps[] = {
      Stamp(1980, 1, 1, 0, 0, 0),    Stamp(1999, 12, 31, 23, 59, 58), Stamp(2010, 3, 28, 2, 30, 10),
      Stamp(2010, 10, 31, 3, 30, 0), Stamp(2024, 2, 29, 12, 0, 4),    Stamp(2107, 12, 31, 23, 59, 58),
  };
  for (const FatTimestamp stamp : stamps) {
    const FatTimestamp back = FatFromHostTime(HostTimeFromFat(stamp));
    EXPECT_EQ(FatTimestampText(back), FatTimestampText(stamp));
    EXPECT_TRUE(back.date == stamp.date && back.time == stamp.time) << FatTimestampText(stamp);
  }
}

TEST(FatTimeTest, StampsSurviveATripThroughTheHostClock) { ExpectStampsSurviveTheHost(); }

#ifndef _WIN32
TEST(FatTimeTest, StampsSurviveInAZoneWithSummerTime) {
  // Eastern European time, given as rules so no zone database is needed;
  // 2010-10-31 03:30 happens twice there.
  const char* old = std::getenv("TZ");
  const std::string saved = old ? old : "";
  ::setenv("TZ", "EET-2EEST,M3.5.0/3,M10.5.0/4", 1);
  ::tzset();
  ExpectStampsSurviveTheHost();
  if (old) {
    ::setenv("TZ", saved.c_str(), 1);
  } else {
    ::unsetenv("TZ");
  }
  ::tzset();
}
#endif

TEST(FatTimeTest, HostTimesRoundDownToTwoSecondsAndClampToTheDateRange) {
  const auto stamp = Stamp(2021, 6, 15, 10, 20, 30);
  const auto host = HostTimeFromFat(stamp);
  EXPECT_EQ(FatTimestampText(FatFromHostTime(host + std::chrono::milliseconds(1999))), "2021-06-15 10:20:30");
  EXPECT_EQ(FatTimestampText(FatFromHostTime(host - std::chrono::milliseconds(1))), "2021-06-15 10:20:28");
  const auto early = HostTimeFromFat(Stamp(1980, 1, 1, 0, 0, 0)) - std::chrono::hours(24 * 400);
  EXPECT_EQ(FatTimestampText(FatFromHostTime(early)), "1980-01-01 00:00:00");
  const auto late = HostTimeFromFat(Stamp(2107, 12, 31, 23, 59, 58)) + std::chrono::hours(24 * 400);
  EXPECT_EQ(FatTimestampText(FatFromHostTime(late)), "2107-12-31 23:59:58");
  EXPECT_EQ(FatTimestampText({0, 0}), "1980-01-01 00:00:00");  // no date: the epoch
}

}  // namespace
}  // namespace larkspur::fat
