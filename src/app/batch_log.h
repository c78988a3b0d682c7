// The log of a batch, a check or a merge (--log): a byte-order mark (a
// spreadsheet reads it as UTF-8 then), a header, then a line per recording,
// separated as the tables are and quoted as RFC 4180 has it, names exact
// but for bytes that are not UTF-8 (escaped, so that the log is UTF-8
// throughout).
#pragma once

#include <string>
#include <vector>

#include "app/batch_summary.h"

namespace tlq {

class Batch;
class Merge;

// The batch's log (or the check's, `checked`), its lines in path order, then
// a line per PATH whose search was cut short; with `window`, the lines the
// window left out.
std::string batchLogText(const Batch& batch, const std::vector<RecordingFailure>& failures,
                         const std::vector<std::string>& cutShort, char separator, char decimal, bool checked,
                         bool window);

// The merge's log: the batch's columns, a line per recording in merge
// order, with the lines left out as repeated (and by the window, when there
// is one).
std::string mergeLogText(const Merge& merge, const std::vector<RecordingFailure>& failures, bool window,
                         char separator, char decimal);

// Writes the log (writeLog); when it cannot, says so on standard error and
// returns false.
bool writeLogOrTell(const std::string& path, const std::string& text);

}  // namespace tlq
