#include "fat/fat_time.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>

namespace larkspur::fat {
namespace {

using std::chrono::file_clock;
using std::chrono::system_clock;

bool LocalTime(std::time_t seconds, std::tm& out) {
#ifdef _WIN32
  return localtime_s(&out, &seconds) == 0;
#else
  return localtime_r(&seconds, &out) != nullptr;
#endif
}

struct Fields {
  int year, month, day, hour, minute, second;
};

Fields Decode(FatTimestamp stamp) {
  Fields f{1980 + (stamp.date >> 9), (stamp.date >> 5) & 0x0F, stamp.date & 0x1F,
           stamp.time >> 11, (stamp.time >> 5) & 0x3F, (stamp.time & 0x1F) * 2};
  if (f.month < 1 || f.month > 12 || f.day < 1) {
    f = {1980, 1, 1, 0, 0, 0};
  }
  f.hour = std::min(f.hour, 23);
  f.minute = std::min(f.minute, 59);
  f.second = std::min(f.second, 58);
  return f;
}

}  // namespace

std::filesystem::file_time_type HostTimeFromFat(FatTimestamp stamp) {
  const Fields f = Decode(stamp);
  std::tm local{};
  local.tm_year = f.year - 1900;
  local.tm_mon = f.month - 1;
  local.tm_mday = f.day;
  local.tm_hour = f.hour;
  local.tm_min = f.minute;
  local.tm_sec = f.second;
  local.tm_isdst = -1;  // let the zone rules decide, as the writer's clock did
  const std::time_t seconds = std::mktime(&local);
  return file_clock::from_sys(system_clock::from_time_t(seconds));
}

FatTimestamp FatFromHostTime(std::filesystem::file_time_type time) {
  const auto system = std::chrono::time_point_cast<system_clock::duration>(file_clock::to_sys(time));
  // Round toward the past, also before 1970 where the division would not.
  auto seconds = std::chrono::floor<std::chrono::seconds>(system).time_since_epoch().count();
  std::tm local{};
  if (!LocalTime(static_cast<std::time_t>(seconds), local) || local.tm_year < 80) {
    return {static_cast<std::uint16_t>((0 << 9) | (1 << 5) | 1), 0};
  }
  if (local.tm_year > 207) {
    return {static_cast<std::uint16_t>((127 << 9) | (12 << 5) | 31),
            static_cast<std::uint16_t>((23 << 11) | (59 << 5) | 29)};
  }
  FatTimestamp stamp;
  stamp.date = static_cast<std::uint16_t>(((local.tm_year - 80) << 9) | ((local.tm_mon + 1) << 5) | local.tm_mday);
  stamp.time = static_cast<std::uint16_t>((local.tm_hour << 11) | (local.tm_min << 5) |
                                          (std::min(local.tm_sec, 59) / 2));
  return stamp;
}

std::string FatTimestampText(FatTimestamp stamp) {
  const Fields f = Decode(stamp);
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", f.year, f.month, f.day, f.hour,
                f.minute, f.second);
  return text;
}

}  // namespace larkspur::fat
