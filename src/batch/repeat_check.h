// Whether a line of a merge was written already from an earlier recording.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "table/window.h"

namespace tlq {

// The lines of the earlier recordings that can still come again (those whose
// stamps are at or after the first stamp of the recording now merged, and
// those without a stamp), each as 16 bytes: a hash of its fields and its
// stamp's place in time, which must both match. They are held in 64 flat
// tables chosen by the hash, each growing on its own, so that the memory
// held stays near what the lines need even while one of them grows. A line
// is let go when the next recording's first stamp passes it: it stays in its
// slot, dead, until a line takes the slot or its table is rebuilt as it
// grows, so letting go walks nothing. The current recording's lines join
// them when it is done.
class RepeatCheck {
 public:
  // A hash of a line's fields (never 0).
  using LineKey = uint64_t;
  static LineKey keyOf(std::string_view line);

  // True when an earlier recording wrote `line`, with this time stamp's
  // place; else the line is noted as the current recording's. A line that
  // comes again in the recording that first wrote it is its own: not
  // repeated.
  bool repeated(std::string_view line, const std::optional<StampTime>& stamp) {
    return repeated(keyOf(line), stamp);
  }
  bool repeated(LineKey key, const std::optional<StampTime>& stamp);

  // Whether a line of the current recording with this stamp can matter: it
  // can be an earlier recording's (its stamp is not after the latest of the
  // lines held before this recording), or a later recording can write it
  // again (its stamp is at or after `next`, the next recording's first, or
  // there is no such stamp). A line that cannot is no repeat and need not
  // be asked about: asked, it would be let go when the recording is done.
  // Lines without a stamp always can.
  bool concerns(const std::optional<StampTime>& stamp, const std::optional<StampTime>& next) const {
    if (!stamp) return true;
    const int64_t place = placeOf(*stamp);
    if (last_) return place <= heldBefore_;
    return !next || place <= heldBefore_ || place >= placeOf(*next);
  }

  // No recording comes after the current one: no line of it can come
  // again, so none is noted, and only those an earlier recording may have
  // written concern the check.
  void lastRecording() { last_ = true; }

  // The current recording is done: its lines join the earlier ones, and the
  // lines before `next` (the next recording's first stamp) are let go.
  // The next stamps only rise, as the merge orders its recordings.
  // Without `next` (the recordings without a stamp come last) nothing is let
  // go from then on, the current recording's lines before the last `next`
  // included.
  void recordingDone(const std::optional<StampTime>& next);

  // The lines held that can still come again (a walk over the tables).
  size_t held() const;
  // The bytes of the tables and of the current recording's lines.
  size_t bytes() const;

 private:
  struct Slot {
    uint64_t key = 0;   // 0: an empty slot
    int64_t place = 0;  // its stamp's place in time (placeOf); kNoStamp without one
  };
  static_assert(sizeof(Slot) == 16);
  static constexpr int64_t kNoStamp = INT64_MAX;
  static constexpr unsigned kTableBits = 6;

  // One of the tables: a power of two of slots, or none.
  struct Table {
    std::vector<Slot> slots;
    size_t used = 0;  // slots not empty (dead ones too)
  };

  // A stamp as one number: nanoseconds from 2000-01-01, in order. A stamp
  // more than 290 years from then takes the first or last number: among
  // themselves such stamps are told apart by the hash alone.
  static int64_t placeOf(const StampTime& stamp);
  static int64_t placeOf(const std::optional<StampTime>& stamp) { return stamp ? placeOf(*stamp) : kNoStamp; }
  Table& tableOf(uint64_t key) { return tables_[key >> (64 - kTableBits)]; }
  // A line let go: before the last `next`.
  bool dead(const Slot& s) const { return s.place < letGoBefore_; }
  bool live(const Slot& s) const { return s.key != 0 && !dead(s); }
  bool holds(const Slot& line) const;
  // Adds a line of the recording just done, unless it is held already.
  void hold(const Slot& line);
  // The table again, the dead slots left out: in a size for what stays to
  // grow into, or with `keepSize` in the size it has.
  void rebuild(Table& table, bool keepSize = false);

  std::array<Table, size_t{1} << kTableBits> tables_;
  std::vector<Slot> current_;  // the current recording's lines, as asked about
  bool last_ = false;          // the current recording is the last
  int64_t letGoBefore_ = INT64_MIN;
  int64_t heldLatest_ = INT64_MIN;  // the latest place of a line held, of any recording
  int64_t heldBefore_ = INT64_MIN;  // the same of the recordings before the current one
};

}  // namespace tlq
