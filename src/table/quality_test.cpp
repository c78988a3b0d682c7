#include "table/quality.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <limits>
#include <string>
#include <vector>

namespace tlq {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// A row as the conversion makes it: a time stamp (none for nullptr), the
// first inclinometer's reading (no payload when `inclino` is false), a
// force (no payload when `force` is false).
struct Row {
  const char* stamp = nullptr;
  double x = 0.5, y = -0.25;
  bool inclino = true;
  bool force = false;
  double kg = 12.5;
};

class Rows {
 public:
  explicit Rows(bool inclino2 = false, bool elasto = false) : columns(inclino2, elasto), block(columns.size()) {}

  Rows& add(const Row& r) {
    block.beginRow();
    if (r.stamp) block.setText(columns.at(Column::timestamp), r.stamp);
    if (r.inclino) {
      block.setText(columns.at(Column::inclino1Raw), "X=+00.500\r\nY=-00.250");
      block.setNumber(columns.at(Column::inclino1X), r.x);
      block.setNumber(columns.at(Column::inclino1Y), r.y);
    }
    if (r.force) {
      block.setText(columns.at(Column::forceRaw), "+0012.5");
      block.setNumber(columns.at(Column::forceKg), r.kg);
    }
    block.keepRow();
    return *this;
  }
  Rows& stamp(const std::string& text) {
    stamps.push_back(text);
    return add(Row{stamps.back().c_str()});
  }

  QualityFigures figures(std::optional<int64_t> interval = std::nullopt) const {
    QualityMeter meter(columns);
    meter.add(block);
    return meter.figures(interval);
  }

