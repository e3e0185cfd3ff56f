// The image time stamp: microseconds since 00:00 on 1 January of year 0 in
// the Symbian calendar, which agrees with the proleptic Gregorian calendar
// from 1600 on (every date this tool handles). Times are UTC; nothing here
// shifts by a time zone. Pure functions; safe from any thread.
#ifndef LARKSPUR_ROFS_SYMBIAN_TIME_H_
#define LARKSPUR_ROFS_SYMBIAN_TIME_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace larkspur::rofs {

std::int64_t SymbianTimeFromUnixSeconds(std::int64_t unix_seconds);

// The host clock now, to the microsecond.
std::int64_t SymbianTimeNow();

// The time stamp of an image built without time=: SOURCE_DATE_EPOCH
// (seconds since 1970) when that is set, so builds can be reproduced,
// otherwise the clock now. Throws RofsError naming the variable when it is
// set to something that is not such a number.
std::int64_t DefaultBuildTime();

// Parses the obey form dd/mm/yyyy_hh:mm:ss[.micro] or the date alone (then
// 10:10:00), with a year from 1970 to 2060 and `micro` a number of
// microseconds (at most 6 digits). nullopt when the text does not have that
// form or names no real date or time of day.
std::optional<std::int64_t> ParseObeyTime(std::string_view text);

// The obey form of a time, dd/mm/yyyy_hh:mm:ss.micro, that ParseObeyTime
// reads back as the same time; nothing for a time outside its years (1970
// to 2060).
std::optional<std::string> FormatObeyTime(std::int64_t symbian_time);

// "2026-12-10 00:37:28.000000" for a listing.
std::string FormatSymbianTime(std::int64_t symbian_time);

}  // namespace larkspur::rofs

#endif  // LARKSPUR_ROFS_SYMBIAN_TIME_H_
