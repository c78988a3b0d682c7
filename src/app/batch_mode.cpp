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

void print(std::FILE* stream, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stream);
  std::fflush(stream);
}

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
    print(stderr, line);
    shown_ = text;
  }
  void clear() {
    if (!shown_.empty()) print(stderr, "\r" + std::string(shown_.size(), ' ') + "\r");
    shown_.clear();
  }

 private:
  std::string shown_;
};

// The error a failed recording raised, its report written (not opened).
struct Failure {
  std::string kind, message, report, noReport;
};

Failure reportFailure(const BatchItem& item, const BatchResult& result) {
  Failure failure;
  try {
    std::rethrow_exception(result.failure);
  } catch (const Error& e) {
    failure.kind = e.kindName();
    failure.message = e.message();
    try {
      failure.report = dumpTrace(formatTrace(e), item.path, false);
    } catch (const std::exception& reportError) {  // on a worker: the batch goes on, and says so
      TraceFrame::forgetUnwound();
      failure.noReport = reportError.what();
    }
  }
  return failure;
}

// The totals of a batch that has run, and a line for each failure.
std::pair<BatchTotals, std::string> summarize(const Batch& batch, const std::vector<Failure>& failures) {
  BatchTotals totals;
  std::string lines;
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    switch (result.state) {
      case BatchResult::State::converted:
        ++totals.converted;
        totals.lines += result.lines;
        totals.dropped += result.dropped;
        totals.bytesRead += batch.items()[i].size;
        break;
      case BatchResult::State::failed: {
        ++totals.failed;
        totals.bytesRead += batch.items()[i].size;
        const Failure& f = failures[i];
        lines += failureLine(batch.items()[i].path, f.kind, f.message, f.report, f.noReport) + "\n";
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

// From the desktop: a message box with the totals and, when any recording
// failed, the summary in a file that the desktop opens like a report.
void tellTheDesktop(const BatchTotals& totals, const std::string& summary, size_t recordings) {
  std::string message = summaryMessage(totals, recordings);
  if (totals.failed > 0) {
    try {
      TempFile file = mkstemp("tlqconverter_summary_", ".txt", "");
      std::string text;
      for (char c : summary) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
      file.file->write(text);
      file.file->close();
      osOpenFile(file.path);
      message += "\n\nThe failures are listed in " + file.path + ".";
    } catch (const Error&) {
      TraceFrame::forgetUnwound();
      message += "\n\nSee the error reports in the temporary folder.";
    }
  }
  showMessage(kTitle, message, totals.failed > 0 || totals.cancelled);
}

}  // namespace

int runBatch(const std::vector<std::string>& args) {
  TLQ_OP("runBatch");
  BatchOptions options;
  try {
    options = parseBatchArguments(args);
  } catch (const UsageError& e) {
    attachParentConsole();
    print(stderr, "tlqconverter: " + e.message() + "\n" + usageHint());
    return exitFailed;
  }
  const bool desktop = startedFromDesktop();
  const auto start = std::chrono::steady_clock::now();
  auto elapsed = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(); };

  std::vector<BatchItem> items = TLQ_AT(findRecordings(options.paths, {options.outDir, kExpandWildcards}));
  BatchSettings settings;
  settings.splitRows = options.splitRows;
  settings.threads = batchThreads();
  if (!items.empty()) {
    // Read once for the whole batch.
    settings.listSeparator = TLQ_AT(getListSeparator());
    settings.decimalSeparator = TLQ_AT(getDecimalSeparator());
  }

  std::atomic<bool> cancel{false};
  InterruptGuard interrupts(cancel);
  Batch batch(std::move(items), settings);
  std::vector<Failure> failures(batch.items().size());
  std::optional<ProgressDialog> dialog;
  if (desktop) dialog.emplace("tlqconverter: converting recordings to CSV");
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
                     batch.items()[batch.lastStarted()].path);
      if (dialog->cancelled()) cancel = true;
    }
  };
  TLQ_AT(batch.run(cancel, finished, tick));
  const double seconds = elapsed();
  line.clear();
  dialog.reset();

  auto [totals, summary] = summarize(batch, failures);
  totals.seconds = seconds;
  summary += totalsLine(totals) + "\n";
  print(stdout, summary);
  if (desktop) tellTheDesktop(totals, summary, batch.items().size());
  InterruptGuard::done();
  if (totals.cancelled) return exitCancelled;
  return totals.failed > 0 ? exitFailed : exitOk;
}

}  // namespace tlq
