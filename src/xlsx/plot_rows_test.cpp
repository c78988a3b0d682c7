#include "xlsx/plot_rows.h"

#include <gtest/gtest.h>

#include <vector>

namespace tlq {
namespace {

PlotPoint point(uint64_t line, double a, double b = NAN) {
  PlotPoint p;
  p.line = line;
  p.values[0] = a;
  p.values[1] = b;
  return p;
}

std::vector<uint64_t> chosen(PlotRows rows, const std::vector<PlotPoint>& points) {
  std::vector<uint64_t> lines;
  auto emit = [&](const PlotPoint& p) { lines.push_back(p.line); };
  for (const PlotPoint& p : points) rows.add(p, emit);
  rows.finish(emit);
  return lines;
}

TEST(PlotRows, EveryLineOfASmallTable) {
  EXPECT_EQ(plotBucketLines(0), 1u);
  EXPECT_EQ(plotBucketLines(kPlotBuckets), 1u);
  EXPECT_EQ(plotBucketLines(kPlotBuckets + 1), 2u);
  EXPECT_EQ(plotBucketLines(840'000), 840u);
  EXPECT_EQ(chosen(PlotRows(2, 1), {point(1, 5), point(2, NAN), point(3, 1)}), (std::vector<uint64_t>{1, 2, 3}));
}

// Per bucket: the first line, the last, and the lines of each value's least
// and greatest reading; so a spike shows however many lines a bucket has.
TEST(PlotRows, EachBucketKeepsItsExtremesAndEnds) {
  std::vector<PlotPoint> points;
  for (uint64_t line = 1; line <= 25; ++line) points.push_back(point(line, 0.0, 10.0));
  points[6].values[0] = 50;   // a spike of the first value in the first bucket
  points[3].values[1] = -4;   // a dip of the second
  points[12].values[0] = NAN;  // no reading: never an extreme
  points[17].values[1] = 11;
  points[21].values[0] = -1;  // the last bucket is short
  EXPECT_EQ(chosen(PlotRows(2, 10), points), (std::vector<uint64_t>{1, 4, 7, 10, 11, 18, 20, 21, 22, 25}));
}

TEST(PlotRows, ABucketWithoutReadingsKeepsItsEnds) {
  std::vector<PlotPoint> points;
  for (uint64_t line = 1; line <= 6; ++line) points.push_back(point(line, NAN));
  EXPECT_EQ(chosen(PlotRows(1, 3), points), (std::vector<uint64_t>{1, 3, 4, 6}));
}

std::vector<uint64_t> linesOf(const std::vector<PlotPoint>& points) {
  std::vector<uint64_t> lines;
  for (const PlotPoint& p : points) lines.push_back(p.line);
  return lines;
}

// An empty point (line 0) where a gap lies between two points, also where
// the points are a reduced series' few of many lines; none before the
// first point or for a gap after the last, one for several gaps between
// the same two.
TEST(PlotRows, AnEmptyPointBreaksTheLineAtEachGap) {
  const std::vector<PlotPoint> points = {point(1, 1), point(4, 2), point(9, 3), point(20, 4)};
  EXPECT_EQ(linesOf(withGaps(points, {})), (std::vector<uint64_t>{1, 4, 9, 20}));
  EXPECT_EQ(linesOf(withGaps(points, {4})), (std::vector<uint64_t>{1, 0, 4, 9, 20}));
  EXPECT_EQ(linesOf(withGaps(points, {3, 10})), (std::vector<uint64_t>{1, 0, 4, 9, 0, 20}));
  EXPECT_EQ(linesOf(withGaps(points, {1, 12, 15, 21})), (std::vector<uint64_t>{1, 4, 9, 0, 20}));
  std::vector<PlotPoint> broken = withGaps(points, {9});
  EXPECT_TRUE(std::isnan(broken[2].values[0]) && std::isnan(broken[2].time));
  EXPECT_EQ(broken[3].values[0], 3);
}

}  // namespace
}  // namespace tlq
