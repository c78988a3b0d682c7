// A batch that only checks: each recording read, converted into rows and
// measured, and nothing written.
#include <chrono>

#include "batch/batch.h"
#include "convert/convert.h"
#include "error.h"

namespace tlq {

BatchResult Batch::check(size_t i, unsigned threads, const std::atomic<bool>& cancel, std::atomic<uint64_t>& progress) {
  const BatchItem& item = plan_.items()[i];
  const auto start = std::chrono::steady_clock::now();
  BatchResult result;
  try {
    TLQ_OP("checkRecording");
    // A clash of table names is no fault where no table is written; a
    // recording that cannot be found or listed is.
    if (!item.problem.empty() && !item.problem.starts_with("cannot open: " + item.table + " ("))
      throw IoError(item.problem).withReason(item.reason);
    ConversionControl control{threads, &cancel, &progress, true};
    control.intervalNanoseconds = settings_.intervalNanoseconds;
    control.window = settings_.window;
    control.salvage = settings_.salvage;
    RecordingTable table = TLQ_AT(RecordingTable(item.path, control));
    result.salvaged = table.recording().salvaged();
    TLQ_AT(table.measureRows(control, [&](RowBlock& rows) {
      result.lines += rows.rows();
      result.dropped += rows.dropped;
      result.outside += rows.outside;
    }));
    TLQ_AT(table.recording().requireUnreplaced());
    result.quality = table.quality().figures(control.intervalNanoseconds);
    result.state = BatchResult::State::converted;
  } catch (const ConversionCancelled&) {
    result = BatchResult();
    result.state = BatchResult::State::cancelled;
  } catch (...) {
    result.state = BatchResult::State::failed;
    result.failure = handledFailure();
  }
  TraceFrame::forgetUnwound();
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace tlq
