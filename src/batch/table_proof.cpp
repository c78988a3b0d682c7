#include "batch/table_proof.h"

#include <algorithm>
#include <cstdint>

namespace tlq {

namespace {

// The system's ticks in a second, and in 100 ns: the finest step that every
// file system with fine times keeps (NTFS keeps no finer).
int64_t ticksPerSecond() { return ticksOfSeconds(1); }
int64_t ticksPerStep() { return ticksOfSeconds(1) / 10'000'000; }

// The part of a time within its second, in ticks.
int64_t fraction(int64_t modified) {
  int64_t second = ticksPerSecond();
  return (modified % second + second) % second;
}

// Steps of 100 ns within the second of a commit's time: ten times a digest
// of what the table is, and 7, so that a time of a commit is known as one
// (a time the file system cut to a coarser step ends in 0).
constexpr int64_t kCommitDigit = 7;

bool isCommitTime(int64_t modified) {
  int64_t part = fraction(modified);
  return part % ticksPerStep() == 0 && part / ticksPerStep() % 10 == kCommitDigit;
}

// FNV-1a, 64 bits, over the little-endian bytes of each value.
class Digest {
 public:
  void add(uint64_t value) {
    for (int i = 0; i < 8; ++i) hash_ = (hash_ ^ (value >> 8 * i & 0xFF)) * 0x100000001B3u;
  }
  uint64_t value() const { return hash_ ^ hash_ >> 32; }

 private:
  uint64_t hash_ = 0xCBF29CE484222325u;
};

// A commit's time within its second, in ticks, for a table of parts of
// `sizes` made from `basis`. The recording's time goes in as nanoseconds
// since 1970, so that a table and its recording copied with their times
// from one system to another still prove themselves.
int64_t commitFraction(const TableBasis& basis, const std::vector<uint64_t>& sizes) {
  Digest d;
  d.add(1);  // the form of this digest
  d.add(static_cast<uint64_t>(unixNanoseconds(basis.recordingModified)));
  d.add(basis.recordingSize);
  d.add(basis.splitRows);
  d.add(static_cast<uint8_t>(basis.listSeparator));
  d.add(static_cast<uint8_t>(basis.decimalSeparator));
  d.add(basis.workbook ? 1 : 0);
  d.add(sizes.size());
  for (uint64_t size : sizes) d.add(size);
  int64_t steps = static_cast<int64_t>(d.value() % 1'000'000) * 10 + kCommitDigit;
  return steps * ticksPerStep();
}

}  // namespace

bool stampCommit(const std::vector<std::string>& parts, const TableBasis& basis) {
  if (parts.empty()) return false;
  std::vector<uint64_t> sizes;
  int64_t latest = INT64_MIN;
  for (const std::string& part : parts) {
    PathInfo info = pathInfo(part);
    if (info.kind != PathKind::file) return false;
    sizes.push_back(info.size);
    latest = std::max(latest, info.modified);
  }
  int64_t time = latest - fraction(latest) + commitFraction(basis, sizes);
  if (time > latest) time -= ticksPerSecond();
  bool all = true;
  for (const std::string& part : parts) all = setModified(part, time) && all;
  return all;
}

bool sameCommit(const PathInfo& part, const PathInfo& first) {
  return part.kind == PathKind::file && first.kind == PathKind::file && isCommitTime(first.modified) &&
         part.modified == first.modified;
}

bool leftByCommit(const PathInfo& part, const PathInfo& first) {
  return part.kind == PathKind::file && first.kind == PathKind::file && isCommitTime(first.modified) &&
         part.modified == first.modified - ticksPerStep();
}

bool leaveStale(const std::string& part, const PathInfo& first) {
  return first.kind == PathKind::file && isCommitTime(first.modified) &&
         setModified(part, first.modified - ticksPerStep());
}

std::optional<std::vector<size_t>> provenParts(const PathInfo& first,
                                               const std::vector<std::pair<uint64_t, PathInfo>>& named,
                                               const TableBasis& basis) {
  if (first.kind != PathKind::file || !isCommitTime(first.modified)) return std::nullopt;
  std::vector<uint64_t> sizes = {first.size};
  std::vector<size_t> at;
  for (size_t i = 0; i < named.size(); ++i) {
    const auto& [number, info] = named[i];
    if (!sameCommit(info, first)) continue;  // another commit's, or not this program's
    if (number != sizes.size() + 1) return std::nullopt;  // a part of it missing before this one
    sizes.push_back(info.size);
    at.push_back(i);
  }
  if (fraction(first.modified) != commitFraction(basis, sizes)) return std::nullopt;
  return at;
}

}  // namespace tlq