  TableColumns columns;
  RowBlock block;
  std::deque<std::string> stamps;
};

// "2026-11-17T09:MM:SS" for a count of seconds from 09:00:00.
std::string at(int seconds, const char* zone = "") {
  char text[64];
  std::snprintf(text, sizeof text, "2026-11-17T%02d:%02d:%02d%s", 9 + seconds / 3600, seconds / 60 % 60, seconds % 60,
                zone);
  return text;
}

TEST(Quality, RegularStampsHaveTheirIntervalAndNoGap) {
  Rows rows;
  for (int i = 0; i < 20; ++i) rows.stamp(at(i * 60));
  QualityFigures f = rows.figures();
  ASSERT_TRUE(f.intervalSeconds);
  EXPECT_EQ(*f.intervalSeconds, 60);
  EXPECT_EQ(f.gaps, 0u);
  EXPECT_EQ(f.samplesMissing, 0u);
  EXPECT_FALSE(f.longestGapSeconds);
  EXPECT_EQ(f.notAfter, 0u);
  EXPECT_FALSE(f.firstNotAfterLine);
  EXPECT_EQ(f.withoutStamp, 0u);
  EXPECT_EQ(f.lines, 20u);
  EXPECT_FALSE(f.findings());
  EXPECT_TRUE(f.gapList.empty());
}

TEST(Quality, OneAndAHalfIntervalsIsNoGapMoreIs) {
  Rows rows;
  int t = 0;
  for (int i = 0; i < 10; ++i, t += 60) rows.stamp(at(t));
  t += 30;  // 90 s after the one before: 1.5 intervals
  for (int i = 0; i < 10; ++i, t += 60) rows.stamp(at(t));
  const int gapFrom = t - 60;
  t += 36;  // 96 s: 1.6 intervals
  for (int i = 0; i < 10; ++i, t += 60) rows.stamp(at(t));
  QualityFigures f = rows.figures();
  EXPECT_EQ(*f.intervalSeconds, 60);
  EXPECT_EQ(f.gaps, 1u);
  EXPECT_EQ(f.samplesMissing, 1u);  // round(1.6) - 1
  EXPECT_EQ(*f.longestGapSeconds, 96);
  EXPECT_EQ(f.longestGapAt, at(gapFrom));
  ASSERT_EQ(f.gapList.size(), 1u);
  EXPECT_EQ(f.gapList[0].nanoseconds, 96'000'000'000);
  EXPECT_EQ(f.gapList[0].from.serial, parseIsoDateTime(at(gapFrom))->serial);
  EXPECT_EQ(f.gapList[0].to.serial, parseIsoDateTime(at(gapFrom + 96))->serial);
  EXPECT_EQ(f.gapList[0].toLine, 21u);  // the first line after the gap
  EXPECT_TRUE(f.findings());
}

TEST(Quality, AGapOfTenIntervalsMissesNine) {
  Rows rows;
  int t = 0;
  for (int i = 0; i < 5; ++i, t += 60) rows.stamp(at(t));
  t += 540;
  for (int i = 0; i < 5; ++i, t += 60) rows.stamp(at(t));
  QualityFigures f = rows.figures();
  EXPECT_EQ(f.gaps, 1u);
  EXPECT_EQ(f.samplesMissing, 9u);
  EXPECT_EQ(*f.longestGapSeconds, 600);
  EXPECT_EQ(f.longestGapAt, at(240));
  EXPECT_EQ(f.gapsNotListed, 0u);
}

TEST(Quality, ARepeatedStampAndOneSetBack) {
  Rows rows;
  rows.stamp(at(0)).stamp(at(60)).stamp(at(120)).stamp(at(120)).stamp(at(180)).stamp(at(60)).stamp(at(120));
  QualityFigures f = rows.figures();
  EXPECT_EQ(f.notAfter, 2u);
  EXPECT_EQ(f.firstNotAfterLine, 4u);  // the repeated one, on the fourth line
  EXPECT_EQ(*f.intervalSeconds, 60);
  EXPECT_EQ(f.gaps, 0u);
  EXPECT_TRUE(f.findings());
}

TEST(Quality, ZonedStampsAcrossSummerTimeAreComparedInUtc) {
  Rows rows;
  // 01:55 in winter time is 02:00 in UTC+1... the clocks go from 02:00 to
  // 03:00 on 2026-03-29: five minutes pass each time.
  for (const char* stamp : {"2026-03-29T01:45:00+01:00", "2026-03-29T01:50:00+01:00", "2026-03-29T01:55:00+01:00",
                            "2026-03-29T03:00:00+02:00", "2026-03-29T03:05:00+02:00", "2026-03-29T03:10:00+0200"})
    rows.stamp(stamp);
  QualityFigures f = rows.figures();
  EXPECT_EQ(*f.intervalSeconds, 300);
  EXPECT_EQ(f.gaps, 0u);
  EXPECT_EQ(f.notAfter, 0u);
  // And back in autumn: the hour is repeated as written, not in UTC.
  Rows autumn;
  for (const char* stamp : {"2026-10-25T02:50:00+02:00", "2026-10-25T02:55:00+02:00", "2026-10-25T02:00:00+01:00",
                            "2026-10-25T02:05:00+01:00"})
    autumn.stamp(stamp);
  f = autumn.figures();
  EXPECT_EQ(*f.intervalSeconds, 300);
  EXPECT_EQ(f.gaps, 0u);
  EXPECT_EQ(f.notAfter, 0u);
}

TEST(Quality, StampsWithAndWithoutFractions) {
  Rows rows;
  rows.stamp("2026-11-17T09:00:00").stamp("2026-11-17T09:00:00.5").stamp("2026-11-17T09:00:01")
      .stamp("2026-11-17T09:00:01.500000000").stamp("2026-11-17T09:00:02,0").stamp("2026-11-17T09:00:03.25");
  QualityFigures f = rows.figures();
  EXPECT_EQ(*f.intervalSeconds, 0.5);
  EXPECT_EQ(f.gaps, 1u);  // 1.25 s
  EXPECT_EQ(f.samplesMissing, 2u);  // round(2.5) - 1
  EXPECT_EQ(*f.longestGapSeconds, 1.25);
  EXPECT_EQ(f.longestGapAt, "2026-11-17T09:00:02,0");
}

TEST(Quality, LinesWithoutStampsInTheMiddle) {
  Rows rows;
  rows.stamp(at(0)).stamp(at(60));
  rows.add(Row{});              // no stamp
  rows.add(Row{"not a time"});  // a text that is no date-time
  rows.add(Row{""});            // an empty one
  rows.stamp(at(120)).stamp(at(180));
  QualityFigures f = rows.figures();
  EXPECT_EQ(f.withoutStamp, 3u);
  EXPECT_EQ(f.lines, 7u);
  EXPECT_EQ(*f.intervalSeconds, 60);  // the stamps around them are consecutive
  EXPECT_EQ(f.gaps, 0u);
  EXPECT_FALSE(f.findings());  // no finding of its own
}

TEST(Quality, UnreadableReadingsPerSensor) {
  Rows rows;
  rows.add({"2026-11-17T09:00:00", 1.0, 2.0, true, true, -999.0});  // a force of -999 is a reading
  rows.add({"2026-11-17T09:01:00", kNaN, 2.0, true, true, 3.0});    // no X
  rows.add({"2026-11-17T09:02:00", -999.0, -999.0, true, true, kNaN});  // the unreadable Y line; no force
  rows.add({"2026-11-17T09:03:00", -999.0, 4.0, true, false});       // a reading of -999 X
  rows.add({"2026-11-17T09:04:00", 0, 0, false, false});              // neither sensor
  QualityFigures f = rows.figures();
  EXPECT_EQ(f.unreadable[static_cast<size_t>(SensorGroup::inclino1)], 2u);
  EXPECT_EQ(f.unreadable[static_cast<size_t>(SensorGroup::force)], 1u);
  EXPECT_FALSE(f.unreadable[static_cast<size_t>(SensorGroup::inclino2)]);  // no such column
  EXPECT_FALSE(f.unreadable[static_cast<size_t>(SensorGroup::elasto)]);
  EXPECT_TRUE(f.findings());
  ASSERT_EQ(f.columns.size(), 3u);  // X, Y, kg
  const ColumnRange& x = f.columns[0];
  EXPECT_EQ(x.column, rows.columns.at(Column::inclino1X));
  EXPECT_EQ(x.readings, 2u);
  EXPECT_EQ(x.least, -999.0);
  EXPECT_EQ(x.greatest, 1.0);
  EXPECT_EQ(x.mean, -499.0);
  const ColumnRange& y = f.columns[1];
  EXPECT_EQ(y.readings, 3u);  // with the line whose X is missing
  EXPECT_EQ(y.least, 2.0);
  EXPECT_EQ(y.greatest, 4.0);
  const ColumnRange& kg = f.columns[2];
  EXPECT_EQ(kg.column, rows.columns.at(Column::forceKg));
  EXPECT_EQ(kg.readings, 2u);
  EXPECT_EQ(kg.least, -999.0);
  EXPECT_EQ(kg.mean, -498.0);
}

TEST(Quality, ASensorNeverThereHasNoCount) {
  Rows rows(true, true);
  rows.stamp(at(0)).stamp(at(60));
  QualityFigures f = rows.figures();
  EXPECT_EQ(f.unreadable[0], 0u);  // the first inclinometer has payloads, all readable
  for (size_t g = 1; g < kSensorGroups; ++g) EXPECT_FALSE(f.unreadable[g]) << g;
  EXPECT_EQ(f.columns.size(), 9u);  // 2 + 2 + 4 + 1
  EXPECT_EQ(f.columns[3].readings, 0u);
}

TEST(Quality, OneStampHasNoInterval) {
  Rows rows;
  rows.stamp(at(0));
  rows.add(Row{});
  EXPECT_FALSE(rows.figures().intervalSeconds);
  EXPECT_FALSE(rows.figures(60'000'000'000).intervalSeconds);
  EXPECT_EQ(rows.figures().gaps, 0u);
  Rows none;
  EXPECT_FALSE(none.figures().intervalSeconds);
  EXPECT_EQ(none.figures().lines, 0u);
}

TEST(Quality, TheIntervalGivenOverridesTheMedian) {
  Rows rows;
  for (int i = 0; i < 10; ++i) rows.stamp(at(i * 60));
  QualityFigures f = rows.figures(20'000'000'000);
  EXPECT_EQ(*f.intervalSeconds, 20);
  EXPECT_EQ(f.gaps, 9u);
  EXPECT_EQ(f.samplesMissing, 18u);
  EXPECT_EQ(f.gapList.size(), 9u);
  f = rows.figures(59'000'000'000);
  EXPECT_EQ(f.gaps, 0u);
}

TEST(Quality, TheMedianOfAnEvenCount) {
  Rows rows;
  rows.stamp(at(0)).stamp(at(10)).stamp(at(30)).stamp(at(60)).stamp(at(100));  // 10, 20, 30, 40
  QualityFigures f = rows.figures();
  EXPECT_EQ(*f.intervalSeconds, 25);
  EXPECT_EQ(f.gaps, 1u);  // 40 > 37.5
  EXPECT_EQ(f.samplesMissing, 1u);
}

TEST(Quality, BlocksInLineOrderGiveTheFiguresOfOne) {
  // Gaps, repeated and set back stamps, lines without one, unreadable
  // readings and dropped entries, measured whole and in pieces: pieces added
  // one after another to one meter, and each into a meter of its own, the
  // meters then joined.
  Rows stamped(true, false);
  int t = 0;
  for (int i = 0; i < 300; ++i) {
    t += i % 37 == 5 ? 60 * (2 + i % 5) : i % 53 == 7 ? -60 : i % 41 == 3 ? 0 : 60;
    std::string stamp = at(t);
    stamped.stamps.push_back(stamp);
    stamped.add({i % 29 == 11 ? nullptr : stamped.stamps.back().c_str(), i % 31 == 0 ? kNaN : i * 0.5,
                 i % 43 == 0 ? -999.0 : 1.0, true, i % 3 == 0, i * 1.5});
  }
  stamped.block.dropped = 4;
  QualityFigures whole = stamped.figures();
  ASSERT_GT(whole.gaps, 3u);
  ASSERT_GT(whole.notAfter, 3u);
  for (bool joinMeters : {false, true}) {
    for (size_t pieces : {2, 3, 7, 300}) {
      SCOPED_TRACE(std::to_string(pieces) + (joinMeters ? " meters joined" : " blocks added"));
      QualityMeter joined(stamped.columns);
      joined.add(RowBlock(stamped.columns.size()));
      for (size_t p = 0; p < pieces; ++p) {
        size_t from = 300 * p / pieces, to = 300 * (p + 1) / pieces;
        RowBlock part(stamped.columns.size());
        for (size_t r = from; r < to; ++r) {
          part.beginRow();
          for (size_t c = 0; c < stamped.columns.size(); ++c) {
            const Cell& cell = stamped.block.cell(r, c);
            if (cell.kind == CellKind::number) part.setNumber(c, cell.number);
            if (cell.kind == CellKind::text) part.setText(c, stamped.block.textOf(cell));
          }
          part.keepRow();
        }
        if (p == 0) part.dropped = 4;
        if (joinMeters) {
          QualityMeter piece(stamped.columns);
          piece.add(part);
          joined.append(piece);
        } else {
          joined.add(part);
          part = RowBlock(stamped.columns.size());  // the texts the meter saw are gone
        }
      }
      QualityFigures f = joined.figures();
      EXPECT_EQ(f.lines, whole.lines);
      EXPECT_EQ(f.dropped, 4u);
      EXPECT_EQ(f.intervalSeconds, whole.intervalSeconds);
      EXPECT_EQ(f.gaps, whole.gaps);
      EXPECT_EQ(f.samplesMissing, whole.samplesMissing);
      EXPECT_EQ(f.longestGapSeconds, whole.longestGapSeconds);
      EXPECT_EQ(f.longestGapAt, whole.longestGapAt);
      EXPECT_EQ(f.notAfter, whole.notAfter);
      EXPECT_EQ(f.firstNotAfterLine, whole.firstNotAfterLine);
      EXPECT_EQ(f.withoutStamp, whole.withoutStamp);
      EXPECT_EQ(f.unreadable, whole.unreadable);
      ASSERT_EQ(f.gapList.size(), whole.gapList.size());
      for (size_t g = 0; g < f.gapList.size(); ++g) {
        EXPECT_EQ(f.gapList[g].from.serial, whole.gapList[g].from.serial);
        EXPECT_EQ(f.gapList[g].samplesMissing, whole.gapList[g].samplesMissing);
        EXPECT_EQ(f.gapList[g].toLine, whole.gapList[g].toLine);
      }
      for (size_t c = 0; c < f.columns.size(); ++c) {
        EXPECT_EQ(f.columns[c].readings, whole.columns[c].readings);
        EXPECT_EQ(f.columns[c].least, whole.columns[c].least);
        EXPECT_EQ(f.columns[c].greatest, whole.columns[c].greatest);
        EXPECT_NEAR(f.columns[c].mean, whole.columns[c].mean, 1e-9);
      }
    }
  }
}

TEST(Quality, TheGapListHoldsTheFirstThousandAndCountsTheRest) {
  Rows rows;
  // Begins with gaps, before any regular difference is seen.
  int64_t t = 0;
  std::vector<int64_t> gapStarts;
  for (int i = 0; i < 3; ++i) {
    rows.stamp(at(static_cast<int>(t)));
    gapStarts.push_back(t);
    t += 10;
  }
  for (int i = 0; i < 30'000; ++i) {
    rows.stamp(at(static_cast<int>(t)));
    if (i % 20 == 19) {
      gapStarts.push_back(t);
      t += 3;
    } else {
      t += 1;
    }
  }
  QualityFigures f = rows.figures();
  EXPECT_EQ(*f.intervalSeconds, 1);
  EXPECT_EQ(f.gaps, gapStarts.size() - 1);  // the last one closes no gap
  ASSERT_EQ(f.gapList.size(), kGapsListed);
  EXPECT_EQ(f.gapsNotListed, f.gaps - kGapsListed);
  for (size_t g = 0; g < kGapsListed; ++g)
    ASSERT_EQ(f.gapList[g].from.serial, parseIsoDateTime(at(static_cast<int>(gapStarts[g])))->serial) << g;
  EXPECT_EQ(f.gapList[0].samplesMissing, 9u);
  EXPECT_EQ(f.gapList[3].samplesMissing, 2u);
  EXPECT_EQ(*f.longestGapSeconds, 10);
  EXPECT_EQ(f.longestGapAt, at(0));
}

TEST(Quality, AnIntervalAsGiven) {
  EXPECT_EQ(parseIntervalNanoseconds("60"), 60'000'000'000);
  EXPECT_EQ(parseIntervalNanoseconds("0.5"), 500'000'000);
  EXPECT_EQ(parseIntervalNanoseconds(".25"), 250'000'000);
  EXPECT_EQ(parseIntervalNanoseconds("1."), 1'000'000'000);
  EXPECT_EQ(parseIntervalNanoseconds("0.0000000015"), 2);
  EXPECT_EQ(parseIntervalNanoseconds("1000000000"), int64_t{1'000'000'000} * 1'000'000'000);
  for (const char* bad : {"", ".", "0", "0.0", "-1", "+1", "1,5", "1e3", " 1", "1 ", "60s", "1000000001",
                          "0.0000000001", "nan", "1.2.3"})
    EXPECT_FALSE(parseIntervalNanoseconds(bad)) << bad;
}

}  // namespace
}  // namespace tlq
