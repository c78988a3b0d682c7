#include "app/batch_mode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

#include "app/batch_log.h"
#include "app/batch_summary.h"
#include "app/batch_text.h"
#include "app/dispatch.h"
#include "app/log_file.h"
#include "app/options.h"
#include "app/progress_line.h"
#include "app/quality_text.h"
#include "app/report.h"
#include "batch/batch.h"
#include "batch/table_files.h"
#include "convert/convert.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/progress_dialog.h"
#include "platform/shell.h"
#include "platform/system.h"
#include "platform/temp_files.h"

namespace tlq {

namespace {

constexpr const char* kTitle = "tlqconverter";

#ifdef _WIN32
constexpr bool kExpandWildcards = true;  // cmd leaves them to the program
#else
constexpr bool kExpandWildcards = false;  // the shell has expanded them
#endif

// The threads of the machine, fewer when TLQCONVERTER_THREADS says so.
unsigned batchThreads() {
  unsigned hardware = std::max(std::thread::hardware_concurrency(), 1u);
  return std::min(requestedThreads().value_or(hardware), hardware);
}


// What fails before a recording is read, as a plan says it: a clash, a
// PATH that is no recording, a folder that takes no file, a table that
// cannot be replaced. "" when none of these.
std::string plannedFailure(const BatchItem& item) {
  try {
    MappedFile recording(item.path);  // opened, not read
    requireReplaceable(item.table);
  } catch (const IoError& e) {
    TraceFrame::forgetUnwound();
    return withReason(e.message(), e.reason());
  }
  return "";
}

// --dry-run: what a run would write, and what it would refuse, until it is
// done or `cancel` is set.
std::string dryRunText(const Batch& batch, uint64_t splitRows, const std::atomic<bool>& cancel, size_t& failing,
                       size_t& planned) {
  std::string text;
  std::vector<std::string> kept;
  for (planned = 0; planned < batch.items().size() && !cancel; ++planned) {
    const BatchItem& item = batch.items()[planned];
    std::string failure = item.problem.empty() ? "" : withReason(item.problem, item.reason);
    const bool upToDate = failure.empty() && batch.plan().upToDate(planned, kept);
    if (failure.empty() && !upToDate) failure = plannedFailure(item);
    if (!failure.empty()) {
      ++failing;
      text += "would fail: " + displayText(item.path + ": " + failure) + "\n";
    } else if (upToDate) {
      text += "up to date: " + displayText(item.path) + "\n";
    } else {
      text += "would write: " + displayText(item.table) +
              (splitRows > 0 ? " (and _part2, _part3, ... beyond " + std::to_string(splitRows) + " lines)" : "") +
              " from " + displayText(item.path) + "\n";
      for (const StalePart& part : batch.plan().plannedStaleParts(planned)) text += staleLine(part, true);
    }
  }
  return text;
}

// From the desktop: a message box with the totals and, when any recording
// failed or has findings, the summary in a file that the desktop opens like a report once
// the box is dismissed.
void tellTheDesktop(const BatchTotals& totals, const std::string& summary, std::string message) {
  std::string listed;
  if (totals.failed > 0 || totals.withFindings > 0) {
    try {
      TempFile file = mkstemp("tlqconverter_summary_", ".txt", "");
      file.file->write(summaryFileText(summary));
      file.file->close();
      listed = file.path;
    } catch (const Error&) {
      TraceFrame::forgetUnwound();
    }
    message += listedNote(totals, listed);
  }
  showMessage(kTitle, message, totals.failed > 0 || totals.cancelled);
  if (!listed.empty()) {
    try {
      osOpenFile(listed);
    } catch (const Error&) {
      TraceFrame::forgetUnwound();  // the box named the file
    }
  }
}

// A usage message, whose arguments are shown as the summary shows names
// (displayText): an argument cannot steer the terminal.
int usageFailure(const std::string& message) {
  attachParentConsole();
  writeText(stderr, "tlqconverter: " + message + "\n" + usageHint());
  return exitFailed;
}

}  // namespace

int runBatch(const std::vector<std::string>& args) { return runBatchOrCheck(args, false); }

int runCheck(const std::vector<std::string>& args) { return runBatchOrCheck(args, true); }

int runBatchOrCheck(const std::vector<std::string>& args, bool check) {
  TLQ_OP("runBatch");
  BatchOptions options;
  try {
    options = parseBatchArguments(args, check ? "--check" : "--batch");
    if (check) refuseForCheck(options);
  } catch (const UsageError& e) {
    return usageFailure(e.message());
  }
  if (!options.outDir.empty()) {
    PathKind out = pathInfo(options.outDir).kind;
    if (out != PathKind::missing && out != PathKind::folder)
      return usageFailure("--out is not a folder: " + displayText(options.outDir));
  }
  // From the start: an interrupt during the search ends it as well. The
  // first signal decides the exit code, whenever it comes.
  std::atomic<bool> cancel{false};
  InterruptGuard interrupts(cancel);
  auto exit = [&](int code) {
    InterruptGuard::done();
    return interrupts.exitCode() ? interrupts.exitCode() : code;
  };
  // --quiet: no window, no message box, no file opened (a timer's run).
  const bool desktop = startedFromDesktop() && !options.dryRun && !options.quiet;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

  std::vector<std::string> cutShort;
  FindOptions find{options.outDir, options.workbooks ? "xlsx" : "csv", kExpandWildcards, &cancel, &cutShort};
  std::vector<BatchItem> items = TLQ_AT(findRecordings(options.paths, find));
  BatchSettings settings;
  settings.splitRows = options.splitRows;
  settings.threads = batchThreads();
  settings.update = options.update;
  settings.workbooks = options.workbooks;
  settings.deleteStaleParts = options.deleteStaleParts;
  settings.intervalNanoseconds = options.intervalNanoseconds;
  settings.checkOnly = check;
  settings.salvage = options.salvage;
  if (options.window.active()) settings.window = &options.window;
  if (!options.dryRun) {
    // Read once for the whole batch; the log is separated as the tables are.
    auto separators = [&] {
      settings.listSeparator = options.listSeparator ? *options.listSeparator : TLQ_AT(getListSeparator());
      settings.decimalSeparator = options.decimalSeparator ? *options.decimalSeparator : TLQ_AT(getDecimalSeparator());
    };
    if (!items.empty() && !options.workbooks && !check && !cancel) {
      separators();
    } else if (!options.logFile.empty()) {
      try {
        separators();
      } catch (const Error&) {  // settings no table needs: the log keeps comma and point
        TraceFrame::forgetUnwound();
      }
    }
    if (settings.listSeparator == settings.decimalSeparator && (options.listSeparator || options.decimalSeparator))
      return exit(usageFailure(sameSeparators(settings.listSeparator) + " (one of them from the regional settings)"));
  } else if (options.update && !options.workbooks && !items.empty()) {
    // A table is up to date only when made with the separators a run would
    // take; without them the plan takes none for up to date.
    try {
      settings.listSeparator = options.listSeparator ? *options.listSeparator : TLQ_AT(getListSeparator());
      settings.decimalSeparator = options.decimalSeparator ? *options.decimalSeparator : TLQ_AT(getDecimalSeparator());
    } catch (const Error&) {
      TraceFrame::forgetUnwound();
      settings.listSeparator = settings.decimalSeparator = 0;
    }
  }

  Batch batch(std::move(items), settings);
  if (!options.logFile.empty()) {
    std::string overwritten = batch.plan().wouldOverwrite(options.logFile);
    if (!overwritten.empty()) return exit(usageFailure("--log would overwrite " + displayText(overwritten)));
  }
  if (options.dryRun) {
    size_t failing = 0, planned = 0;
    std::string text;
    for (const std::string& path : cutShort) text += cutShortLine(path);
    text += dryRunText(batch, options.splitRows, cancel, failing, planned);
    if (cancel || !cutShort.empty())
      text += "cancelled: " + std::to_string(planned) + " of " + std::to_string(batch.items().size()) +
              " recordings planned\n";
    else if (batch.items().empty())
      text += "No recordings (*.tlq) were found.\n";
    writeText(stdout, text);
    return exit(failing > 0 ? exitFailed : exitOk);
  }

  std::vector<RecordingFailure> failures(batch.items().size());
  std::optional<ProgressDialog> dialog;
  if (desktop && !batch.items().empty()) dialog.emplace(check ? "tlqconverter: checking recordings"
                                                        : options.workbooks ? "tlqconverter: converting recordings to workbooks"
                                                                            : "tlqconverter: converting recordings to CSV");
  ProgressLine line;
  const bool showLine = !desktop && !options.quiet && isTerminal(stderr);

  auto finished = [&](size_t i) {
    if (batch.results()[i].state == BatchResult::State::failed)
      failures[i] = reportFailure(batch.items()[i].path, batch.results()[i].failure);
  };
  auto tick = [&] {
    size_t done = batch.itemsDone(), total = batch.items().size();
    if (showLine) line.show(progressLine(done, total, batch.bytesDone(), batch.bytesTotal(), elapsed()));
    if (dialog) {
      // The recording started last, by its number and its name: several are
      // under way at once, so the count of those done would lag the name.
      size_t shown = std::min(batch.lastStarted(), total - 1);
      dialog->update(batch.bytesDone(), batch.bytesTotal(),
                     (check ? "Checking " : "Converting ") + std::to_string(shown + 1) + " of " +
                         std::to_string(total) +
                         (check               ? " recordings"
                          : options.workbooks ? " recordings to workbooks"
                                              : " recordings to CSV"),
                     displayText(batch.items()[shown].path));
      if (dialog->cancelled()) cancel = true;
    }
  };
  if (!cancel) TLQ_AT(batch.run(cancel, finished, tick));
  const double seconds = elapsed();
  line.clear();
  dialog.reset();

  auto [totals, summary] = summarize(batch, failures, cutShort);
  totals.seconds = seconds;
  totals.cancelled = totals.cancelled || cancel;
  totals.window = options.window.active();
  summary += batch.items().empty() && !totals.cancelled ? "No recordings (*.tlq) were found.\n"
             : check                                     ? checkTotalsLine(totals) + "\n"
                                                         : totalsLine(totals) + "\n";
  int code = totals.cancelled ? exitCancelled : totals.failed > 0 ? exitFailed : exitOk;
  if (check && code == exitOk && totals.withFindings > 0) code = kExitFindings;
  // The log first: a reader of the summary that goes away (a pipe closed)
  // must not cost it.
  if (!options.logFile.empty()) {
    if (!writeLogOrTell(options.logFile, batchLogText(batch, failures, cutShort, settings.listSeparator,
                                                      settings.decimalSeparator, check, options.window.active())) &&
        code == exitOk)
      code = exitFailed;
  }
  writeText(stdout, summary);
  if (desktop)
    tellTheDesktop(totals, summary,
                   check ? checkSummaryMessage(totals, batch.items().size()) : summaryMessage(totals, batch.items().size()));
  return exit(code);
}

}  // namespace tlq
