// Time stamps as a workbook holds them: ISO 8601 texts read into the
// workbook's day numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tlq {

struct IsoDateTime {
  // Days since 1899-12-30 with the time of day as their fraction: the time
  // as written, whatever its zone.
  double serial = 0;
  // The zone written after it: nothing for none, else minutes east of UTC
  // ("Z" is 0).
  std::optional<int> offsetMinutes;
};

// "YYYY-MM-DD" and "hh:mm:ss", joined by 'T' or a space, with a fraction of
// a second of any length (read to the nanosecond) and a zone or none ("Z",
// "+hh:mm", "+hhmm", "+hh" or the same with '-'). Nothing for any other text,
// an impossible date or time, a leap second, or a day a workbook cannot
// show (before 1900-03-01, where its calendar counts a day that never was).
std::optional<IsoDateTime> parseIsoDateTime(std::string_view text);

// The zone as the header of the time stamps names it: "UTC",
// "UTC+02:00", "UTC-05:30".
std::string zoneName(int offsetMinutes);

// Days since 1899-12-30 of a time given in nanoseconds since 1970-01-01
// UTC (a file's modification time).
double serialOfUnixNanoseconds(int64_t nanoseconds);

}  // namespace tlq
