#include "app/merge_mode.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include "app/batch_log.h"
#include "app/batch_summary.h"
#include "app/batch_text.h"
#include "app/dispatch.h"
#include "app/log_file.h"
#include "app/merge_progress.h"
#include "app/work_thread.h"
#include "app/options.h"
#include "app/quality_text.h"
#include "app/report.h"
#include "batch/find_recordings.h"
#include "batch/merge.h"
#include "batch/table_files.h"
#include "convert/convert.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/console.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"

namespace tlq {

namespace {

#ifdef _WIN32
constexpr bool kExpandWildcards = true;  // cmd leaves them to the program
#else
constexpr bool kExpandWildcards = false;  // the shell has expanded them
#endif

enum class OutKind { csv, workbook, none };

OutKind outKind(const std::string& out) {
  auto endsWith = [&](std::string_view end) {
    return out.size() > end.size() && equalIgnoringCase(std::string_view(out).substr(out.size() - end.size()), end);
  };
  return endsWith(".csv") ? OutKind::csv : endsWith(".xlsx") ? OutKind::workbook : OutKind::none;
}

std::string mergeUsage() {
  return "Usage: tlqconverter --merge OUT [--split-rows N] [--from T] [--to T] [--interval SECONDS]\n"
         "                          [--dry-run] [--log FILE] [--list-separator C]\n"
         "                          [--decimal-separator C] [--quiet] [--] PATH...\n"
         "Try \"tlqconverter --help\" for more.\n";
}

int usageFailure(const std::string& message) {
  attachParentConsole();
  writeText(stderr, "tlqconverter: " + message + "\n" + mergeUsage());
  return exitFailed;
}

std::string lines(uint64_t n) { return std::to_string(n) + (n == 1 ? " line" : " lines"); }
std::string entries(uint64_t n) { return std::to_string(n) + (n == 1 ? " entry" : " entries"); }

// "120 lines, 100 repeated lines left out, 0 entries dropped for a failed
// CRC", and the lines the window left out when there is one.
std::string countsText(uint64_t written, uint64_t repeated, uint64_t dropped, uint64_t outside, bool window,
                       const char* verb) {
  return lines(written) + verb + ", " + std::to_string(repeated) + " repeated " +
         (repeated == 1 ? "line" : "lines") + " left out, " + entries(dropped) + " dropped for a failed CRC" +
         (window ? ", " + lines(outside) + " outside the window" : "");
}

unsigned mergeThreads() {
  unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
  return std::min(requestedThreads().value_or(hardware), hardware);
}

}  // namespace

int runMerge(const std::vector<std::string>& args) {
  TLQ_OP("runMerge");
  BatchOptions options;
  try {
    options = parseBatchArguments(args);
  } catch (const UsageError& e) {
    std::string message = e.message();
    if (message.starts_with("--batch needs")) message = "--merge needs OUT and a recording or a folder";
    return usageFailure(message);
  }
  if (!options.outDir.empty()) return usageFailure("--out does not go with --merge (OUT names the table)");
  if (options.update) return usageFailure("--update does not go with --merge (the campaign's table is made anew)");
  if (options.deleteStaleParts) return usageFailure("--delete-stale-parts does not go with --merge");
  if (options.workbooks) return usageFailure("--xlsx does not go with --merge (OUT ending in .xlsx gives a workbook)");
  const std::string out = options.paths.front();
  const OutKind kind = outKind(out);
  if (kind == OutKind::none)
    return usageFailure("--merge needs OUT ending in .csv or .xlsx, not \"" + displayText(out) + "\"");
  if (options.paths.size() < 2) return usageFailure("--merge needs a recording or a folder after OUT");
  if (kind == OutKind::workbook && options.splitRows > 0)
    return usageFailure("--split-rows does not go with a workbook (a workbook goes on over further sheets)");
  std::vector<std::string> paths(options.paths.begin() + 1, options.paths.end());

  std::atomic<bool> cancel{false};
  InterruptGuard interrupts(cancel);
  auto exit = [&](int code) {
    InterruptGuard::done();
    return interrupts.exitCode() ? interrupts.exitCode() : code;
  };
  const auto start = std::chrono::steady_clock::now();

  std::vector<std::string> cutShort;
  FindOptions find{"", "csv", kExpandWildcards, &cancel, &cutShort};
  std::vector<BatchItem> items = TLQ_AT(findRecordings(paths, find));
  MergeSettings settings;
  settings.splitRows = options.splitRows;
  settings.threads = mergeThreads();
  settings.workbook = kind == OutKind::workbook;
  settings.intervalNanoseconds = options.intervalNanoseconds;
  settings.salvage = options.salvage;
  if (!options.dryRun || !options.logFile.empty()) {
    try {
      settings.listSeparator = options.listSeparator ? *options.listSeparator : TLQ_AT(getListSeparator());
      settings.decimalSeparator =
          options.decimalSeparator ? *options.decimalSeparator : TLQ_AT(getDecimalSeparator());
    } catch (const Error&) {
      if (!options.dryRun) throw;
      TraceFrame::forgetUnwound();
    }
    if (settings.listSeparator == settings.decimalSeparator && (options.listSeparator || options.decimalSeparator))
      return exit(usageFailure(sameSeparators(settings.listSeparator) + " (one of them from the regional settings)"));
  }
  const bool window = options.window.active();
  if (window) settings.window = &options.window;
  Merge merge(std::move(items), out, settings);
  if (std::string recording = merge.recordingAt(out); !recording.empty())
    return exit(usageFailure("OUT would overwrite the recording " + displayText(recording)));
  if (!options.logFile.empty()) {
    std::string place = placeKey(linkTarget(options.logFile));
    if (std::string recording = merge.recordingAt(options.logFile); !recording.empty())
      return exit(usageFailure("--log would overwrite " + displayText(recording)));
    if (place == placeKey(linkTarget(out))) return exit(usageFailure("--log would overwrite " + displayText(out)));
  }
  for (const std::string& path : cutShort)
    writeText(stdout, cutShortLine(path));
  if (merge.recordings().empty()) {
    writeText(stdout, cancel ? "cancelled: no recordings merged\n" : "No recordings (*.tlq) were found.\n");
    return exit(cancel ? exitCancelled : exitFailed);
  }
  if (!cutShort.empty()) cancel = true;

  // The progress as the batch shows it: the desktop's dialog when started
  // from there, else a line on a terminal; nothing with --quiet or for a
  // dry run.
  const bool shown = !options.dryRun && !options.quiet;
  const bool desktop = shown && startedFromDesktop();
  MergeDisplay display(merge, kind == OutKind::workbook, desktop, shown && !desktop && isTerminal(stderr));
  bool planned = false, written = false;
  auto work = [&] {
    planned = !cancel && TLQ_AT(merge.plan(cancel));
    if (planned && !options.dryRun && !cancel)
      written = kind == OutKind::workbook ? TLQ_AT(merge.writeWorkbook(cancel)) : TLQ_AT(merge.writeCsv(cancel));
  };
  if (display.showing())
    runWithTicks(work, [&] { display.tick(cancel); });
  else
    work();
  display.clear(written);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

  std::vector<RecordingFailure> failures(merge.recordings().size());
  size_t failed = 0;
  std::string summary;
  for (size_t i = 0; i < merge.recordings().size(); ++i) {
    const MergedRecording& r = merge.recordings()[i];
    if (r.state != MergedRecording::State::failed) continue;
    ++failed;
    failures[i] = reportFailure(r.item.path, r.failure);
  }
  const bool stopped = cancel.load();
  if (options.dryRun) {
    for (size_t i = 0; i < merge.recordings().size(); ++i) {
      const MergedRecording& r = merge.recordings()[i];
      const RecordingFailure& f = failures[i];
      if (r.state == MergedRecording::State::failed)
        summary += "would fail: " + displayText(r.item.path + ": " + withReason(f.message, f.reason)) + "\n";
      else if (planned)
        summary += "would merge: " + displayText(r.name) +
                   (r.firstStamp ? " (from " + displayText(*r.firstStamp) + ")" : " (no time stamp)") + "\n";
    }
    if (stopped)
      summary += "cancelled: nothing planned\n";
    else if (planned)
      summary += "would write: " + displayText(out) +
                 (options.splitRows > 0
                      ? " (and _part2, _part3, ... beyond " + std::to_string(options.splitRows) + " lines)"
                      : "") +
                 " from " + std::to_string(merge.recordings().size()) + " recordings\n";
    writeText(stdout, summary);
    return exit(stopped ? exitCancelled : failed > 0 ? exitFailed : exitOk);
  }

  uint64_t totalLines = 0, totalRepeated = 0, totalDropped = 0, totalOutside = 0, bytes = 0;
  for (size_t i = 0; i < merge.recordings().size(); ++i) {
    const MergedRecording& r = merge.recordings()[i];
    const RecordingFailure& f = failures[i];
    if (r.state == MergedRecording::State::merged) {
      summary += "merged: " + displayText(r.name) + ": " +
                 countsText(r.lines, r.repeated, r.dropped, r.outside, window, "") + "\n";
      if (r.quality)
        for (const std::string& finding : findingLines(displayText(r.name), *r.quality)) summary += finding + "\n";
      totalLines += r.lines;
      totalRepeated += r.repeated;
      totalDropped += r.dropped;
      totalOutside += r.outside;
      if (r.salvaged) summary += salvagedLine(r.item.path, *r.salvaged) + "\n";
    } else if (r.state == MergedRecording::State::failed) {
      summary += failedLine(r.item.path, f);
    }
    if (r.state != MergedRecording::State::waiting) bytes += r.item.size;
  }
  for (const std::string& path : merge.swept())
    summary += sweptLine(path);
  if (merge.outFailure()) summary += failedLine(out, reportFailure(out, merge.outFailure()));
  const size_t n = merge.recordings().size();
  if (written) {
    summary += std::to_string(n) + (n == 1 ? " recording" : " recordings") + " merged into " + displayText(out) +
               ": " + countsText(totalLines, totalRepeated, totalDropped, totalOutside, window, " written") + ", " +
               megabytes(bytes) + " MB read in " + secondsText(seconds) + " s\n";
  } else {
    summary += std::string(stopped ? "cancelled: " : "") + displayText(out) + " not written" +
               (pathInfo(out).kind == PathKind::file ? " (the older one is kept)" : "") + ": " +
               std::to_string(failed) + " of " + std::to_string(n) + (n == 1 ? " recording" : " recordings") +
               " failed, " + megabytes(bytes) + " MB read in " + secondsText(seconds) + " s\n";
  }
  int code = stopped ? exitCancelled : written ? exitOk : exitFailed;
  if (!options.logFile.empty()) {
    if (!writeLogOrTell(options.logFile,
                        mergeLogText(merge, failures, window, settings.listSeparator, settings.decimalSeparator)) &&
        code == exitOk)
      code = exitFailed;
  }
  writeText(stdout, summary);
  return exit(code);
}

}  // namespace tlq
