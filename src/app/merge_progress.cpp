#include "app/merge_progress.h"

#include <algorithm>

#include "app/batch_text.h"
#include "error.h"
#include "platform/folders.h"

namespace tlq {

namespace {

constexpr uint64_t kBar = 1000;

// The shares of the work, as timed on a campaign of ten 10 MB recordings
// on two threads: the plan (each recording read and checked, its first stamp
// found) took about a twentieth of the CSV merge, more where the recordings
// are small; a workbook's rows and its compression take most of its time,
// each about half.
constexpr double kCsvPlan = 0.1;
constexpr double kBookPlan = 0.05, kBookRows = 0.5;

double seconds(std::chrono::steady_clock::time_point since) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

double part(uint64_t done, uint64_t total) {
  return total == 0 ? 1.0 : std::min(static_cast<double>(done) / static_cast<double>(total), 1.0);
}

}  // namespace

MergeDisplay::MergeDisplay(const Merge& merge, bool workbook, bool dialog, bool line)
    : merge_(merge), workbook_(workbook), line_(line && !dialog) {
  for (const MergedRecording& r : merge.recordings()) paths_.push_back(r.item.path);
  if (dialog)
    dialog_.emplace(workbook ? "tlqconverter: merging recordings into a workbook"
                             : "tlqconverter: merging recordings into CSV",
                    true);  // the time left of every pass, ours
}

double MergeDisplay::share(MergeProgress::Pass pass) const {
  const MergeProgress& p = merge_.progress();
  const uint64_t total = merge_.bytesTotal();
  const double plan = workbook_ ? kBookPlan : kCsvPlan;
  const double rows = workbook_ ? kBookRows : 1 - kCsvPlan;
  if (pass == MergeProgress::Pass::planning) return plan * part(p.plannedBytes.load(), total);
  if (pass == MergeProgress::Pass::merging) return plan + rows * part(p.mergedBytes.load() + p.underWay.load(), total);
  FinishingWork::State last = p.finishing.state();
  if (!last.started) return plan + rows;
  // The estimate of the file's size may be short: not at the end before it is.
  double written = std::min(part(pathInfo(last.file).size, std::max<uint64_t>(last.expectedBytes, 1)), 0.99);
  return plan + rows + (1 - plan - rows) * written;
}

void MergeDisplay::tick(std::atomic<bool>& cancel) {
  if (!showing()) return;
  const MergeProgress& p = merge_.progress();
  const MergeProgress::Pass pass = p.pass.load();
  if (pass != pass_) {
    pass_ = pass;
    passStart_ = Clock::now();
    if (dialog_) dialog_->restartClock();  // another pace
  }
  const double done = share(pass);
  const double elapsed = seconds(start_);
  std::optional<double> left;
  if (elapsed >= 0.25 && done > 0) left = elapsed / done * (1 - done);
  const size_t total = paths_.size();
  const uint64_t bytes = merge_.bytesTotal();
  const auto bar = static_cast<uint64_t>(done * kBar);
  if (pass == MergeProgress::Pass::compressing) {
    FinishingWork::State last = p.finishing.state();
    const std::string name = displayText(nameOf(merge_.out()));
    std::string text = name + ": compressing the workbook";
    if (last.started) {
      // The pace seen once it shows, else the pace measured on a sample.
      const uint64_t written = pathInfo(last.file).size;
      const double since = seconds(passStart_);
      left = since >= 1 && written > 0
                 ? static_cast<double>(last.expectedBytes - std::min(written, last.expectedBytes)) * since /
                       static_cast<double>(written)
                 : std::max(last.expectedSeconds - since, 1.0);
      const uint64_t expected = std::max<uint64_t>(last.expectedBytes, 1);
      text = phaseLine(name, "compressing the workbook", std::min(written, expected - expected / 100), expected, left);
    } else {
      left.reset();
    }
    show(bar, "Compressing the workbook", displayText(merge_.out()), text, left);
  } else if (pass == MergeProgress::Pass::planning) {
    const size_t shown = std::min(p.started.load(), total - 1);
    show(bar, "Planning " + std::to_string(shown + 1) + " of " + std::to_string(total) + " recordings",
         displayText(paths_[shown]),
         mergeProgressLine("planning", p.planned.load(), total, p.plannedBytes.load(), bytes, seconds(passStart_),
                           left),
         left);
  } else {
    const size_t shown = std::min(p.started.load(), total - 1);
    show(bar,
         "Merging " + std::to_string(shown + 1) + " of " + std::to_string(total) +
             (workbook_ ? " recordings into a workbook" : " recordings into CSV"),
         displayText(merge_.recordings()[shown].item.path),
         mergeProgressLine("merging", p.merged.load(), total, std::min(p.mergedBytes.load() + p.underWay.load(), bytes),
                           bytes, seconds(passStart_), left),
         left);
  }
  if (dialog_ && dialog_->cancelled()) cancel = true;
}

void MergeDisplay::show(uint64_t bar, const std::string& what, const std::string& path, const std::string& text,
                        std::optional<double> left) {
  what_ = what;
  path_ = path;
  if (dialog_) dialog_->update(bar, kBar, what, path, left ? clockText(*left) : "");
  if (line_) progress_.show(text);
}

void MergeDisplay::clear(bool whole) {
  progress_.clear();
  if (dialog_ && whole) dialog_->update(kBar, kBar, what_, path_);
  dialog_.reset();
}

}  // namespace tlq
