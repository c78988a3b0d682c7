#include "app/batch_mode.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>

#include "app/batch_text.h"
#include "app/dispatch.h"
#include "app/options.h"
#include "app/report.h"
#include "convert/batch.h"
#include "convert/convert.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/console.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/progress_dialog.h"
#include "platform/shell.h"
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

// One line on standard error, rewritten in place.
class ProgressLine {
 public:
  void show(const std::string& text) {
    if (text == shown_) return;
    std::string line = "\r" + text;
    if (text.size() < shown_.size()) line.append(shown_.size() - text.size(), ' ');
    writeText(stderr, line);
    shown_ = text;
  }
  void clear() {
    if (!shown_.empty()) writeText(stderr, "\r" + std::string(shown_.size(), ' ') + "\r");
    shown_.clear();
  }

 private:
  std::string shown_;
};

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

// The totals of a batch that has run, and its lines for the person: each
// failure, each recording with entries dropped for a failed CRC, each part
// an earlier run left that was removed. Names are shown escaped.
std::pair<BatchTotals, std::string> summarize(const Batch& batch, const std::vector<Failure>& failures) {
  BatchTotals totals;
  std::string lines;
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    const BatchItem& item = batch.items()[i];
    switch (result.state) {
      case BatchResult::State::converted:
        ++totals.converted;
        totals.lines += result.lines;
        totals.dropped += result.dropped;
        totals.bytesRead += item.size;
        if (result.dropped > 0)
          lines += "dropped: " + displayText(item.path) + ": " + std::to_string(result.dropped) +
                   (result.dropped == 1 ? " entry" : " entries") + " for a failed CRC\n";
        for (const std::string& part : result.removed)
          lines += "removed: " + displayText(part) + " (a part left by an earlier run)\n";
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

// The log: a line per recording, comma-separated and quoted as RFC 4180
// has it, names exact.
std::string logText(const Batch& batch, const std::vector<Failure>& failures) {
  std::string text =
      "recording,tables,outcome,data lines,entries dropped for a failed CRC,bytes read,seconds,error kind,"
      "error message,report\r\n";
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    const BatchItem& item = batch.items()[i];
    std::string tables;
    for (const std::string& table : result.tables) tables += (tables.empty() ? "" : "\n") + table;
    const bool read = result.state == BatchResult::State::converted || result.state == BatchResult::State::failed;
    const Failure& f = failures[i];
    text += logField(item.path) + "," + logField(tables) + "," + outcomeOf(result.state) + "," +
            std::to_string(result.lines) + "," + std::to_string(result.dropped) + "," +
            std::to_string(read ? item.size : 0) + "," + fixedText(result.seconds, 3) + "," + logField(f.kind) + "," +
            logField(f.kind.empty() ? "" : withReason(f.message, f.reason)) + "," +
            logField(f.report.empty() ? f.noReport : f.report) + "\r\n";
  }
  return text;
}

// --dry-run: what a run would write, and what it would refuse.
std::string dryRunText(const Batch& batch, uint64_t splitRows, size_t& failing) {
  std::string text;
  std::vector<std::string> kept;
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchItem& item = batch.items()[i];
    if (!item.problem.empty()) {
      ++failing;
      text += "would fail: " + displayText(item.path + ": " + withReason(item.problem, item.reason)) + "\n";
    } else if (batch.upToDate(i, kept)) {
      text += "up to date: " + displayText(item.path) + "\n";
    } else {
      text += "would write: " + displayText(item.table) +
              (splitRows > 0 ? " (and _part2, _part3, ... beyond " + std::to_string(splitRows) + " lines)" : "") +
              " from " + displayText(item.path) + "\n";
    }
  }
  return text;
}

