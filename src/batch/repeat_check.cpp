#include "batch/repeat_check.h"

#include <algorithm>
#include <boost/container_hash/hash.hpp>
#include <functional>
#include <string_view>

namespace tlq {

namespace {

constexpr size_t kFirstSlots = 1024;

// The table is rebuilt when more than 3/4 of its slots are taken, and made
// big enough that what stays takes at most half (twice the size when it was
// full of lines held).
bool crowded(size_t used, size_t slots) { return used * 4 > slots * 3; }

}  // namespace

RepeatCheck::LineKey RepeatCheck::keyOf(std::string_view line) {
  // The standard library's and Boost's hashes of the bytes: two different
  // functions, each a word at a time.
  return {static_cast<uint64_t>(std::hash<std::string_view>{}(line)),
          static_cast<uint32_t>(boost::hash<std::string_view>{}(line))};
}

int64_t RepeatCheck::placeOf(const StampTime& stamp) {
  constexpr int64_t kDay = 86'400'000'000'000;
  constexpr int64_t kBase = 36'526;  // 2000-01-01 in days since 1899-12-30
  constexpr int64_t kSpan = INT64_MAX / kDay - 1;
  const int64_t days = stamp.day - kBase;
  if (days > kSpan) return kNoStamp - 1;
  if (days < -kSpan) return INT64_MIN;
  return days * kDay + stamp.nanoseconds;
}

bool RepeatCheck::repeated(const LineKey& key, const std::optional<StampTime>& stamp) {
  if (slots_.empty()) slots_.resize(kFirstSlots);
  const size_t mask = slots_.size() - 1;
  size_t free = SIZE_MAX;  // a dead slot on the way, for the line
  size_t i = static_cast<size_t>(key.a) & mask;
  for (;; i = (i + 1) & mask) {
    Slot& s = slots_[i];
    if (s.recording == 0) break;
    if (s.a == key.a && s.b == key.b) {
      if (s.recording == recording_) return false;  // the recording's own, again
      if (!dead(s)) return true;
      free = i;  // this very line, let go: it is the current recording's now
      break;
    }
    if (free == SIZE_MAX && dead(s)) free = i;
  }
  const Slot line{key.a, key.b, recording_, stamp ? placeOf(*stamp) : kNoStamp};
  heldLatest_ = std::max(heldLatest_, line.place);
  if (free != SIZE_MAX) {
    slots_[free] = line;
    return false;
  }
  if (crowded(used_ + 1, slots_.size())) {
    rebuild();
    const size_t grown = slots_.size() - 1;
    for (i = static_cast<size_t>(key.a) & grown; slots_[i].recording != 0; i = (i + 1) & grown) {
    }
  }
  slots_[i] = line;
  ++used_;
  return false;
}

void RepeatCheck::recordingDone(const std::optional<StampTime>& next) {
  heldBefore_ = heldLatest_;
  if (next) {
    letGoBefore_ = std::max(letGoBefore_, placeOf(*next));
  } else if (letGoBefore_ != INT64_MIN) {
    // Nothing is let go from now on: the lines let go before are dropped
    // while the current recording's are still told from them.
    rebuild();
    letGoBefore_ = INT64_MIN;
  }
  ++recording_;
}

size_t RepeatCheck::held() const {
  return static_cast<size_t>(
      std::count_if(slots_.begin(), slots_.end(), [&](const Slot& s) { return s.recording != 0 && !dead(s); }));
}

void RepeatCheck::rebuild() {
  const size_t live = held();
  size_t size = kFirstSlots;
  while (live * 2 > size) size *= 2;
  std::vector<Slot> old(size);
  old.swap(slots_);
  const size_t mask = size - 1;
  for (const Slot& s : old) {
    if (s.recording == 0 || dead(s)) continue;
    size_t i = static_cast<size_t>(s.a) & mask;
    while (slots_[i].recording != 0) i = (i + 1) & mask;
    slots_[i] = s;
  }
  used_ = live;
}

}  // namespace tlq
