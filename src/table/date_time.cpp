#include "table/date_time.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tlq {

namespace {

constexpr int64_t kNanosecondsPerDay = 86'400'000'000'000;

// Days from 1970-01-01 to the civil date (proleptic Gregorian calendar).
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

// The civil date of days from 1970-01-01 (the inverse of daysFromCivil).
void civilFromDays(int64_t z, int64_t& y, unsigned& m, unsigned& d) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = doy - (153 * mp + 2) / 5 + 1;
  m = mp < 10 ? mp + 3 : mp - 9;
  y = static_cast<int64_t>(yoe) + era * 400 + (m <= 2);
}

// 1899-12-30, the workbook's day 0, from 1970-01-01.
constexpr int64_t kSerialEpoch = -25569;

// What a workbook shows: from 1900-03-01 (day 61) to 9999-12-31
// 23:59:59.999 (day 2958465).
constexpr int64_t kFirstDay = 61, kLastDay = 2958465;
constexpr int64_t kLastNanoseconds = 86'399'999'000'000;

bool shown(int64_t day, int64_t nanoseconds) {
  return day >= kFirstDay && (day < kLastDay || (day == kLastDay && nanoseconds <= kLastNanoseconds));
}

// Both terms exact; one rounding for the fraction, one for the sum.
double serialOf(int64_t day, int64_t nanoseconds) {
  return static_cast<double>(day) + static_cast<double>(nanoseconds) / kNanosecondsPerDay;
}

unsigned daysInMonth(int64_t y, unsigned m) {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return m == 2 && leap ? 29 : kDays[m - 1];
}

// Reads exactly `n` digits at `p`.
bool digits(std::string_view text, size_t& p, size_t n, unsigned& value) {
  if (p + n > text.size()) return false;
  value = 0;
  for (size_t i = 0; i < n; ++i) {
    char c = text[p + i];
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  p += n;
  return true;
}

bool twoDigits(const char* p, unsigned& value) {
  const unsigned tens = static_cast<unsigned char>(p[0]) - '0', ones = static_cast<unsigned char>(p[1]) - '0';
  value = tens * 10 + ones;
  return tens <= 9 && ones <= 9;
}

bool expect(std::string_view text, size_t& p, char c) {
  if (p >= text.size() || text[p] != c) return false;
  ++p;
  return true;
}

}  // namespace

