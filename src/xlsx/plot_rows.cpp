#include "xlsx/plot_rows.h"

#include <algorithm>

namespace tlq {

uint64_t plotBucketLines(uint64_t lines) { return lines <= kPlotBuckets ? 1 : (lines + kPlotBuckets - 1) / kPlotBuckets; }

std::vector<PlotPoint> withGaps(const std::vector<PlotPoint>& points, const std::vector<uint64_t>& gapEnds) {
  std::vector<PlotPoint> out;
  out.reserve(points.size() + std::min(points.size(), gapEnds.size()));
  auto gap = gapEnds.begin();
  for (const PlotPoint& point : points) {
    // The gaps that end after the point before and by this one.
    bool between = false;
    for (; gap != gapEnds.end() && *gap <= point.line; ++gap) between = between || !out.empty();
    if (between) out.emplace_back();
    out.push_back(point);
  }
  return out;
}

PlotRows::PlotRows(size_t values, uint64_t bucketLines)
    : values_(std::min(values, kMaxPlotted)), bucketLines_(std::max<uint64_t>(bucketLines, 1)) {}

void PlotRows::add(const PlotPoint& point, const std::function<void(const PlotPoint&)>& emit) {
  if (bucketLines_ == 1) {
    emit(point);
    return;
  }
  if (inBucket_ == 0) {
    first_ = point;
    for (size_t k = 0; k < values_; ++k) least_[k] = greatest_[k] = point;
  } else {
    // The first line that holds the extreme: a later equal one adds nothing.
    for (size_t k = 0; k < values_; ++k) {
      double v = point.values[k];
      if (std::isnan(v)) continue;
      if (std::isnan(least_[k].values[k]) || v < least_[k].values[k]) least_[k] = point;
      if (std::isnan(greatest_[k].values[k]) || v > greatest_[k].values[k]) greatest_[k] = point;
    }
  }
  last_ = point;
  if (++inBucket_ == bucketLines_) finish(emit);
}

void PlotRows::finish(const std::function<void(const PlotPoint&)>& emit) {
  if (inBucket_ == 0) return;
  chosen_.assign({&first_, &last_});
  for (size_t k = 0; k < values_; ++k) {
    chosen_.push_back(&least_[k]);
    chosen_.push_back(&greatest_[k]);
  }
  std::sort(chosen_.begin(), chosen_.end(), [](const PlotPoint* a, const PlotPoint* b) { return a->line < b->line; });
  uint64_t emitted = 0;
  for (const PlotPoint* p : chosen_) {
    if (p->line == emitted) continue;  // the same line chosen twice
    emit(*p);
    emitted = p->line;
  }
  inBucket_ = 0;
}

}  // namespace tlq
