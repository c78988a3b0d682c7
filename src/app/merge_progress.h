// What a person sees of a merge while it runs: a progress line on a
// terminal, or the desktop's progress dialog, through its two passes (the
// plan reads every recording, the write converts and writes them) and a
// workbook's compression.
#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/progress_line.h"
#include "batch/merge.h"
#include "platform/progress_dialog.h"

namespace tlq {

class MergeDisplay {
 public:
  // `dialog` shows the desktop's dialog, else `line` a line on standard
  // error (the caller decides: a terminal, no --quiet); with neither it
  // shows nothing. The merge's recordings are read for their paths now, in
  // the order the plan starts them in.
  MergeDisplay(const Merge& merge, bool workbook, bool dialog, bool line);

  bool showing() const { return dialog_.has_value() || line_; }

  // Shows where the merge is; sets `cancel` once Cancel is pressed.
  void tick(std::atomic<bool>& cancel);

  // The line cleared, the dialog closed: at its end when the merge is
  // `whole` (OUT written).
  void clear(bool whole);

 private:
  using Clock = std::chrono::steady_clock;
  // The share of the whole work done, from 0 to 1.
  double share(MergeProgress::Pass pass) const;
  void show(uint64_t bar, const std::string& what, const std::string& path, const std::string& text,
            std::optional<double> left);

  const Merge& merge_;
  bool workbook_;
  std::vector<std::string> paths_;  // in path order, as the plan goes
  std::optional<ProgressDialog> dialog_;
  bool line_ = false;
  std::string what_, path_;  // the dialog's text last shown
  ProgressLine progress_;
  Clock::time_point start_ = Clock::now(), passStart_ = start_;
  MergeProgress::Pass pass_ = MergeProgress::Pass::planning;
};

}  // namespace tlq
