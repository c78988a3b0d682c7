#include "app/batch_summary.h"

#include "app/quality_text.h"
#include "app/report.h"
#include "batch/batch.h"
#include "error.h"

namespace tlq {

namespace {

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

}  // namespace

RecordingFailure reportFailure(const std::string& path, std::exception_ptr raised) {
  RecordingFailure failure;
  try {
    std::rethrow_exception(raised);
  } catch (const Error& e) {
    failure.kind = e.kindName();
    failure.message = e.message();
    failure.reason = e.reason();
    try {
      failure.report = dumpTrace(formatTrace(e), path, false);
    } catch (const std::exception& reportError) {  // on a worker: the batch goes on, and says so
      TraceFrame::forgetUnwound();
      failure.noReport = reportError.what();
    }
  }
  return failure;
}

std::string failedLine(const std::string& path, const RecordingFailure& f) {
  return displayText(failureLine(path, f.kind, f.message, f.reason, f.report, f.noReport)) + "\n";
}

std::string staleLine(const StalePart& part, bool planned) {
  const std::string what = " (a part of an earlier split into more parts";
  if (part.removed && planned)
    return "would remove: " + displayText(part.path) + what + ", if its first line is the table's header)\n";
  if (part.removed) return "removed: " + displayText(part.path) + what + ")\n";
  return "stale: " + displayText(part.path) + what + "; not removed" + (part.kept.empty() ? "" : ": " + part.kept) +
         ")\n";
}

std::string sweptLine(const std::string& path) {
  return "removed: " + displayText(path) + " (left by a run that was stopped)\n";
}

std::string cutShortLine(const std::string& path) {
  return "search cut short: " + displayText(path) + " (recordings not found yet are not counted)\n";
}

std::pair<BatchTotals, std::string> summarize(const Batch& batch, const std::vector<RecordingFailure>& failures,
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
      case BatchResult::State::failed:
        ++totals.failed;
        totals.bytesRead += item.size;
        lines += failedLine(item.path, failures[i]);
        break;
      case BatchResult::State::waiting:
      case BatchResult::State::cancelled:
        ++totals.notConverted;
        totals.cancelled = true;
        break;
    }
  }
  return {totals, lines};
}

std::string summaryFileText(const std::string& summary) {
  std::string text = "\xEF\xBB\xBF";
  for (char c : summary) text += c == '\n' ? std::string("\r\n") : std::string(1, c);
  return text;
}

std::string listedNote(const BatchTotals& totals, const std::string& listed) {
  if (listed.empty()) return "\n\nSee the error reports in the temporary folder.";
  const char* what = totals.withFindings == 0 ? "failures"
                     : totals.failed == 0     ? "findings"
                                              : "failures and findings";
  return std::string("\n\nThe ") + what + " are listed in " + listed + ".";
}

}  // namespace tlq
