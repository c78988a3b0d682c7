// One recording converted as a verb, a double click or a command line asks:
// on a thread of its own, while this thread shows its progress once it has
// taken a second (the system's progress dialog from the desktop, a line on a
// terminal) and turns Cancel and Ctrl-C into a stop.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert/convert.h"

namespace tlq {

struct SingleRun {
  std::string table;        // the table written
  ConversionCounts counts;
  int stopped = 0;          // the exit code when the person stopped it (130, 143, 129), else 0
  bool window = false;      // a time window left lines out (counts.outside)
};

// Converts the recording at `path` into its CSV table or, with `workbook`,
// its workbook. Raises what the conversion raises, with the caller's active
// operations before the conversion's own. A stop leaves no CSV file and an
// older workbook as it was; one that comes while the library compresses the
// workbook (it cannot be interrupted) removes the workbook's temporary file
// and ends the program at once.
// With an active `window`, only its lines; gaps are measured against
// `interval` (nanoseconds) where given. With `salvage`, a recording whose
// text broke is converted up to its last complete entry (counts.salvaged).
SingleRun convertWithProgress(const std::string& path, bool workbook, const TimeWindow* window = nullptr,
                              std::optional<int64_t> interval = std::nullopt, bool salvage = false);

// The line a terminal gets after a conversion: "CSV written to: PATH (N
// lines)" or "Workbook written to: PATH (N rows)", with ", M entries dropped
// for a failed CRC" in the brackets when any were; the path shown as the
// batch shows names (displayText).
std::string writtenLine(const SingleRun& run, bool workbook);

}  // namespace tlq
