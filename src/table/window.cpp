#include "table/window.h"

namespace tlq {

namespace {

constexpr int64_t kNanosecondsPerDay = 86'400'000'000'000;
constexpr int64_t kNanosecondsPerMinute = 60'000'000'000;

// The bound and the stamp compared: below zero when the stamp is earlier.
std::strong_ordering compared(const IsoDateTime& stamp, const IsoDateTime& bound) {
  if (stamp.offsetMinutes && bound.offsetMinutes) return instantOf(stamp) <=> instantOf(bound);
  return wallClockOf(stamp) <=> wallClockOf(bound);
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

StampTime wallClockOf(const IsoDateTime& time) { return {time.day, time.nanoseconds}; }

StampTime instantOf(const IsoDateTime& time) {
  if (!time.offsetMinutes) return wallClockOf(time);
  int64_t nanoseconds = time.nanoseconds - *time.offsetMinutes * kNanosecondsPerMinute;
  int64_t day = time.day;
  while (nanoseconds < 0) {
    nanoseconds += kNanosecondsPerDay;
    --day;
  }
  while (nanoseconds >= kNanosecondsPerDay) {
    nanoseconds -= kNanosecondsPerDay;
    ++day;
  }
  return {day, nanoseconds};
}

std::optional<StampTime> orderOf(std::string_view stamp) {
  std::optional<IsoDateTime> time = parseIsoDateTime(stamp);
  if (!time) return std::nullopt;
  return instantOf(*time);
}

std::optional<IsoDateTime> parseWindowBound(std::string_view text) {
  // The short forms made whole: a date alone is its midnight, a time of
  // minutes has its seconds at zero.
  std::string whole(text);
  if (whole.size() == 10) {
    whole += "T00:00:00";
  } else if (whole.size() >= 16 && (whole[10] == 'T' || whole[10] == ' ') && isDigit(whole[14]) &&
             isDigit(whole[15]) && (whole.size() == 16 || whole[16] != ':')) {
    whole.insert(16, ":00");
  }
  return parseIsoDateTime(whole);
}

bool TimeWindow::holds(std::string_view stamp) const {
  std::optional<IsoDateTime> time = parseIsoDateTime(stamp);
  if (!time) return false;
  if (from_ && compared(*time, *from_) < 0) return false;
  if (to_ && compared(*time, *to_) >= 0) return false;
  return true;
}

bool TimeWindow::holdsRow(const RowBlock& rows, size_t row, size_t stampColumn) const {
  const Cell& cell = rows.cell(row, stampColumn);
  if (cell.kind != CellKind::text && cell.kind != CellKind::dateTime) return false;
  return holds(rows.textOf(cell));
}

}  // namespace tlq
