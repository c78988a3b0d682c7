// Whether a line of a merge was written already from an earlier recording.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "table/window.h"

namespace tlq {

// The lines of the earlier recordings that can still come again (those whose
// stamps are at or after the first stamp of the recording now merged, and
// those without a stamp), and the current recording's, in 24 bytes a line
// held: one flat table of two hashes of each line, its place in time and the
// recording it came from. A line is let go when the next recording's first
// stamp passes it: it stays in its slot, dead, until a line takes the slot or
// the table is rebuilt as it grows, so letting go walks nothing.
class RepeatCheck {
 public:
  // Two hashes of a line, independent of each other.
  struct LineKey {
    uint64_t a = 0;
    uint32_t b = 0;
  };
  static LineKey keyOf(std::string_view line);

  // True when an earlier recording wrote `line`; else the line is noted as
  // the current recording's, with its time stamp's place. A line that comes
  // again in the recording that first wrote it is its own: not repeated.
  bool repeated(std::string_view line, const std::optional<StampTime>& stamp) {
    return repeated(keyOf(line), stamp);
  }
  bool repeated(const LineKey& key, const std::optional<StampTime>& stamp);

  // Whether a line of the current recording with this stamp can matter: it
  // can be an earlier recording's (its stamp is not after the latest of the
  // lines held before this recording), or a later recording can write it
  // again (its stamp is at or after `next`, the next recording's first, or
  // there is no such stamp). A line that cannot is no repeat and need not
  // be asked about: asked, it would be held until the recording is done and
  // then let go. Lines without a stamp always can.
  bool concerns(const std::optional<StampTime>& stamp, const std::optional<StampTime>& next) const {
    if (!stamp || !next) return true;
    const int64_t place = placeOf(*stamp);
    return place <= heldBefore_ || place >= placeOf(*next);
  }

  // The current recording is done: its lines join the earlier ones, and the
  // lines before `next` (the next recording's first stamp) are let go.
  // The next stamps only rise, as the merge orders its recordings.
  // Without `next` (the recordings without a stamp come last) nothing is let
  // go from then on, the current recording's lines before the last `next`
  // included.
  void recordingDone(const std::optional<StampTime>& next);

  // The lines held that can still come again (a walk over the table).
  size_t held() const;
  // The table's size in bytes.
  size_t bytes() const { return slots_.capacity() * sizeof(Slot); }

 private:
  struct Slot {
    uint64_t a = 0;
    uint32_t b = 0;
    uint32_t recording = 0;  // 1 + the index of the recording it came from; 0: an empty slot
    int64_t place = 0;       // its stamp's place in time (placeOf); kNoStamp without one
  };
  static_assert(sizeof(Slot) == 24);
  static constexpr int64_t kNoStamp = INT64_MAX;

  // A stamp as one number: nanoseconds from 2000-01-01, in order. A stamp
  // more than 290 years from then takes the first or last number: among
  // themselves such stamps are not told apart.
  static int64_t placeOf(const StampTime& stamp);
  // A line let go: an earlier recording's, before the last `next`.
  bool dead(const Slot& s) const { return s.recording != recording_ && s.place < letGoBefore_; }
  // The table again, the dead slots left out, in a size for what stays.
  void rebuild();

  std::vector<Slot> slots_;  // a power of two of them, or none
  size_t used_ = 0;          // slots not empty (dead ones too)
  uint32_t recording_ = 1;
  int64_t letGoBefore_ = INT64_MIN;
  int64_t heldLatest_ = INT64_MIN;  // the latest place of a line held, of any recording
  int64_t heldBefore_ = INT64_MIN;  // the same of the recordings before the current one
};

}  // namespace tlq
