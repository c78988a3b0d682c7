// The summary of a batch or a merge: a line for each recording that failed
// or has something to tell, the files that stopped runs left and that were
// removed, the PATHs whose search was cut short; the batch's totals, and
// the text of the file the desktop opens with them.
#pragma once

#include <exception>
#include <string>
#include <utility>
#include <vector>

#include "app/batch_text.h"
#include "batch/table_plan.h"

namespace tlq {

class Batch;

// The error a failed recording (or table) raised, its report written (not
// opened): `noReport` says why, when it could not be.
struct RecordingFailure {
  std::string kind, message, reason, report, noReport;
};
RecordingFailure reportFailure(const std::string& path, std::exception_ptr raised);

// "failed: PATH: KIND: MESSAGE ..." (failureLine), escaped, with its line end.
std::string failedLine(const std::string& path, const RecordingFailure& failure);

// A file named as a part beyond a table's last one, listed: kept (and why,
// when it was to be removed), removed, or in a plan to be removed.
std::string staleLine(const StalePart& part, bool planned);

// A file of ours that a run stopped before it could remove it had left.
std::string sweptLine(const std::string& path);

// A PATH whose search the cancel cut short.
std::string cutShortLine(const std::string& path);

// The totals of a batch that has run, and its lines for the person: each
// failure, each recording with entries dropped for a failed CRC or another
// finding, each file named as a part beyond a table's last one, each PATH
// whose search was cut short. Names are shown escaped.
std::pair<BatchTotals, std::string> summarize(const Batch& batch, const std::vector<RecordingFailure>& failures,
                                              const std::vector<std::string>& cutShort);

// The summary as the file the desktop opens: a byte-order mark (editors that
// do not guess read UTF-8 too), lines ended by CR LF.
std::string summaryFileText(const std::string& summary);

// The message box's sentence after the totals that names where the
// failures or findings are listed: `listed`, or "" when that file could not
// be written.
std::string listedNote(const BatchTotals& totals, const std::string& listed);

}  // namespace tlq
