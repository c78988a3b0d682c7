// The quality of a recording's data, measured from its table's rows: the
// interval of its time stamps, the gaps between them and stamps out of
// order, the lines without a time stamp, the readings that are not readings
// (per sensor), and the range of each value column. One more taker of the
// row blocks, beside the CSV and the workbook.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "table/columns.h"
#include "table/date_time.h"
#include "table/rows.h"

namespace tlq {

enum class SensorGroup : uint8_t { inclino1, inclino2, elasto, force };
inline constexpr size_t kSensorGroups = 4;
// "inclino1", "inclino2", "elasto", "force".
const char* sensorGroupName(SensorGroup group);

// Gaps listed one by one; beyond them only their number.
inline constexpr size_t kGapsListed = 1000;

struct QualityGap {
  IsoDateTime from, to;  // the stamps on either side, as written
  uint64_t toLine = 0;   // the data line of `to` (1 for the first line)
  int64_t nanoseconds = 0;
  uint64_t samplesMissing = 0;
};

// The least, greatest and mean of a value column's readings.
struct ColumnRange {
  size_t column = 0;  // where it stands in the table
  uint64_t readings = 0;
  double least = 0, greatest = 0, mean = 0;  // with readings only
};

// What was measured, as every output shows it.
struct QualityFigures {
  std::optional<double> intervalSeconds;  // none with fewer than two stamps
  uint64_t gaps = 0;
  uint64_t samplesMissing = 0;
  std::optional<double> longestGapSeconds;  // with a gap
  std::string longestGapAt;                 // the stamp it starts at, as written
  IsoDateTime longestGapFrom;
  uint64_t notAfter = 0;                     // stamps not after the one before
  std::optional<uint64_t> firstNotAfterLine;  // data line of the first of them (1 for the first line)
  uint64_t withoutStamp = 0;                 // data lines without a time stamp
  // Lines whose reading of that sensor is not one; none where the recording
  // has no payload of the sensor.
  std::array<std::optional<uint64_t>, kSensorGroups> unreadable;
  uint64_t dropped = 0;  // entries left out for a failed CRC
  uint64_t lines = 0;    // data lines measured
  std::vector<ColumnRange> columns;  // every value column, in table order
  std::vector<QualityGap> gapList;   // the first kGapsListed gaps, in line order
  uint64_t gapsNotListed = 0;

  // A gap, a stamp not after the one before, an unreadable reading or an
  // entry dropped for a failed CRC.
  bool findings() const;
  bool unreadableAny() const;
};

// Reads an interval as given on the command line: a positive decimal with
// '.' ("60", "0.5", ".25"), to the nanosecond; nothing for any other text
// (or one that rounds to no nanosecond, or above 1,000,000,000 seconds).
std::optional<int64_t> parseIntervalNanoseconds(std::string_view text);

// Measures rows handed over in line order: whole blocks (add), or, on
// workers, a range of lines each into a meter of its own, then joined in
// line order (append), which gives the same figures as one meter over all.
//
// Memory stays bounded by what the data holds, not by its lines: the
// positive differences between stamps as a histogram of their distinct
// values in nanoseconds (the median is exact; a recording whose stamps
// jitter at random holds as many entries as distinct differences), the
// longest difference on its own, and the candidates for the gap list: the
// differences above 1.5 times the smallest positive one seen so far (the
// median is never below the smallest, so no gap is left out once the
// smallest has come down to the interval), and the first kFirstKept
// differences of a meter whatever they are (a range of lines that begins
// with gaps). Counts are always exact (they come from the histogram); the
// list could miss a gap only where a meter's first kFirstKept differences
// are all above two thirds of a later gap, that is, in a recording whose
// stamps run irregularly from its start, never in a regular one. Past
// kCandidates candidates the list keeps those that are gaps by the median
// so far, and once even those are too many, no more: the first gaps are
// listed as long as the median settles early, which it does where the
// recording is regular.
class QualityMeter {
 public:
  static constexpr uint64_t kFirstKept = 64;
  static constexpr size_t kCandidates = 8192;

  explicit QualityMeter(const TableColumns& columns);

  // The rows of the block, after those added before; and its entries left
  // out for a failed CRC.
  void add(const RowBlock& rows);
  // The lines `next` measured, right after these.
  void append(const QualityMeter& next);
  // As new, for the same columns (the memory kept).
  void clear();

  uint64_t lines() const { return lines_; }

  // The figures, with the interval given (in nanoseconds) or else the
  // median of the positive differences.
  QualityFigures figures(std::optional<int64_t> intervalNanoseconds = std::nullopt) const;

 private:
  struct Stamp {
    IsoDateTime time;
    __int128 instant = 0;  // nanoseconds since 1899-12-30, in UTC where it has a zone
    uint64_t line = 0;     // data line, from 1 within this meter
  };
  struct Candidate {
    IsoDateTime from, to;
    uint64_t toLine;
    int64_t nanoseconds;
  };
  // Where a sensor group's cells stand, in 16 bits a place (a table has
  // a few dozen columns): its raw payload, its value columns and where
  // their ranges begin in ranges_.
  struct GroupColumns {
    uint16_t raw = 0;
    std::array<uint16_t, 4> values{};
    uint16_t firstRange = 0;  // of its values' ranges, one after another in ranges_
    uint8_t valueCount = 0;
    uint8_t group = 0;          // its SensorGroup
    bool sentinelPair = false;  // an inclinometer: (-999.0, -999.0) is no reading
  };
  struct GroupCounts {
    bool present = false;
    uint64_t unreadable = 0;
  };
  struct Range {
    size_t column;
    uint64_t readings = 0;
    double least = std::numeric_limits<double>::infinity(), greatest = -std::numeric_limits<double>::infinity();
    double sum = 0;
  };

  // A block's time stamps, then each group's readings.
  void addStamps(const RowBlock& rows);
  template <size_t N, bool kSentinelPair>
  void addGroup(const RowBlock& rows, const GroupColumns& at);
  void step(const Stamp& before, std::string_view beforeText, const Stamp& after);
  void keepCandidate(const Candidate& candidate);
  void prune();
  uint64_t positiveCount() const;
  // Twice the median of the positive differences (exact in nanoseconds).
  std::optional<int64_t> twiceMedian() const;

  size_t stampColumn_;
  std::array<GroupColumns, kSensorGroups> layout_;  // the groups the table has columns for
  size_t groupsLaid_ = 0;
  std::array<GroupCounts, kSensorGroups> groups_;  // by SensorGroup
  std::vector<Range> ranges_;  // the value columns', group by group

  uint64_t lines_ = 0, dropped_ = 0, withoutStamp_ = 0, notAfter_ = 0, firstNotAfter_ = 0;
  std::optional<Stamp> first_, last_;
  std::string lastText_;  // the last stamp as written (its capacity kept)
  StampReader stamps_;
  std::unordered_map<int64_t, uint64_t> differences_;  // positive, in nanoseconds: how often
  int64_t lastDifference_ = 0;
  uint64_t* lastCount_ = nullptr;  // differences_[lastDifference_], for a run of equal ones
  uint64_t positives_ = 0;
  int64_t leastPositive_ = 0;
  int64_t longest_ = 0;  // the longest positive difference
  IsoDateTime longestFrom_;
  std::string longestAt_;
  std::vector<Candidate> candidates_;
  bool candidatesFull_ = false;
};

}  // namespace tlq
