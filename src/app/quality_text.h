// The texts that tell a recording's quality: the summary's finding lines,
// the log's quality columns, the totals' count of recordings with findings.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "reader/recording.h"
#include "table/quality.h"

namespace tlq {

// A line each, for the findings the figures have, the path as given (shown
// escaped by the caller):
//   "gaps: PATH: 3 gaps, 41 samples missing, the longest 130 s from 2026-11-17T09:14:00"
//   "order: PATH: 2 time stamps not after the one before (first at line 1234)"
//   "unreadable: PATH: inclino2 17 lines, force 3 lines"
// Entries dropped for a failed CRC have their line of their own.
std::vector<std::string> findingLines(const std::string& path, const QualityFigures& figures);

// The line of a recording whose text broke and was salvaged, as a summary
// shows it (escaped as displayText escapes): "salvaged: PATH: 12 entries
// before the fault (MESSAGE); the rest is lost".
std::string salvagedLine(const std::string& path, const Salvage& salvage);

// The log's quality columns, in their order.
const std::vector<const char*>& qualityLogColumns();

// The fields of those columns, each after `separator`; every one empty
// without figures (a recording not read), and each empty where its figure
// does not apply (no interval, no gap, no stamp out of order, a sensor the
// recording lacks). Seconds with three decimals and `decimal`, as the log's
// "seconds"; the stamp a gap starts at as written, through `field`.
std::string qualityLogFields(const std::optional<QualityFigures>& figures, char separator, char decimal,
                             std::string (*field)(const std::string& text, char separator));

// Seconds as a person reads them: "130", "0.5", "1.25" (to the millisecond).
std::string secondsFigure(double seconds);

struct BatchTotals;

// The last line of --check: "3 recordings checked, 1 with findings, 0
// failed, 120 lines read, 2 entries dropped for a failed CRC, 0.4 MB read
// in 0.05 s"; "cancelled: " first when it was stopped.
std::string checkTotalsLine(const BatchTotals& totals);
// The same for a message box, in sentences.
std::string checkSummaryMessage(const BatchTotals& totals, size_t recordings);

// "1 recording with findings", "3 recordings with findings".
std::string findingsCount(size_t recordings);

}  // namespace tlq
