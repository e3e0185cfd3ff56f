// FAT time stamps: a date and a 2-second time in the local time of the
// machine that wrote them, as DOS and every FAT driver keep them. Pure
// functions of the clock and the local time zone; safe from any thread.
#ifndef LARKSPUR_FAT_FAT_TIME_H_
#define LARKSPUR_FAT_FAT_TIME_H_

#include <cstdint>
#include <filesystem>
#include <string>

namespace larkspur::fat {

struct FatTimestamp {
  std::uint16_t date = 0;  // bits 15-9 year since 1980, 8-5 month, 4-0 day
  std::uint16_t time = 0;  // bits 15-11 hour, 10-5 minute, 4-0 seconds / 2
};

// The host time of a stamp read as local time. A stamp with no valid date
// (day or month 0, as some writers leave it) reads as 1980-01-01 00:00:00;
// out-of-range hours, minutes and seconds are clamped.
std::filesystem::file_time_type HostTimeFromFat(FatTimestamp stamp);

// The stamp for a host time in local time, rounded down to 2 seconds and
// clamped to the years 1980..2107 that the date field holds.
FatTimestamp FatFromHostTime(std::filesystem::file_time_type time);

// "2024-05-17 13:45:08", for listings.
std::string FatTimestampText(FatTimestamp stamp);

}  // namespace larkspur::fat

#endif  // LARKSPUR_FAT_FAT_TIME_H_
