#include "table/quality.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <utility>

namespace tlq {

namespace {

constexpr int64_t kNanosecondsPerDay = 86'400'000'000'000;
constexpr size_t kAbsent = TableColumns::kAbsent;

__int128 instantOf(const IsoDateTime& time) {
  __int128 at = static_cast<__int128>(time.day) * kNanosecondsPerDay + time.nanoseconds;
  if (time.offsetMinutes) at -= static_cast<__int128>(*time.offsetMinutes) * 60'000'000'000;
  return at;
}

bool isNumber(const Cell& cell, double value) { return cell.kind == CellKind::number && cell.number == value; }

// A difference of more than 1.5 intervals, the interval given twice over
// (the median of an even count is half a nanosecond's multiple).
bool isGap(int64_t nanoseconds, int64_t twiceInterval) {
  return static_cast<__int128>(nanoseconds) * 4 > static_cast<__int128>(twiceInterval) * 3;
}

// round(difference / interval) - 1, at least 1 (halves rounded up).
uint64_t samplesMissing(int64_t nanoseconds, int64_t twiceInterval) {
  __int128 n = (static_cast<__int128>(nanoseconds) * 4 + twiceInterval) / (static_cast<__int128>(twiceInterval) * 2);
  return n > 2 ? static_cast<uint64_t>(n - 1) : 1;
}

}  // namespace

const char* sensorGroupName(SensorGroup group) {
  static constexpr const char* kNames[] = {"inclino1", "inclino2", "elasto", "force"};
  return kNames[static_cast<size_t>(group)];
}

bool QualityFigures::unreadableAny() const {
  return std::any_of(unreadable.begin(), unreadable.end(), [](const auto& n) { return n && *n > 0; });
}

bool QualityFigures::findings() const { return gaps > 0 || notAfter > 0 || dropped > 0 || unreadableAny(); }

std::optional<int64_t> parseIntervalNanoseconds(std::string_view text) {
  constexpr int64_t kMostSeconds = 1'000'000'000;
  size_t p = 0;
  int64_t seconds = 0;
  bool any = false;
  for (; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p) {
    any = true;
    seconds = seconds * 10 + (text[p] - '0');
    if (seconds > kMostSeconds) return std::nullopt;
  }
  int64_t nanoseconds = 0;
  if (p < text.size() && text[p] == '.') {
    ++p;
    int64_t scale = 100'000'000;
    bool roundUp = false;
    for (size_t digit = 0; p < text.size() && text[p] >= '0' && text[p] <= '9'; ++p, ++digit) {
      any = true;
      if (digit < 9) {
        nanoseconds += (text[p] - '0') * scale;
        scale /= 10;
      } else if (digit == 9) {
        roundUp = text[p] >= '5';
      }
    }
    nanoseconds += roundUp;
  }
  if (!any || p != text.size()) return std::nullopt;
  int64_t total = seconds * 1'000'000'000 + nanoseconds;
  if (total <= 0 || total > kMostSeconds * 1'000'000'000) return std::nullopt;
  return total;
}

QualityMeter::QualityMeter(const TableColumns& columns) : stampColumn_(columns.at(Column::timestamp)) {
  struct Layout {
    SensorGroup group;
    Column raw;
    std::array<Column, 4> values;
    size_t count;
    bool sentinelPair;
  };
  static constexpr Layout kLayouts[] = {
      {SensorGroup::inclino1, Column::inclino1Raw, {Column::inclino1X, Column::inclino1Y}, 2, true},
      {SensorGroup::inclino2, Column::inclino2Raw, {Column::inclino2X, Column::inclino2Y}, 2, true},
      {SensorGroup::elasto,
       Column::elastoRaw,
       {Column::elastoRawA, Column::elastoRawB, Column::elastoAUm, Column::elastoBUm},
       4,
       false},
      {SensorGroup::force, Column::forceRaw, {Column::forceKg}, 1, false},
  };
  // The value columns' ranges group by group, each group's in a row: the
  // figures give them in table order.
  for (const Layout& layout : kLayouts) {
    const size_t raw = columns.at(layout.raw);
    if (raw == kAbsent) continue;
    GroupColumns& laid = layout_[groupsLaid_++];
    laid.raw = static_cast<uint16_t>(raw);
    laid.group = static_cast<uint8_t>(layout.group);
    laid.sentinelPair = layout.sentinelPair;
    laid.valueCount = static_cast<uint8_t>(layout.count);
    laid.firstRange = static_cast<uint16_t>(ranges_.size());
    for (size_t k = 0; k < layout.count; ++k) {
      laid.values[k] = static_cast<uint16_t>(columns.at(layout.values[k]));
      ranges_.push_back({laid.values[k]});
    }
  }
}

void QualityMeter::clear() {
  groups_ = {};
  for (Range& range : ranges_) range = Range{range.column};
  lines_ = dropped_ = withoutStamp_ = notAfter_ = firstNotAfter_ = 0;
  first_.reset();
  last_.reset();
  lastText_.clear();
  stamps_ = StampReader();
  differences_.clear();
  lastDifference_ = 0;
  lastCount_ = nullptr;
  positives_ = 0;
  leastPositive_ = 0;
  longest_ = 0;
  longestFrom_ = IsoDateTime();
  longestAt_.clear();
  candidates_.clear();
  candidatesFull_ = false;
}

void QualityMeter::add(const RowBlock& rows) {
  dropped_ += rows.dropped;
  // Column by column rather than line by line: each group's ranges stay in
  // registers through the block, which is in the cache.
  addStamps(rows);
  for (size_t g = 0; g < groupsLaid_; ++g) {
    const GroupColumns& at = layout_[g];
    switch (at.valueCount) {
      case 1:
        addGroup<1, false>(rows, at);
        break;
      case 2:
        at.sentinelPair ? addGroup<2, true>(rows, at) : addGroup<2, false>(rows, at);
        break;
      case 4:
        addGroup<4, false>(rows, at);
        break;
      default:
        std::abort();  // the layouts have no other
    }
  }
  lines_ += rows.rows();
}

void QualityMeter::addStamps(const RowBlock& rows) {
  // The text of the last stamp: in the block once one is read here (kept
  // beyond it only at its end), before that the one kept from the blocks
  // before.
  std::string_view lastText = lastText_;
  bool read = false;
  for (size_t row = 0; row < rows.rows(); ++row) {
    const Cell& stamp = rows.cell(row, stampColumn_);
    std::optional<IsoDateTime> time;
    std::string_view text;
    if (stamp.kind == CellKind::text || stamp.kind == CellKind::dateTime) {
      text = rows.textOf(stamp);
      time = stamps_.read(text);
    }
    if (!time) {
      ++withoutStamp_;
      continue;
    }
    const Stamp now{*time, instantOf(*time), lines_ + row + 1};
    if (last_)
      step(*last_, lastText, now);
    else
      first_ = now;
    last_ = now;
    lastText = text;
    read = true;
  }
  if (read) lastText_.assign(lastText);  // within the capacity it has after the first
}

template <size_t N, bool kSentinelPair>
void QualityMeter::addGroup(const RowBlock& rows, const GroupColumns& at) {
  const size_t count = rows.rows(), width = rows.columns();
  if (count == 0) return;
  const size_t raw = at.raw;
  std::array<size_t, N> values;
  double least[N], greatest[N], sum[N];
  uint64_t readings[N];
  Range* ranges = ranges_.data() + at.firstRange;
  for (size_t k = 0; k < N; ++k) {
    values[k] = at.values[k];
    least[k] = ranges[k].least;
    greatest[k] = ranges[k].greatest;
    sum[k] = ranges[k].sum;
    readings[k] = ranges[k].readings;
  }
  uint64_t present = 0, unreadable = 0;
  const Cell* cells = &rows.cell(0, 0);
  for (size_t row = 0; row < count; ++row, cells += width) {
    if (cells[raw].kind == CellKind::empty) continue;
    ++present;
    // The inclinometer's decoder marks an unreadable Y line with the pair
    // (-999.0, -999.0); a force or elastometer of -999.0 is a reading.
    if constexpr (kSentinelPair) {
      if (isNumber(cells[values[0]], -999.0) && isNumber(cells[values[1]], -999.0)) {
        ++unreadable;
        continue;
      }
    }
    // Any value column without a number makes the line unreadable; those
    // with one are readings all the same.
    bool bad = false;
    for (size_t k = 0; k < N; ++k) {
      const Cell& cell = cells[values[k]];
      const double v = cell.number;
      if (cell.kind != CellKind::number || std::isnan(v)) {
        bad = true;
        continue;
      }
      least[k] = std::min(least[k], v);
      greatest[k] = std::max(greatest[k], v);
      sum[k] += v;
      ++readings[k];
    }
    unreadable += bad;
  }
  for (size_t k = 0; k < N; ++k) {
    ranges[k].least = least[k];
    ranges[k].greatest = greatest[k];
    ranges[k].sum = sum[k];
    ranges[k].readings = readings[k];
  }
  GroupCounts& counts = groups_[at.group];
  counts.present = counts.present || present > 0;
  counts.unreadable += unreadable;
}

void QualityMeter::step(const Stamp& before, std::string_view beforeText, const Stamp& after) {
  __int128 wide = after.instant - before.instant;
  // Beyond 292 years both ways, as far as 64 bits go.
  int64_t d = wide > std::numeric_limits<int64_t>::max()   ? std::numeric_limits<int64_t>::max()
              : wide < std::numeric_limits<int64_t>::min() ? std::numeric_limits<int64_t>::min()
                                                            : static_cast<int64_t>(wide);
  if (d <= 0) {
    if (notAfter_++ == 0) firstNotAfter_ = after.line;
    return;
  }
  if (lastCount_ && d == lastDifference_) {
    ++*lastCount_;
  } else {
    lastCount_ = &differences_[d];  // a node's place stays when the table grows
    ++*lastCount_;
    lastDifference_ = d;
  }
  ++positives_;
  if (leastPositive_ == 0 || d < leastPositive_) leastPositive_ = d;
  if (d > longest_) {
    longest_ = d;
    longestFrom_ = before.time;
    longestAt_.assign(beforeText);
  }
  if (positives_ <= kFirstKept || isGap(d, leastPositive_ * 2)) keepCandidate({before.time, after.time, after.line, d});
}

void QualityMeter::keepCandidate(const Candidate& candidate) {
  if (candidatesFull_) return;
  candidates_.push_back(candidate);
  if (candidates_.size() > kCandidates) prune();
}

void QualityMeter::prune() {
  if (std::optional<int64_t> twice = twiceMedian())
    std::erase_if(candidates_, [&](const Candidate& c) { return !isGap(c.nanoseconds, *twice); });
  if (candidates_.size() > 2 * kGapsListed) {
    candidates_.resize(2 * kGapsListed);
    candidatesFull_ = true;
  }
}

void QualityMeter::append(const QualityMeter& next) {
  dropped_ += next.dropped_;
  withoutStamp_ += next.withoutStamp_;
  if (last_ && next.first_) {
    Stamp first = *next.first_;
    first.line += lines_;
    step(*last_, lastText_, first);
  }
  if (next.notAfter_ > 0 && notAfter_ == 0) firstNotAfter_ = lines_ + next.firstNotAfter_;
  notAfter_ += next.notAfter_;
  for (const auto& [d, count] : next.differences_) differences_[d] += count;
  lastCount_ = nullptr;
  positives_ += next.positives_;
  if (next.leastPositive_ > 0 && (leastPositive_ == 0 || next.leastPositive_ < leastPositive_))
    leastPositive_ = next.leastPositive_;
  if (next.longest_ > longest_) {
    longest_ = next.longest_;
    longestFrom_ = next.longestFrom_;
    longestAt_ = next.longestAt_;
  }
  for (Candidate candidate : next.candidates_) {
    candidate.toLine += lines_;
    keepCandidate(candidate);
  }
  if (next.candidatesFull_) candidatesFull_ = true;  // it missed some after its own
  for (size_t g = 0; g < kSensorGroups; ++g) {
    groups_[g].present = groups_[g].present || next.groups_[g].present;
    groups_[g].unreadable += next.groups_[g].unreadable;
  }
  for (size_t r = 0; r < ranges_.size(); ++r) {
    Range& range = ranges_[r];
    const Range& more = next.ranges_[r];
    range.least = std::min(range.least, more.least);
    range.greatest = std::max(range.greatest, more.greatest);
    range.sum += more.sum;
    range.readings += more.readings;
  }
  if (!first_ && next.first_) {
    first_ = next.first_;
    first_->line += lines_;
  }
  if (next.last_) {
    last_ = next.last_;
    last_->line += lines_;
    lastText_ = next.lastText_;
  }
  lines_ += next.lines_;
}

std::optional<int64_t> QualityMeter::twiceMedian() const {
  if (positives_ == 0) return std::nullopt;
  std::vector<std::pair<int64_t, uint64_t>> sorted(differences_.begin(), differences_.end());
  std::sort(sorted.begin(), sorted.end());
  const uint64_t lower = (positives_ - 1) / 2, upper = positives_ / 2;
  std::optional<int64_t> a, b;
  uint64_t seen = 0;
  for (const auto& [d, count] : sorted) {
    seen += count;
    if (!a && seen > lower) a = d;
    if (seen > upper) {
      b = d;
      break;
    }
  }
  return *a + *b;
}

QualityFigures QualityMeter::figures(std::optional<int64_t> intervalNanoseconds) const {
  QualityFigures f;
  f.lines = lines_;
  f.dropped = dropped_;
  f.withoutStamp = withoutStamp_;
  f.notAfter = notAfter_;
  if (notAfter_ > 0) f.firstNotAfterLine = firstNotAfter_;
  for (size_t g = 0; g < kSensorGroups; ++g)
    if (groups_[g].present) f.unreadable[g] = groups_[g].unreadable;
  for (const Range& range : ranges_) {
    ColumnRange out{range.column, range.readings, 0, 0, 0};
    if (range.readings > 0) {
      out.least = range.least;
      out.greatest = range.greatest;
      out.mean = range.sum / static_cast<double>(range.readings);
    }
    f.columns.push_back(out);
  }
  std::sort(f.columns.begin(), f.columns.end(),
            [](const ColumnRange& a, const ColumnRange& b) { return a.column < b.column; });
  const bool twoStamps = lines_ - withoutStamp_ >= 2;
  std::optional<int64_t> twice;
  if (twoStamps) twice = intervalNanoseconds ? std::optional<int64_t>(*intervalNanoseconds * 2) : twiceMedian();
  if (!twice) return f;
  f.intervalSeconds = static_cast<double>(*twice) / 2e9;
  for (const auto& [d, count] : differences_) {
    if (!isGap(d, *twice)) continue;
    f.gaps += count;
    f.samplesMissing += count * samplesMissing(d, *twice);
  }
  if (longest_ > 0 && isGap(longest_, *twice)) {
    f.longestGapSeconds = static_cast<double>(longest_) / 1e9;
    f.longestGapAt = longestAt_;
    f.longestGapFrom = longestFrom_;
  }
  for (const Candidate& c : candidates_) {
    if (f.gapList.size() == kGapsListed) break;
    if (isGap(c.nanoseconds, *twice)) f.gapList.push_back({c.from, c.to, c.toLine, c.nanoseconds, samplesMissing(c.nanoseconds, *twice)});
  }
  f.gapsNotListed = f.gaps - f.gapList.size();
  return f;
}

}  // namespace tlq