// From the desktop: a message box with the totals and, when any recording
// failed, the summary in a file that the desktop opens like a report once
// the box is dismissed.
void tellTheDesktop(const BatchTotals& totals, const std::string& summary, size_t recordings) {
  std::string message = summaryMessage(totals, recordings);
  std::string listed;
  if (totals.failed > 0) {
    try {
      TempFile file = mkstemp("tlqconverter_summary_", ".txt", "");
      std::string text = "\xEF\xBB\xBF";  // a byte-order mark: editors that do not guess read UTF-8 too
      for (char c : summary) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
      file.file->write(text);
      file.file->close();
      listed = file.path;
      message += "\n\nThe failures are listed in " + file.path + ".";
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

int usageFailure(const std::string& message) {
  attachParentConsole();
  writeText(stderr, "tlqconverter: " + message + "\n" + usageHint());
  return exitFailed;
}

}  // namespace

int runBatch(const std::vector<std::string>& args) {
  TLQ_OP("runBatch");
  BatchOptions options;
  try {
    options = parseBatchArguments(args);
  } catch (const UsageError& e) {
    return usageFailure(e.message());
  }
  if (!options.outDir.empty()) {
    PathKind out = pathInfo(options.outDir).kind;
    if (out != PathKind::missing && out != PathKind::folder)
      return usageFailure("--out is not a folder: " + displayText(options.outDir));
  }
  // From the start: an interrupt during the search ends it as well.
  std::atomic<bool> cancel{false};
  InterruptGuard interrupts(cancel);
  const bool desktop = startedFromDesktop() && !options.dryRun;
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

  std::vector<BatchItem> items = TLQ_AT(findRecordings(options.paths, {options.outDir, options.workbooks ? "xlsx" : "csv", kExpandWildcards, &cancel}));
  if (!options.logFile.empty()) {
    std::string log = placeKey(linkTarget(options.logFile));
    for (const BatchItem& item : items)
      if (item.tablePlace == log || item.recordingPlace == log)
        return usageFailure("--log would overwrite " + displayText(item.tablePlace == log ? item.table : item.path));
  }
  BatchSettings settings;
  settings.splitRows = options.splitRows;
  settings.threads = batchThreads();
  settings.update = options.update;
  settings.workbooks = options.workbooks;
  if (options.dryRun) {
    size_t failing = 0;
    Batch plan(std::move(items), settings);
    writeText(stdout, dryRunText(plan, options.splitRows, failing));
    return failing > 0 ? exitFailed : exitOk;
  }
  if (!items.empty() && !cancel && !options.workbooks) {
    // Read once for the whole batch.
    settings.listSeparator = options.listSeparator ? *options.listSeparator : TLQ_AT(getListSeparator());
    settings.decimalSeparator = options.decimalSeparator ? *options.decimalSeparator : TLQ_AT(getDecimalSeparator());
  }

  Batch batch(std::move(items), settings);
  std::vector<Failure> failures(batch.items().size());
  std::optional<ProgressDialog> dialog;
  if (desktop && !batch.items().empty()) dialog.emplace(options.workbooks ? "tlqconverter: converting recordings to workbooks"
                                                                      : "tlqconverter: converting recordings to CSV");
  ProgressLine line;
  const bool showLine = !desktop && isTerminal(stderr);

  auto finished = [&](size_t i) {
    if (batch.results()[i].state == BatchResult::State::failed)
      failures[i] = reportFailure(batch.items()[i], batch.results()[i]);
  };
  auto tick = [&] {
    size_t done = batch.itemsDone(), total = batch.items().size();
    if (showLine) line.show(progressLine(done, total, batch.bytesDone(), batch.bytesTotal(), elapsed()));
    if (dialog) {
      dialog->update(batch.bytesDone(), batch.bytesTotal(),
                     "Converting " + std::to_string(std::min(done + 1, total)) + " of " + std::to_string(total) +
                         " recordings to CSV",
                     displayText(batch.items()[batch.lastStarted()].path));
      if (dialog->cancelled()) cancel = true;
    }
  };
  if (!cancel) TLQ_AT(batch.run(cancel, finished, tick));
  const double seconds = elapsed();
  line.clear();
  dialog.reset();

  auto [totals, summary] = summarize(batch, failures);
  totals.seconds = seconds;
  totals.cancelled = totals.cancelled || cancel;
  summary += totalsLine(totals) + "\n";
  int code = totals.cancelled ? (interrupts.exitCode() ? interrupts.exitCode() : exitCancelled)
             : totals.failed > 0 ? exitFailed
                                 : exitOk;
  // The log first: a reader of the summary that goes away (a pipe closed)
  // must not cost it.
  if (!options.logFile.empty()) {
    try {
      replaceFile(options.logFile, logText(batch, failures));
    } catch (const Error& e) {
      TraceFrame::forgetUnwound();
      writeText(stderr,
                "tlqconverter: cannot write the log: " + displayText(options.logFile) + " (" + e.message() + ")\n");
      if (code == exitOk) code = exitFailed;
    }
  }
  writeText(stdout, summary);
  if (desktop) tellTheDesktop(totals, summary, batch.items().size());
  InterruptGuard::done();
  return code;
}

}  // namespace tlq
