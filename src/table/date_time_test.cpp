#include "table/date_time.h"

#include <gtest/gtest.h>

namespace tlq {
namespace {

// The day number as the workbook counts it, with the time's fraction made
// from whole nanoseconds.
double serial(int days, int64_t nanosOfDay) { return days + static_cast<double>(nanosOfDay) / 86'400'000'000'000; }

TEST(IsoDateTime, EveryFormOfTheTextGivesItsDayNumber) {
  const int64_t tenOClock = int64_t{36'000} * 1'000'000'000;
  // 2024-05-03 is day 45415 of the workbook's calendar.
  struct Case {
    const char* text;
    double serial;
    std::optional<int> offset;
  } cases[] = {
      {"2024-05-03T10:00:00", serial(45415, tenOClock), std::nullopt},
      {"2024-05-03 10:00:00", serial(45415, tenOClock), std::nullopt},
      {"2024-05-03T10:00:00.000Z", serial(45415, tenOClock), 0},
      {"2024-05-03T10:00:00.5+02:00", serial(45415, tenOClock + 500'000'000), 120},
      {"2024-05-03T10:00:00,25-0530", serial(45415, tenOClock + 250'000'000), -330},
      {"2024-05-03T10:00:00.123456789123+01", serial(45415, tenOClock + 123'456'789), 60},
      {"1900-03-01T00:00:00", 61, std::nullopt},
      {"9999-12-31T23:59:59.999", serial(2958465, int64_t{86'399'999} * 1'000'000), std::nullopt},
      {"2024-02-29T00:00:00", 45351, std::nullopt},
  };
  for (const Case& c : cases) {
    std::optional<IsoDateTime> t = parseIsoDateTime(c.text);
    ASSERT_TRUE(t) << c.text;
    EXPECT_EQ(t->serial, c.serial) << c.text;  // exactly: one rounding
    EXPECT_EQ(t->offsetMinutes, c.offset) << c.text;
  }
}

TEST(IsoDateTime, AnythingElseIsNoDateTime) {
  for (const char* text :
       {"", "2024-05-03", "2024-05-03T10:00", "2024-05-03t10:00:00", "2024-02-30T10:00:00", "2023-02-29T00:00:00",
        "2024-13-01T00:00:00", "2024-05-03T24:00:00", "2024-05-03T10:60:00", "2024-05-03T10:00:60",
        "2024-05-03T10:00:00.", "2024-05-03T10:00:00Z ", "2024-05-03T10:00:00 Z", "2024-05-03T10:00:00+2",
        "2024-05-03T10:00:00+24:00", "2024-05-03T10:00:00+02:", "2024-05-03T10:00:00+02:00:00", "24-05-03T10:00:00",
        "1900-02-28T00:00:00", "1899-12-31T00:00:00", "+2024-05-03T10:00:00", "2024-05-03T10:00:00.5x",
        // No offset known (RFC 3339), not UTC.
        "2024-05-03T10:00:00-00:00", "2024-05-03T10:00:00-0000", "2024-05-03T10:00:00-00",
        // Past what a workbook shows.
        "9999-12-31T23:59:59.9991", " 2024-05-03T10:00:00Z"})
    EXPECT_FALSE(parseIsoDateTime(text)) << text;
}

// The reader that compares a date it has read before gives what reading
// each stamp afresh gives, whatever came before: the same date with any
// time, a valid date then an invalid one of the same length, a date beside
// the same date with the other separator, texts that are no stamps.
TEST(IsoDateTime, StampsReadOneAfterAnotherAsEachAlone) {
  const char* texts[] = {"2024-05-03T10:00:00",      "2024-05-03T10:00:00.5",  "2024-05-03T23:59:59.999+02:00",
                         "2024-05-03T24:00:00",      "2024-05-03T",            "2024-05-03T10:00",
                         "2024-05-03 10:00:00",      "2024-05-03T10:00:01",    "2024-05-04T00:00:00",
                         "2024-02-30T10:00:00",      "2024-05-04T00:00:01Z",   "",
                         "2024-05-04T00:00:02-00:00", "9999-12-31T23:59:59.999", "9999-12-31T23:59:59.9991",
                         "2024-05-04x00:00:00",      "2024-05-04T00:00:03",    "2023-02-29T00:00:00",
                         "2024-02-29T00:00:00",      "2024-02-29T12:00:00,25-0530",
                         // Like the one before but for the seconds: read, or refused, as alone.
                         "2024-05-03T10:00:00.500", "2024-05-03T10:00:01.700", "2024-05-03T10:00:0x.700",
                         "2024-05-03T10:00:60.700", "2024-05-03T10:00:59.7a0", "2024-05-03T10:00:59,700",
                         "2024-05-03T10:00:59.700", "2024-05-03T10:01:59.700", "2024-05-03T10:01:02.7001",
                         "2024-05-03T10:01:02+02:00", "2024-05-03T10:01:03-02:00", "2024-05-03T10:01:04-00:00",
                         "2024-05-03T10:01:05+02:00", "2024-05-03T10:01:06+02:0x", "2024-05-03 10:01:06+02:00",
                         "2024-05-03T10:01:07.123456789Z", "2024-05-03T10:01:08.123456789Z",
                         "2024-05-03T10:01:08.1234567891Z", "2024-05-03T10:01:09.1234567891Z",
                         // A new date whose time does not read, then a stamp like the last one read.
                         "2024-05-03T10:02:00.500", "2024-05-04T25:02:00.500", "2024-05-03T10:02:01.500",
                         "9999-12-31T23:59:58.999", "9999-12-31T23:59:59.999", "9999-12-31T23:59:59.000"};
  StampReader reader;
  for (const char* text : texts) {
    std::optional<IsoDateTime> alone = parseIsoDateTime(text), read = reader.read(text);
    ASSERT_EQ(read.has_value(), alone.has_value()) << text;
    if (!alone) continue;
    EXPECT_EQ(read->day, alone->day) << text;
    EXPECT_EQ(read->nanoseconds, alone->nanoseconds) << text;
    EXPECT_EQ(read->serial, alone->serial) << text;
    EXPECT_EQ(read->offsetMinutes, alone->offsetMinutes) << text;
  }
}

TEST(IsoDateTime, ZoneNames) {
  EXPECT_EQ(zoneName(0), "UTC");
  EXPECT_EQ(zoneName(120), "UTC+02:00");
  EXPECT_EQ(zoneName(-330), "UTC-05:30");
  EXPECT_EQ(zoneName(23 * 60 + 59), "UTC+23:59");
}

TEST(IsoDateTime, FileTimes) {
  EXPECT_EQ(serialOfUnixNanoseconds(0), 25569);
  EXPECT_EQ(serialOfUnixNanoseconds(int64_t{1'714'730'400} * 1'000'000'000), serial(45415, int64_t{36'000} * 1'000'000'000));
  EXPECT_EQ(serialOfUnixNanoseconds(-1'000'000'000), serial(25568, int64_t{86'399} * 1'000'000'000));
}

// The same time in UTC, exactly: the day and the nanoseconds moved apart,
// then one rounding.
TEST(IsoDateTime, UtcOfAZonedTime) {
  auto utc = [](const char* text) { return utcSerial(*parseIsoDateTime(text)); };
  EXPECT_EQ(utc("2024-05-03T10:00:00+02:00"), serial(45415, int64_t{8 * 3600} * 1'000'000'000));
  EXPECT_EQ(utc("2024-05-03T01:30:00.25+02:00"), serial(45414, (int64_t{23 * 3600 + 1800} * 1000 + 250) * 1'000'000));
  EXPECT_EQ(utc("2024-05-03T22:00:00-05:30"), serial(45416, int64_t{3 * 3600 + 1800} * 1'000'000'000));
  EXPECT_EQ(utc("2024-05-03T10:00:00Z"), parseIsoDateTime("2024-05-03T10:00:00")->serial);
  EXPECT_FALSE(utc("2024-05-03T10:00:00"));  // no zone: no UTC
  EXPECT_FALSE(utc("1900-03-01T00:30:00+01:00"));  // before the workbook's first day in UTC
  EXPECT_FALSE(utc("9999-12-31T23:00:00-02:00"));  // past its last
}

// Which time stamps become date-times, decided from all of them.
// What a stamp reads as, written again: the same time, the same zone.
TEST(IsoDateTime, ATimeReadIsWrittenAgainInIso8601) {
  for (const char* text : {"2026-11-17T09:14:00", "2026-03-29T03:05:00.5+02:00", "2024-05-03T10:00:00Z",
                           "1900-03-01T00:00:00.000000001-05:30", "9999-12-31T23:59:59.999", "2024-02-29T12:00:00+23:59"})
    EXPECT_EQ(isoText(*parseIsoDateTime(text)), text);
  EXPECT_EQ(isoText(*parseIsoDateTime("2026-11-17 09:14:00,250+0100")), "2026-11-17T09:14:00.25+01:00");
  EXPECT_EQ(isoText(*parseIsoDateTime("2026-11-17T09:14:00+00")), "2026-11-17T09:14:00Z");
}

TEST(TimeStampZones, OneOffsetAsWrittenSeveralInUtcAndTheRestText) {
  const char* summer = "2024-03-31T03:30:00+02:00";
  const char* winter = "2024-03-31T01:30:00+01:00";
  const char* local = "2024-03-31T01:30:00";

  TimeStampZones none;
  none.add(local);
  none.add("garbled");
  EXPECT_EQ(none.zone(), std::nullopt);
  EXPECT_TRUE(none.anyDateTime());
  EXPECT_EQ(none.serialOf(local), parseIsoDateTime(local)->serial);

  TimeStampZones one;
  one.add(" 2024-05-03T10:00:00Z");  // a garbled first stamp decides nothing
  one.add(winter);
  one.add(local);
  EXPECT_EQ(one.zone(), 60);
  EXPECT_EQ(one.serialOf(winter), parseIsoDateTime(winter)->serial);  // as written
  EXPECT_FALSE(one.serialOf(local));  // no zone among zoned ones: text

  TimeStampZones both;
  both.add(winter);
  TimeStampZones later;
  later.add(summer);
  both.merge(later);  // the zones of two pieces of the recording
  EXPECT_EQ(both.offsets(), (std::vector<int>{60, 120}));
  EXPECT_EQ(both.zone(), 0);
  EXPECT_EQ(both.serialOf(winter), serial(45382, int64_t{1800} * 1'000'000'000));  // in UTC
  EXPECT_EQ(both.serialOf(summer), serial(45382, int64_t{5400} * 1'000'000'000));
  EXPECT_FALSE(both.serialOf(local));
  EXPECT_FALSE(both.serialOf("2024-03-31T01:30:00-00:00"));
  EXPECT_EQ(both.serialOf(*parseIsoDateTime(summer)), both.serialOf(summer));  // a stamp read already alike
  EXPECT_FALSE(both.serialOf(*parseIsoDateTime(local)));

  TimeStampZones empty;
  EXPECT_FALSE(empty.anyDateTime());
  EXPECT_FALSE(empty.serialOf(winter));
}

TEST(TimeStampZones, TheStampsMajorityDecides) {
  const char* zoned = "2024-05-03T10:00:00Z";
  const char* local = "2024-05-03T10:00:01";

  // One zoned stamp first among many without a zone: those are the
  // date-times, the zoned one stays text and is counted.
  TimeStampZones mostLocal;
  mostLocal.add(zoned);
  TimeStampZones rest;
  for (int i = 0; i < 24'999; ++i) rest.add(local);
  mostLocal.merge(rest);
  EXPECT_EQ(mostLocal.zone(), std::nullopt);
  EXPECT_TRUE(mostLocal.offsets().empty());
  EXPECT_EQ(mostLocal.zonedAsText(), 1u);
  EXPECT_EQ(mostLocal.serialOf(local), parseIsoDateTime(local)->serial);
  EXPECT_FALSE(mostLocal.serialOf(zoned));

  // Most stamps zoned (or as many as not): the zoned ones are the date-times.
  TimeStampZones mostZoned;
  mostZoned.add(zoned);
  mostZoned.add(zoned);
  mostZoned.add(local);
  EXPECT_EQ(mostZoned.zone(), 0);
  EXPECT_EQ(mostZoned.zonedAsText(), 0u);
  EXPECT_TRUE(mostZoned.serialOf(zoned));
  EXPECT_FALSE(mostZoned.serialOf(local));
}

}  // namespace
}  // namespace tlq