namespace {

// The date and the 'T' or space after it: its day number (days since
// 1899-12-30), or nothing.
std::optional<int64_t> readDate(std::string_view text) {
  size_t p = 0;
  unsigned year, month, day;
  if (!digits(text, p, 4, year) || !expect(text, p, '-') || !digits(text, p, 2, month) || !expect(text, p, '-') ||
      !digits(text, p, 2, day))
    return std::nullopt;
  if (p >= text.size() || (text[p] != 'T' && text[p] != ' ')) return std::nullopt;
  if (month < 1 || month > 12 || day < 1 || day > daysInMonth(year, month)) return std::nullopt;
  return daysFromCivil(year, month, day) - kSerialEpoch;
}

constexpr size_t kDateLength = 11;  // "YYYY-MM-DDT"

// The rest of a stamp, after the date's kDateLength characters, on the day
// `day`.
std::optional<IsoDateTime> readTimeOfDay(std::string_view text, int64_t day) {
  // "hh:mm:ss", in place.
  constexpr size_t kTimeEnd = kDateLength + 8;
  if (text.size() < kTimeEnd || text[kDateLength + 2] != ':' || text[kDateLength + 5] != ':') return std::nullopt;
  unsigned hour, minute, second;
  if (!twoDigits(text.data() + kDateLength, hour) || !twoDigits(text.data() + kDateLength + 3, minute) ||
      !twoDigits(text.data() + kDateLength + 6, second))
    return std::nullopt;
  size_t p = kTimeEnd;
  if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
  int64_t nanos = 0;
  if (p < text.size() && (text[p] == '.' || text[p] == ',')) {
    // Any length, read to the nanosecond.
    static constexpr int64_t kScale[] = {1'000'000'000, 100'000'000, 10'000'000, 1'000'000, 100'000,
                                         10'000,        1'000,       100,        10,        1};
    const size_t first = ++p;
    size_t read = 0;
    for (; p < text.size() && static_cast<unsigned>(text[p] - '0') <= 9; ++p) {
      if (read == 9) continue;
      nanos = nanos * 10 + (text[p] - '0');
      ++read;
    }
    if (p == first) return std::nullopt;
    nanos *= kScale[read];
  }
  std::optional<int> offset;
  if (p < text.size()) {
    if (text[p] == 'Z') {
      ++p;
      offset = 0;
    } else if (text[p] == '+' || text[p] == '-') {
      int sign = text[p++] == '-' ? -1 : 1;
      unsigned hours, minutes = 0;
      if (!digits(text, p, 2, hours)) return std::nullopt;
      if (p < text.size()) {
        expect(text, p, ':');
        if (!digits(text, p, 2, minutes)) return std::nullopt;
      }
      if (hours > 23 || minutes > 59) return std::nullopt;
      if (sign < 0 && hours == 0 && minutes == 0) return std::nullopt;  // "-00:00": no offset known
      offset = sign * static_cast<int>(hours * 60 + minutes);
    }
    if (p != text.size()) return std::nullopt;
  }
  const int64_t nanoseconds = ((hour * 60 + minute) * 60 + second) * int64_t{1'000'000'000} + nanos;
  if (!shown(day, nanoseconds)) return std::nullopt;
  // Made whole at once: a time begun empty and filled in costs more than
  // the reading of its text.
  return IsoDateTime{day, nanoseconds, serialOf(day, nanoseconds), offset};
}

}  // namespace

std::optional<IsoDateTime> parseIsoDateTime(std::string_view text) {
  std::optional<int64_t> day = readDate(text);
  if (!day) return std::nullopt;
  return readTimeOfDay(text, *day);
}

std::optional<IsoDateTime> StampReader::read(std::string_view text) {
  // The same date, hour and minute as the last stamp, the same length and
  // the same zone: only the seconds and their fraction are read.
  constexpr size_t kSeconds = kDateLength + 6;  // "YYYY-MM-DDThh:mm:"
  if (sameShape_ && text.size() == size_ && std::memcmp(text.data(), last_, kSeconds) == 0 &&
      std::memcmp(text.data() + zoneAt_, last_ + zoneAt_, size_ - zoneAt_) == 0 &&
      (zoneAt_ == kSeconds + 2 || text[kSeconds + 2] == last_[kSeconds + 2])) {
    unsigned second;
    bool digitsOnly = twoDigits(text.data() + kSeconds, second) && second <= 59;
    int64_t fraction = 0;
    for (size_t p = kSeconds + 3; p < zoneAt_; ++p) {
      const unsigned digit = static_cast<unsigned char>(text[p]) - '0';
      digitsOnly &= digit <= 9;
      fraction = fraction * 10 + digit;
    }
    const int64_t nanoseconds = minute_ + second * int64_t{1'000'000'000} + fraction * fractionScale_;
    if (digitsOnly && shown(shapeDay_, nanoseconds))
      return IsoDateTime{shapeDay_, nanoseconds, serialOf(shapeDay_, nanoseconds), offset_};
  }
  if (!(known_ && text.size() > kDateLength && std::memcmp(text.data(), date_, kDateLength) == 0)) {
    std::optional<int64_t> day = readDate(text);
    if (!day) return std::nullopt;
    text.copy(date_, kDateLength);
    day_ = *day;
    known_ = true;
  }
  std::optional<IsoDateTime> time = readTimeOfDay(text, day_);
  if (!time) return time;
  // Its shape, for the stamps after it: where its fraction's digits end
  // (up to nine of them) and its zone begins.
  size_t p = kSeconds + 2;
  if (p < text.size() && (text[p] == '.' || text[p] == ',')) {
    ++p;
    while (p < text.size() && static_cast<unsigned>(text[p] - '0') <= 9) ++p;
  }
  const size_t fractionDigits = p > kSeconds + 3 ? p - (kSeconds + 3) : 0;
  sameShape_ = text.size() <= sizeof last_ && fractionDigits <= 9;
  if (sameShape_) {
    text.copy(last_, text.size());
    size_ = text.size();
    zoneAt_ = p;
    shapeDay_ = day_;
    fractionScale_ = 1;
    for (size_t d = fractionDigits; d < 9; ++d) fractionScale_ *= 10;
    const int64_t secondsNanoseconds = time->nanoseconds % (int64_t{60} * 1'000'000'000);
    minute_ = time->nanoseconds - secondsNanoseconds;
    offset_ = time->offsetMinutes;
  }
  return time;
}

std::optional<double> utcSerial(const IsoDateTime& time) {
  if (!time.offsetMinutes) return std::nullopt;
  int64_t day = time.day;
  int64_t nanoseconds = time.nanoseconds - *time.offsetMinutes * int64_t{60'000'000'000};
  if (nanoseconds < 0) {
    nanoseconds += kNanosecondsPerDay;
    --day;
  } else if (nanoseconds >= kNanosecondsPerDay) {
    nanoseconds -= kNanosecondsPerDay;
    ++day;
  }
  if (!shown(day, nanoseconds)) return std::nullopt;
  return serialOf(day, nanoseconds);
}

std::string isoText(const IsoDateTime& time) {
  int64_t year;
  unsigned month, day;
  civilFromDays(time.day + kSerialEpoch, year, month, day);
  const int64_t seconds = time.nanoseconds / 1'000'000'000;
  int64_t fraction = time.nanoseconds % 1'000'000'000;
  char text[64];
  int n = std::snprintf(text, sizeof text, "%04lld-%02u-%02uT%02lld:%02lld:%02lld", static_cast<long long>(year), month,
                        day, static_cast<long long>(seconds / 3600), static_cast<long long>(seconds / 60 % 60),
                        static_cast<long long>(seconds % 60));
  std::string out(text, static_cast<size_t>(n));
  if (fraction > 0) {
    int digits = 9;
    while (fraction % 10 == 0) {
      fraction /= 10;
      --digits;
    }
    n = std::snprintf(text, sizeof text, ".%0*lld", digits, static_cast<long long>(fraction));
    out.append(text, static_cast<size_t>(n));
  }
  if (time.offsetMinutes) {
    const int m = *time.offsetMinutes;
    if (m == 0) {
      out += 'Z';
    } else {
      n = std::snprintf(text, sizeof text, "%c%02d:%02d", m < 0 ? '-' : '+', std::abs(m) / 60, std::abs(m) % 60);
      out.append(text, static_cast<size_t>(n));
    }
  }
  return out;
}

std::string zoneName(int offsetMinutes) {
  if (offsetMinutes == 0) return "UTC";
  int m = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
  char text[] = "UTC+00:00";
  text[3] = offsetMinutes < 0 ? '-' : '+';
  text[4] = static_cast<char>('0' + m / 600);
  text[5] = static_cast<char>('0' + m / 60 % 10);
  text[7] = static_cast<char>('0' + m % 60 / 10);
  text[8] = static_cast<char>('0' + m % 10);
  return text;
}

double serialOfUnixNanoseconds(int64_t nanoseconds) {
  int64_t days = nanoseconds / kNanosecondsPerDay;
  int64_t rest = nanoseconds % kNanosecondsPerDay;
  if (rest < 0) {
    rest += kNanosecondsPerDay;
    --days;
  }
  return serialOf(days - kSerialEpoch, rest);
}

void TimeStampZones::add(std::string_view stamp) {
  std::optional<IsoDateTime> time = parseIsoDateTime(stamp);
  if (!time) return;
  if (!time->offsetMinutes) {
    ++unzoned_;
    return;
  }
  ++zoned_;
  addOffset(*time->offsetMinutes);
}

void TimeStampZones::addOffset(int offset) {
  auto at = std::lower_bound(offsets_.begin(), offsets_.end(), offset);
  if (at == offsets_.end() || *at != offset) offsets_.insert(at, offset);
}

void TimeStampZones::merge(const TimeStampZones& other) {
  unzoned_ += other.unzoned_;
  zoned_ += other.zoned_;
  for (int offset : other.offsets_) addOffset(offset);
}

std::optional<double> TimeStampZones::serialOf(std::string_view stamp) const {
  std::optional<IsoDateTime> time = parseIsoDateTime(stamp);
  if (!time) return std::nullopt;
  return serialOf(*time);
}

std::optional<double> TimeStampZones::serialOf(const IsoDateTime& stamp) const {
  const IsoDateTime* time = &stamp;
  if (offsets_.empty() || unzonedRule()) return time->offsetMinutes ? std::nullopt : std::optional<double>(time->serial);
  if (!time->offsetMinutes) return std::nullopt;
  if (offsets_.size() == 1) return *time->offsetMinutes == offsets_[0] ? std::optional<double>(time->serial) : std::nullopt;
  return utcSerial(*time);
}

std::optional<int> TimeStampZones::zone() const {
  if (offsets_.empty() || unzonedRule()) return std::nullopt;
  return offsets_.size() == 1 ? offsets_[0] : 0;
}

}  // namespace tlq
