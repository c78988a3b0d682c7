// The points a workbook's charts draw: every data line of a small table;
// of a large one, per bucket of lines, the lines that hold each plotted
// value's least and greatest reading, and the bucket's first and last line,
// so that a spike still shows.
#pragma once

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace tlq {

// Values a workbook plots at most: two per inclinometer, two of the
// elastometer, the force.
inline constexpr size_t kMaxPlotted = 7;
// Buckets a chart shows at most: about one for each pixel of its width
// (960), where each bucket's least and greatest reading are all a chart
// of that width can show of it.
inline constexpr uint64_t kPlotBuckets = 1000;

struct PlotPoint {
  uint64_t line = 0;  // the data line, from 1; 0 for the empty point at a gap
  double time = NAN;  // its day number, NaN for none
  std::array<double, kMaxPlotted> values;  // NaN where there is no reading

  PlotPoint() { values.fill(NAN); }
};

// Lines per bucket for a table of up to `lines` data lines: 1 (every line)
// up to kPlotBuckets lines.
uint64_t plotBucketLines(uint64_t lines);

// The points in order with an empty one (line 0) between each two that a
// gap in the time stamps lies between, so that the chart breaks its line
// there: `gapEnds` are the data lines that end a gap (the first after it),
// ascending. One empty point for any number of gaps between two points.
std::vector<PlotPoint> withGaps(const std::vector<PlotPoint>& points, const std::vector<uint64_t>& gapEnds);

class PlotRows {
 public:
  // Points of `values` plotted values, chosen from buckets of
  // `bucketLines` consecutive points.
  PlotRows(size_t values, uint64_t bucketLines);

  // Takes the next point (lines rising); hands the points chosen of each
  // bucket that is complete to `emit`, in line order, each once.
  void add(const PlotPoint& point, const std::function<void(const PlotPoint&)>& emit);
  // Hands over those of the last bucket.
  void finish(const std::function<void(const PlotPoint&)>& emit);

 private:
  size_t values_;
  uint64_t bucketLines_;
  uint64_t inBucket_ = 0;
  PlotPoint first_, last_;
  std::array<PlotPoint, kMaxPlotted> least_, greatest_;
  std::vector<const PlotPoint*> chosen_;
};

}  // namespace tlq
