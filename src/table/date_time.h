// Time stamps as date-times: ISO 8601 texts read into a workbook's day
// numbers, and the zone they are shown in, decided from all of a table's
// time stamps.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tlq {

struct IsoDateTime {
  // The time as written, whatever its zone: days since 1899-12-30 (the
  // workbook's day 0) and nanoseconds into the day; their day number, the
  // time of day its fraction.
  int64_t day = 0;
  int64_t nanoseconds = 0;
  double serial = 0;
  // The zone written after it: nothing for none, else minutes east of UTC
  // ("Z" is 0).
  std::optional<int> offsetMinutes;
};

// "YYYY-MM-DD" and "hh:mm:ss", joined by 'T' or a space, with a fraction of
// a second of any length (read to the nanosecond) and a zone or none ("Z",
// "+hh:mm", "+hhmm", "+hh" or the same with '-'). Nothing for any other text,
// an impossible date or time, a leap second, a zone of minus zero ("-00:00":
// the offset is not known), or a time a workbook cannot show: before
// 1900-03-01 (where its calendar counts a day that never was) or past
// 9999-12-31 23:59:59.999.
std::optional<IsoDateTime> parseIsoDateTime(std::string_view text);

// Reads time stamps one after another as parseIsoDateTime does, faster
// where a stamp is like the last one read: of the same length, date, hour,
// minute and zone, only its seconds are read (most of a recording's
// stamps); of the same date, its time of day.
class StampReader {
 public:
  std::optional<IsoDateTime> read(std::string_view text);

 private:
  char date_[11] = {};  // the last date read, with the 'T' or space after it
  int64_t day_ = 0;
  bool known_ = false;
  // The last stamp read, when it is short enough to hold and its fraction
  // has at most nine digits.
  bool sameShape_ = false;
  char last_[40] = {};
  size_t size_ = 0, zoneAt_ = 0;  // its length; where its fraction ends
  int64_t shapeDay_ = 0;          // its day
  int64_t minute_ = 0;            // its hour and minute, in nanoseconds of the day
  int64_t fractionScale_ = 1;     // nanoseconds of its fraction's last digit
  std::optional<int> offset_;
};

// The day number of the same time in UTC; nothing when it has no zone or
// falls outside what a workbook shows.
std::optional<double> utcSerial(const IsoDateTime& time);

// The time in ISO 8601 with its zone, the fraction of a second only where
// there is one and as long as it needs: "2026-11-17T09:14:00",
// "2026-03-29T03:05:00.5+02:00", "2024-05-03T10:00:00Z".
std::string isoText(const IsoDateTime& time);

// The zone as the header of the time stamps names it: "UTC",
// "UTC+02:00", "UTC-05:30".
std::string zoneName(int offsetMinutes);

// Days since 1899-12-30 of a time given in nanoseconds since 1970-01-01
// UTC (a file's modification time).
double serialOfUnixNanoseconds(int64_t nanoseconds);

// The zones of a table's time stamps, gathered from every one of them, and
// what a stamp's cell holds then:
// - no stamp has a zone, or most stamps have none: the stamps without one
//   are date-times as written (the few zoned ones stay text);
// - else, when every zoned stamp has the same offset: those are date-times as written,
//   in that zone (a stamp without a zone among them stays text);
// - the offsets differ (summer time): every zoned stamp is a date-time in
//   UTC (a stamp without a zone stays text).
// Any other text stays text.
class TimeStampZones {
 public:
  void add(std::string_view stamp);
  void merge(const TimeStampZones& other);
  void clear() { *this = TimeStampZones(); }

  // The day number of the stamp's cell, or nothing where it stays text.
  std::optional<double> serialOf(std::string_view stamp) const;
  // The same for a stamp already read.
  std::optional<double> serialOf(const IsoDateTime& time) const;

  // The zone the date-times are shown in: nothing for times as written
  // without a zone.
  std::optional<int> zone() const;
  // The offsets of the zoned date-times, ascending: none when most stamps
  // have no zone.
  const std::vector<int>& offsets() const { return unzonedRule() ? kNone : offsets_; }
  // Some stamp is a date-time.
  bool anyDateTime() const { return !offsets_.empty() || unzoned_ > 0; }
  // How many stamps with a zone stay text because most have none.
  uint64_t zonedAsText() const { return unzonedRule() ? zoned_ : 0; }

 private:
  void addOffset(int offset);

  // Most stamps have no zone: they are the date-times.
  bool unzonedRule() const { return unzoned_ > zoned_; }

  static inline const std::vector<int> kNone;
  std::vector<int> offsets_;
  uint64_t zoned_ = 0;    // date-times with a zone
  uint64_t unzoned_ = 0;  // date-times without one
};

}  // namespace tlq
