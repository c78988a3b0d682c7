// A time window on a table's rows (--from, --to): the rows whose time
// stamp is at or after its start and before its end. Also the order of
// time stamps on the time line, which a merge sorts its recordings by.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "table/date_time.h"
#include "table/rows.h"

namespace tlq {

// A point on the time line: days and nanoseconds into the day, in UTC for a
// time stamp with a zone, else as written.
struct StampTime {
  int64_t day = 0;
  int64_t nanoseconds = 0;
  auto operator<=>(const StampTime&) const = default;
};

// The time as written, whatever its zone.
StampTime wallClockOf(const IsoDateTime& time);
// The time in UTC when it has a zone, else as written.
StampTime instantOf(const IsoDateTime& time);

// Where a time stamp stands for ordering: its instant where it has a zone,
// else the time as written; nothing for a text that reads as no date-time.
std::optional<StampTime> orderOf(std::string_view stamp);

// A bound of a window as the command line gives it: an ISO 8601 date
// ("2026-03-01", its midnight), or a date and a time of minutes
// ("2026-03-01T08:00"), seconds or a fraction of a second, with a zone
// ("Z", "+hh:mm") or none. Nothing for any other text.
std::optional<IsoDateTime> parseWindowBound(std::string_view text);

class TimeWindow {
 public:
  TimeWindow() = default;
  TimeWindow(std::optional<IsoDateTime> from, std::optional<IsoDateTime> to) : from_(from), to_(to) {}

  // A bound is given: rows without a time stamp are left out.
  bool active() const { return from_ || to_; }

  // The stamp is at or after the start and before the end. A bound with a
  // zone is compared as an instant with a stamp that has one; otherwise
  // the times are compared as written. A stamp that reads as no date-time
  // is outside.
  bool holds(std::string_view stamp) const;

  // The same for row `row` of `rows`, whose time stamps stand in column
  // `stampColumn`: a row without one is outside.
  bool holdsRow(const RowBlock& rows, size_t row, size_t stampColumn) const;

 private:
  std::optional<IsoDateTime> from_, to_;
};

}  // namespace tlq
