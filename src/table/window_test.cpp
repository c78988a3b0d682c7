#include "table/window.h"

#include <gtest/gtest.h>

namespace tlq {
namespace {

TimeWindow between(const char* from, const char* to) {
  return TimeWindow(from ? parseWindowBound(from) : std::nullopt, to ? parseWindowBound(to) : std::nullopt);
}

TEST(TimeWindow, BoundsReadInTheShortForms) {
  for (const char* text : {"2026-03-01", "2026-03-01T08:00", "2026-03-01T08:00:00", "2026-03-01T08:00:00.000",
                           "2026-03-01T08:00Z", "2026-03-01T08:00:00+02:00", "2026-03-01 08:00", "2026-03-01T08:00-05:30"})
    EXPECT_TRUE(parseWindowBound(text)) << text;
  for (const char* text : {"", "2026", "2026-03", "2026-3-1", "2026-03-01T8:00", "2026-03-01T08", "2026-02-30",
                           "yesterday", "2026-03-01T08:00:00x", "2026-03-01T24:00"})
    EXPECT_FALSE(parseWindowBound(text)) << text;
  EXPECT_EQ(parseWindowBound("2026-03-01")->nanoseconds, 0);
  EXPECT_EQ(parseWindowBound("2026-03-01T08:30")->nanoseconds, (8 * 60 + 30) * 60'000'000'000LL);
}

TEST(TimeWindow, FromIsInToIsOut) {
  TimeWindow w = between("2026-03-01T08:00", "2026-03-01T09:00");
  EXPECT_FALSE(w.holds("2026-03-01T07:59:59.999"));
  EXPECT_TRUE(w.holds("2026-03-01T08:00:00"));
  EXPECT_TRUE(w.holds("2026-03-01T08:59:59.999999999"));
  EXPECT_FALSE(w.holds("2026-03-01T09:00:00"));
  EXPECT_FALSE(w.holds("10:00:00"));  // no date-time: left out
  EXPECT_FALSE(w.holds(""));
  EXPECT_TRUE(between("2026-03-01", nullptr).holds("2026-03-01T00:00:00"));
  EXPECT_FALSE(between(nullptr, "2026-03-01").holds("2026-03-01T00:00:00"));
  EXPECT_TRUE(between(nullptr, "2026-03-01").holds("2026-02-28T23:59:59"));
  EXPECT_FALSE(TimeWindow().active());
  EXPECT_TRUE(w.active());
}

TEST(TimeWindow, ZonesCompareAsInstantsWhereBothHaveOne) {
  TimeWindow w = between("2026-03-01T08:00Z", "2026-03-01T09:00Z");
  EXPECT_TRUE(w.holds("2026-03-01T10:00:00+02:00"));    // 08:00 UTC
  EXPECT_FALSE(w.holds("2026-03-01T11:00:00+02:00"));   // 09:00 UTC
  EXPECT_FALSE(w.holds("2026-03-01T08:00:00-01:00"));   // 09:00 UTC
  EXPECT_TRUE(w.holds("2026-03-01T07:59:00-01:00"));    // 08:59 UTC
  EXPECT_TRUE(w.holds("2026-03-01T08:30:00"));          // no zone: as written
  EXPECT_FALSE(w.holds("2026-03-01T10:00:00"));
  // A bound without a zone: the stamps as written, whatever their zones.
  TimeWindow plain = between("2026-03-01T08:00", "2026-03-01T09:00");
  EXPECT_TRUE(plain.holds("2026-03-01T08:00:00+02:00"));
  EXPECT_FALSE(plain.holds("2026-03-01T10:00:00+02:00"));
  // Across midnight in UTC.
  EXPECT_TRUE(between("2026-02-28T23:00Z", "2026-03-01T00:00Z").holds("2026-03-01T00:30:00+01:00"));
}

TEST(TimeWindow, OrderIsTheInstantWhereThereIsAZone) {
  EXPECT_LT(*orderOf("2026-03-01T09:00:00+02:00"), *orderOf("2026-03-01T08:00:00Z"));
  EXPECT_EQ(*orderOf("2026-03-01T10:00:00+02:00"), *orderOf("2026-03-01T08:00:00Z"));
  EXPECT_FALSE(orderOf("10:00:01"));
}

}  // namespace
}  // namespace tlq
