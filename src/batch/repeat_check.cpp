#include "batch/repeat_check.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace tlq {

namespace {

constexpr size_t kFirstSlots = 16;

// A table is rebuilt when more than 3/4 of its slots are taken, and made
// big enough that what stays takes at most half (twice the size when it was
// full of lines held).
bool crowded(size_t used, size_t slots) { return used * 4 > slots * 3; }

}  // namespace

RepeatCheck::LineKey RepeatCheck::keyOf(std::string_view line) {
  // The standard library's hash of the bytes, a word at a time; a line's
  // place in time must match too, so that two lines are taken for one only
  // when 64 bits of their fields and their stamps agree.
  const uint64_t key = static_cast<uint64_t>(std::hash<std::string_view>{}(line));
  return key ? key : 1;
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

bool RepeatCheck::holds(const Slot& line) const {
  const Table& table = tables_[line.key >> (64 - kTableBits)];
  if (table.slots.empty()) return false;
  const size_t mask = table.slots.size() - 1;
  for (size_t i = static_cast<size_t>(line.key) & mask;; i = (i + 1) & mask) {
    const Slot& s = table.slots[i];
    if (s.key == 0) return false;
    if (s.key == line.key && s.place == line.place && !dead(s)) return true;
  }
}

bool RepeatCheck::repeated(LineKey key, const std::optional<StampTime>& stamp) {
  const Slot line{key, placeOf(stamp)};
  if (holds(line)) return true;
  if (last_) return false;
  current_.push_back(line);
  heldLatest_ = std::max(heldLatest_, line.place);
  return false;
}

void RepeatCheck::hold(const Slot& line) {
  Table& table = tableOf(line.key);
  if (table.slots.empty()) table.slots.resize(kFirstSlots);
  size_t mask = table.slots.size() - 1;
  size_t free = SIZE_MAX;  // a dead slot on the way, for the line
  size_t i = static_cast<size_t>(line.key) & mask;
  for (;; i = (i + 1) & mask) {
    const Slot& s = table.slots[i];
    if (s.key == 0) break;
    if (dead(s)) {
      if (free == SIZE_MAX) free = i;
    } else if (s.key == line.key && s.place == line.place) {
      return;  // the recording's own, again
    }
  }
  if (free != SIZE_MAX) {
    table.slots[free] = line;
    return;
  }
  if (crowded(table.used + 1, table.slots.size())) {
    rebuild(table);
    mask = table.slots.size() - 1;
    for (i = static_cast<size_t>(line.key) & mask; table.slots[i].key != 0; i = (i + 1) & mask) {
    }
  }
  table.slots[i] = line;
  ++table.used;
}

void RepeatCheck::recordingDone(const std::optional<StampTime>& next) {
  heldBefore_ = heldLatest_;
  if (next) {
    letGoBefore_ = std::max(letGoBefore_, placeOf(*next));
  } else if (letGoBefore_ != INT64_MIN) {
    // Nothing is let go from now on: the lines let go before are dropped
    // before they would count again. No table grows for it.
    for (Table& table : tables_) rebuild(table, true);
    letGoBefore_ = INT64_MIN;
  }
  for (const Slot& line : current_)
    if (!dead(line)) hold(line);
  current_.clear();
  if (current_.capacity() > (size_t{1} << 20)) current_.shrink_to_fit();
}

size_t RepeatCheck::held() const {
  size_t count = 0;
  for (const Table& table : tables_)
    count += static_cast<size_t>(
        std::count_if(table.slots.begin(), table.slots.end(), [&](const Slot& s) { return live(s); }));
  return count;
}

size_t RepeatCheck::bytes() const {
  size_t slots = current_.capacity();
  for (const Table& table : tables_) slots += table.slots.capacity();
  return slots * sizeof(Slot);
}

void RepeatCheck::rebuild(Table& table, bool keepSize) {
  if (table.slots.empty()) return;
  const size_t kept = static_cast<size_t>(
      std::count_if(table.slots.begin(), table.slots.end(), [&](const Slot& s) { return live(s); }));
  size_t size = kFirstSlots;
  while (kept * 2 > size) size *= 2;
  if (keepSize) size = table.slots.size();
  std::vector<Slot> old(size);
  old.swap(table.slots);
  const size_t mask = size - 1;
  for (const Slot& s : old) {
    if (!live(s)) continue;
    size_t i = static_cast<size_t>(s.key) & mask;
    while (table.slots[i].key != 0) i = (i + 1) & mask;
    table.slots[i] = s;
  }
  table.used = kept;
}

}  // namespace tlq
