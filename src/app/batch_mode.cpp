#include "app/batch_mode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

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


// The error a failed recording raised, its report written (not opened).
struct Failure {
  std::string kind, message, reason, report, noReport;
};

Failure reportFailure(const BatchItem& item, const BatchResult& result) {
  Failure failure;
  try {
    std::rethrow_exception(result.failure);
  } catch (const Error& e) {
    failure.kind = e.kindName();
    failure.message = e.message();
    failure.reason = e.reason();
    try {
      failure.report = dumpTrace(formatTrace(e), item.path, false);
    } catch (const std::exception& reportError) {  // on a worker: the batch goes on, and says so
      TraceFrame::forgetUnwound();
      failure.noReport = reportError.what();
    }
  }
  return failure;
}

const char* outcomeOf(BatchResult::State state);

// The log's outcome: that of the state, "checked" for a recording --check
// read, "salvaged" for one whose text broke, converted up to the fault.
const char* outcome(const BatchResult& result, bool checked) {
  if (result.state != BatchResult::State::converted) return outcomeOf(result.state);
  return result.salvaged ? "salvaged" : checked ? "checked" : "converted";
}

const char* outcomeOf(BatchResult::State state) {
  switch (state) {
    case BatchResult::State::converted: return "converted";
    case BatchResult::State::failed: return "failed";
    case BatchResult::State::upToDate: return "up to date";
    case BatchResult::State::waiting:
    case BatchResult::State::cancelled: break;
  }
  return "cancelled";
}

// A file named as a part beyond a table's last one, listed: kept (and why,
// when it was to be removed), removed, or in a plan to be removed.
std::string staleLine(const StalePart& part, bool planned) {
  const std::string what = " (a part of an earlier split into more parts";
  if (part.removed && planned)
    return "would remove: " + displayText(part.path) + what + ", if its first line is the table's header)\n";
  if (part.removed) return "removed: " + displayText(part.path) + what + ")\n";
  return "stale: " + displayText(part.path) + what + "; not removed" + (part.kept.empty() ? "" : ": " + part.kept) +
         ")\n";
}

// A file of ours that a run stopped before it could remove it had left.
std::string sweptLine(const std::string& path) {
  return "removed: " + displayText(path) + " (left by a run that was stopped)\n";
}

// A PATH whose search the cancel cut short.
std::string cutShortLine(const std::string& path) {
  return "search cut short: " + displayText(path) + " (recordings not found yet are not counted)\n";
}

// A field of the log's quality columns.
std::string qualityLogField(const std::string& text, char separator) { return logField(utf8Text(text), separator); }

// The finding lines of a recording read, counted in the totals when it has
// any finding (entries dropped for a failed CRC among them, and a text that
// broke and was salvaged).
std::string qualitySummary(const std::string& path, const BatchResult& result, BatchTotals& totals) {
  std::string text;
  if (result.salvaged) text += salvagedLine(path, *result.salvaged) + "\n";
  if (result.quality)
    for (const std::string& line : findingLines(displayText(path), *result.quality)) text += line + "\n";
  if (result.salvaged || (result.quality && result.quality->findings())) ++totals.withFindings;
  return text;
}

// The totals of a batch that has run, and its lines for the person: each
// failure, each recording with entries dropped for a failed CRC, each file
// named as a part beyond a table's last one, each PATH whose search was cut
// short. Names are shown escaped.
std::pair<BatchTotals, std::string> summarize(const Batch& batch, const std::vector<Failure>& failures,
                                              const std::vector<std::string>& cutShort) {
  BatchTotals totals;
  totals.searchCut = !cutShort.empty();
  totals.cancelled = totals.searchCut;
  std::string lines;
  for (const std::string& path : cutShort) lines += cutShortLine(path);
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    const BatchItem& item = batch.items()[i];
    for (const std::string& path : result.swept) lines += sweptLine(path);
    switch (result.state) {
      case BatchResult::State::converted:
        ++totals.converted;
        totals.lines += result.lines;
        totals.dropped += result.dropped;
        totals.outside += result.outside;
        totals.bytesRead += item.size;
        if (result.dropped > 0)
          lines += "dropped: " + displayText(item.path) + ": " + std::to_string(result.dropped) +
                   (result.dropped == 1 ? " entry" : " entries") + " for a failed CRC\n";
        lines += qualitySummary(item.path, result, totals);
        for (const StalePart& part : result.stale) {
          lines += staleLine(part, false);
          ++(part.removed ? totals.staleRemoved : totals.staleKept);
        }
        break;
      case BatchResult::State::upToDate:
        ++totals.upToDate;
        break;
      case BatchResult::State::failed: {
        ++totals.failed;
        totals.bytesRead += item.size;
        const Failure& f = failures[i];
        lines += displayText(failureLine(item.path, f.kind, f.message, f.reason, f.report, f.noReport)) + "\n";
        break;
      }
      case BatchResult::State::waiting:
      case BatchResult::State::cancelled:
        ++totals.notConverted;
        totals.cancelled = true;
        break;
    }
  }
  return {totals, lines};
}

