#include "app/single_mode.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <optional>

#include "app/batch_text.h"
#include "app/dispatch.h"
#include "app/progress_line.h"
#include "app/work_thread.h"
#include "batch/sweep.h"
#include "convert/convert_workbook.h"
#include "error.h"
#include "platform/console.h"
#include "platform/folders.h"
#include "platform/progress_dialog.h"
#include "platform/system.h"
#include "text.h"

namespace tlq {

namespace {

using Clock = std::chrono::steady_clock;

// A conversion shorter than a second shows nothing; TLQCONVERTER_QUIET_SECONDS
// (a whole number, 0 too) sets another time, for tests.
double quietSeconds() {
  std::optional<std::string> text = getEnv("TLQCONVERTER_QUIET_SECONDS");
  if (text && *text == "0") return 0;
  std::optional<uint64_t> n = text ? parseCount(*text) : std::nullopt;
  return n ? static_cast<double>(*n) : 1.0;
}

double since(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// What the person sees of the conversion: a phase, a bar, the time left.
// A workbook's bar is half the conversion and half the compression (the
// library's last phase, as long as the rest, about): it nears its end only
// at the end, and the time left counts both.
class Display {
 public:
  static constexpr uint64_t kBar = 1000;

  Display(std::string path, bool workbook) : path_(std::move(path)), workbook_(workbook) {}

  // The conversion phase: `done` of `total` bytes of the recording.
  void converting(uint64_t done, uint64_t total, double seconds) {
    double share = static_cast<double>(std::min(done, total)) / static_cast<double>(total);
    std::optional<double> left;
    if (seconds >= 0.25 && done > 0) left = seconds / share * (1 - share) + (workbook_ ? seconds / share : 0);
    show(workbook_ ? "Converting the recording, then compressing the workbook" : "Converting the recording",
         "converting", done, total, workbook_ ? share / 2 : share, left);
  }

  // The workbook's last phase: its file at `done` of about `total` bytes.
  void compressing(uint64_t done, uint64_t total, std::optional<double> left) {
    if (!compressing_) {
      compressing_ = true;
      if (dialog_) dialog_->restartClock();  // another pace
    }
    // The estimate may be short: the bar stays below its end until the end.
    double share = std::min(static_cast<double>(done) / static_cast<double>(total), 0.99);
    show("Compressing the workbook", "compressing the workbook", std::min(done, total - total / 100), total,
         0.5 + share / 2, left);
  }

  bool cancelled() { return dialog_ && dialog_->cancelled(); }

  void clear() {
    line_.clear();
    dialog_.reset();
  }

 private:
  void show(const std::string& what, const std::string& phase, uint64_t done, uint64_t total, double bar,
            std::optional<double> left) {
    if (!started_) {
      started_ = true;
      if (startedFromDesktop())
        dialog_.emplace(nameOf(path_), true);  // the time left of both phases, ours
      else
        terminal_ = isTerminal(stderr);
    }
    if (dialog_)
      dialog_->update(static_cast<uint64_t>(bar * kBar), kBar, what, displayText(path_), left ? clockText(*left) : "");
    if (terminal_) line_.show(phaseLine(displayText(nameOf(path_)), phase, done, total, left));
  }

  std::string path_;
  bool workbook_;
  bool started_ = false, terminal_ = false, compressing_ = false;
  std::optional<ProgressDialog> dialog_;
  ProgressLine line_;
};

}  // namespace

SingleRun convertWithProgress(const std::string& path, bool workbook, const TimeWindow* window,
                              std::optional<int64_t> interval, bool salvage) {
  std::atomic<bool> cancel{false};
  std::atomic<uint64_t> bytes{0};
  FinishingWork finishing;
  ConversionControl control;
  control.intervalNanoseconds = interval;
  control.salvage = salvage;
  control.cancel = &cancel;
  control.bytesDone = &bytes;
  control.finishing = &finishing;
  if (window && window->active()) control.window = window;
  InterruptGuard interrupts(cancel);

  SingleRun run;
  run.window = control.window != nullptr;
  Display display(path, workbook);
  const uint64_t total = std::max<uint64_t>(pathInfo(path).size, 1);
  const double quiet = quietSeconds();
  const Clock::time_point start = Clock::now();
  std::optional<Clock::time_point> compressingSince;
  auto tick = [&] {
    FinishingWork::State last = finishing.state();
    if (since(start) >= quiet) {
      if (!last.started) {
        display.converting(bytes.load(), total, since(start));
      } else {
        if (!compressingSince) compressingSince = Clock::now();
        uint64_t written = pathInfo(last.file).size;
        double seconds = since(*compressingSince);
        // The pace seen once it shows, else the pace measured on a sample.
        std::optional<double> left =
            seconds >= 1 && written > 0
                ? static_cast<double>(last.expectedBytes - std::min(written, last.expectedBytes)) * seconds / written
                : std::max(last.expectedSeconds - seconds, 1.0);
        display.compressing(written, std::max<uint64_t>(last.expectedBytes, 1), left);
      }
    }
    if (display.cancelled()) cancel = true;
    if (cancel && last.started) {
      // The library cannot be stopped while it compresses: the workbook is
      // given up, its files removed, and the program ends at once.
      removeFile(last.file);
      removeLibraryFolderOf(last.file);
      display.clear();
      InterruptGuard::done();
      std::_Exit(interrupts.exitCode() ? interrupts.exitCode() : exitCancelled);
    }
  };
  try {
    runWithTicks(
        [&] {
          run.table =
              workbook ? mainConvertWorkbook(path, control, &run.counts) : mainConvert(path, control, &run.counts);
        },
        tick, false);
  } catch (const ConversionCancelled&) {
    display.clear();
    run.stopped = interrupts.exitCode() ? interrupts.exitCode() : exitCancelled;
    InterruptGuard::done();
    return run;
  } catch (...) {
    display.clear();
    throw;
  }
  display.clear();
  InterruptGuard::done();
  return run;
}

std::string writtenLine(const SingleRun& run, bool workbook) {
  auto counted = [](uint64_t n, const char* one, const char* more) {
    return std::to_string(n) + " " + (n == 1 ? one : more);
  };
  std::string line = std::string(workbook ? "Workbook" : "CSV") + " written to: " + displayText(run.table) + " (" +
                     (workbook ? counted(run.counts.lines, "row", "rows") : counted(run.counts.lines, "line", "lines"));
  if (run.counts.dropped > 0) line += ", " + counted(run.counts.dropped, "entry", "entries") + " dropped for a failed CRC";
  if (run.window) line += ", " + counted(run.counts.outside, "line", "lines") + " outside the window";
  return line + ")\n";
}

}  // namespace tlq
