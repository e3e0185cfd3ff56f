#include "rofs/symbian_time.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "rofs/rofs_errors.h"
#include "rofs/rofs_format.h"

namespace larkspur::rofs {
namespace {

constexpr std::int64_t kMicrosPerSecond = 1'000'000;
constexpr std::int64_t kSecondsPerDay = 86'400;

// Days from 1970-01-01 to y-m-d in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, std::int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const auto doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2);
}

unsigned DaysInMonth(std::int64_t year, unsigned month) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

// Reads between 1 and `max_digits` decimal digits at `pos`.
bool ReadNumber(std::string_view text, std::size_t& pos, std::size_t max_digits,
                std::int64_t& value) {
  std::size_t digits = 0;
  value = 0;
  while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < max_digits) {
    value = value * 10 + (text[pos] - '0');
    ++pos, ++digits;
  }
  return digits > 0;
}

bool Expect(std::string_view text, std::size_t& pos, char c) {
  if (pos >= text.size() || text[pos] != c) return false;
  ++pos;
  return true;
}

}  // namespace

std::int64_t SymbianTimeFromUnixSeconds(std::int64_t unix_seconds) {
  return unix_seconds * kMicrosPerSecond + kSymbianTimeOfUnixEpoch;
}

std::int64_t SymbianTimeNow() {
  const auto since_epoch = std::chrono::system_clock::now().time_since_epoch();
  return std::chrono::duration_cast<std::chrono::microseconds>(since_epoch).count() +
         kSymbianTimeOfUnixEpoch;
}

std::int64_t DefaultBuildTime() {
  const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
  if (epoch == nullptr || *epoch == '\0') return SymbianTimeNow();
  const std::string text(epoch);
  std::int64_t seconds = 0;
  for (char c : text) {
    // 4e12 seconds is beyond year 100000; anything larger is a mistake.
    if (c < '0' || c > '9' || seconds > 4'000'000'000'000) {
      throw RofsError("SOURCE_DATE_EPOCH=\"" + text + "\" is not a number of seconds since 1970");
    }
    seconds = seconds * 10 + (c - '0');
  }
  return SymbianTimeFromUnixSeconds(seconds);
}

std::optional<std::int64_t> ParseObeyTime(std::string_view text) {
  std::size_t pos = 0;
  std::int64_t day, month, year;
  std::int64_t hour = 10, minute = 10, second = 0, micro = 0;
  if (!ReadNumber(text, pos, 2, day) || !Expect(text, pos, '/') ||
      !ReadNumber(text, pos, 2, month) || !Expect(text, pos, '/') ||
      !ReadNumber(text, pos, 4, year)) {
    return std::nullopt;
  }
  if (pos < text.size()) {
    if (!Expect(text, pos, '_') || !ReadNumber(text, pos, 2, hour) || !Expect(text, pos, ':') ||
        !ReadNumber(text, pos, 2, minute) || !Expect(text, pos, ':') ||
        !ReadNumber(text, pos, 2, second)) {
      return std::nullopt;
    }
    if (pos < text.size() && (!Expect(text, pos, '.') || !ReadNumber(text, pos, 6, micro))) {
      return std::nullopt;
    }
  }
  if (pos != text.size()) return std::nullopt;
  if (year < 1970 || year > 2060 || month < 1 || month > 12 || day < 1 ||
      day > DaysInMonth(year, static_cast<unsigned>(month)) || hour > 23 || minute > 59 ||
      second > 59) {
    return std::nullopt;
  }
  const std::int64_t days =
      DaysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
  const std::int64_t seconds = days * kSecondsPerDay + hour * 3600 + minute * 60 + second;
  return SymbianTimeFromUnixSeconds(seconds) + micro;
}

std::optional<std::string> FormatObeyTime(std::int64_t symbian_time) {
  const std::int64_t first = *ParseObeyTime("01/01/1970_00:00:00");
  const std::int64_t last = *ParseObeyTime("31/12/2060_23:59:59.999999");
  if (symbian_time < first || symbian_time > last) return std::nullopt;
  const std::int64_t micros = symbian_time - kSymbianTimeOfUnixEpoch;
  const std::int64_t seconds = micros / kMicrosPerSecond;
  const std::int64_t second_of_day = seconds % kSecondsPerDay;
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(seconds / kSecondsPerDay, year, month, day);
  char text[40];
  std::snprintf(text, sizeof text, "%02u/%02u/%04lld_%02lld:%02lld:%02lld.%06lld", day, month,
                static_cast<long long>(year), static_cast<long long>(second_of_day / 3600),
                static_cast<long long>(second_of_day / 60 % 60), static_cast<long long>(second_of_day % 60),
                static_cast<long long>(micros % kMicrosPerSecond));
  return text;
}

std::string FormatSymbianTime(std::int64_t symbian_time) {
  // The header field is untrusted: keep the subtraction below from overflowing.
  if (symbian_time < std::numeric_limits<std::int64_t>::min() + kSymbianTimeOfUnixEpoch) {
    return "(before year -290000)";
  }
  std::int64_t micros = symbian_time - kSymbianTimeOfUnixEpoch;
  std::int64_t seconds = micros / kMicrosPerSecond;
  micros %= kMicrosPerSecond;
  if (micros < 0) micros += kMicrosPerSecond, --seconds;
  std::int64_t days = seconds / kSecondsPerDay;
  std::int64_t second_of_day = seconds % kSecondsPerDay;
  if (second_of_day < 0) second_of_day += kSecondsPerDay, --days;
  std::int64_t year;
  unsigned month, day;
  CivilFromDays(days, year, month, day);
  char text[64];
  std::snprintf(text, sizeof text, "%04lld-%02u-%02u %02lld:%02lld:%02lld.%06lld",
                static_cast<long long>(year), month, day,
                static_cast<long long>(second_of_day / 3600),
                static_cast<long long>(second_of_day / 60 % 60),
                static_cast<long long>(second_of_day % 60), static_cast<long long>(micros));
  return text;
}

}  // namespace larkspur::rofs