// The log: a byte-order mark (a spreadsheet reads it as UTF-8 then), then a
// line per recording, separated as the tables are and quoted as RFC 4180 has
// it, names exact but for bytes that are not UTF-8 (escaped, so that the
// log is UTF-8 throughout); then a line per PATH whose search was cut short.
std::string logText(const Batch& batch, const std::vector<Failure>& failures, const std::vector<std::string>& cutShort,
                    char separator, char decimal, bool checked, bool window) {
  const std::string sep(1, separator);
  auto field = [&](std::string_view text) { return logField(utf8Text(text), separator); };
  auto list = [](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : "\n") + name;
    return text;
  };
  std::string text = "\xEF\xBB\xBF";
  for (const char* column : {"recording", "tables", "outcome", "data lines", "entries dropped for a failed CRC",
                             "bytes read", "seconds", "error kind", "error message", "report", "stale parts",
                             "stale parts removed"})
    text += (text.size() == 3 ? "" : sep) + column;
  for (const char* column : qualityLogColumns()) text += sep + column;
  if (window) text += sep + "lines outside the window";
  text += "\r\n";
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    const BatchItem& item = batch.items()[i];
    const bool read = result.state == BatchResult::State::converted || result.state == BatchResult::State::failed;
    const Failure& f = failures[i];
    std::vector<std::string> kept, removed;
    for (const StalePart& part : result.stale) (part.removed ? removed : kept).push_back(part.path);
    std::string seconds = fixedText(result.seconds, 3);
    std::replace(seconds.begin(), seconds.end(), '.', decimal);
    text += field(item.path) + sep + field(list(result.tables)) + sep +
            outcome(result, checked) + sep +
            std::to_string(result.lines) + sep + std::to_string(result.dropped) + sep +
            std::to_string(read ? item.size : 0) + sep + field(seconds) + sep + field(f.kind) + sep +
            field(f.kind.empty() ? "" : withReason(f.message, f.reason)) + sep +
            field(f.report.empty() ? f.noReport : f.report) + sep + field(list(kept)) + sep + field(list(removed)) +
            qualityLogFields(result.quality, separator, decimal, qualityLogField) +
            (window ? sep + std::to_string(result.outside) : "") + "\r\n";
  }
  for (const std::string& path : cutShort)
    text += field(path) + sep + sep + "search cut short" + sep + "0" + sep + "0" + sep + "0" + sep + sep + sep + sep +
            sep + sep + qualityLogFields(std::nullopt, separator, decimal, qualityLogField) + (window ? sep + "0" : "") +
            "\r\n";
  return text;
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
      std::string text = "\xEF\xBB\xBF";  // a byte-order mark: editors that do not guess read UTF-8 too
      for (char c : summary) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
      file.file->write(text);
      file.file->close();
      listed = file.path;
      const char* what = totals.withFindings == 0 ? "failures"
                         : totals.failed == 0     ? "findings"
                                                  : "failures and findings";
      message += std::string("\n\nThe ") + what + " are listed in " + file.path + ".";
    } catch (const Error&) {
      TraceFrame::forgetUnwound();
      message += "\n\nSee the error reports in the temporary folder.";
    }
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

  std::vector<Failure> failures(batch.items().size());
  std::optional<ProgressDialog> dialog;
  if (desktop && !batch.items().empty()) dialog.emplace(check ? "tlqconverter: checking recordings"
                                                        : options.workbooks ? "tlqconverter: converting recordings to workbooks"
                                                                            : "tlqconverter: converting recordings to CSV");
  ProgressLine line;
  const bool showLine = !desktop && !options.quiet && isTerminal(stderr);

  auto finished = [&](size_t i) {
    if (batch.results()[i].state == BatchResult::State::failed)
      failures[i] = reportFailure(batch.items()[i], batch.results()[i]);
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
    try {
      writeLog(options.logFile, logText(batch, failures, cutShort, settings.listSeparator, settings.decimalSeparator,
                                        check, options.window.active()));
    } catch (const Error& e) {
      TraceFrame::forgetUnwound();
      writeText(stderr, "tlqconverter: cannot write the log: " + displayText(options.logFile) + " (" +
                            displayText(withReason(e.message(), e.reason())) + ")\n");
      if (code == exitOk) code = exitFailed;
    }
  }
  writeText(stdout, summary);
  if (desktop)
    tellTheDesktop(totals, summary,
                   check ? checkSummaryMessage(totals, batch.items().size()) : summaryMessage(totals, batch.items().size()));
  return exit(code);
}

}  // namespace tlq
