// The texts a batch shows: its progress line and its summary.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text.h"  // displayText

namespace tlq {

// "12/1000 recordings, 34.5/150.0 MB, 95.2 MB/s, 0:01 left": the rate and
// the time left once a quarter of a second has passed and some bytes are done.
std::string progressLine(size_t done, size_t total, uint64_t bytesDone, uint64_t bytesTotal, double seconds);

// The progress line of one recording's conversion, a phase at a time:
// "run 7.tlq: converting, 12.3/48.0 MB, 0:02 left", "run 7.tlq: compressing
// the workbook, 4.1/12.0 MB, 0:20 left"; no time before it is known.
std::string phaseLine(const std::string& name, const std::string& phase, uint64_t done, uint64_t total,
                      std::optional<double> secondsLeft);

// A merge's progress line while it plans or merges: "planning: 3/10
// recordings, 1.2/5.0 MB, 4.1 MB/s, 0:07 left", "merging: ...": the rate that
// of the pass, the time left that of the whole merge, once known.
std::string mergeProgressLine(const std::string& pass, size_t done, size_t total, uint64_t bytesDone,
                              uint64_t bytesTotal, double passSeconds, std::optional<double> secondsLeft);

// "0:07", "12:34", "1:02:03", a time rounded up to the second.
std::string clockText(double seconds);

struct BatchTotals {
  size_t converted = 0, failed = 0, notConverted = 0, upToDate = 0;
  uint64_t lines = 0, dropped = 0, bytesRead = 0;
  double seconds = 0;
  bool cancelled = false;
  size_t staleKept = 0, staleRemoved = 0;  // files named as parts beyond a table's last one
  bool searchCut = false;                  // the search for recordings was cut short
  size_t withFindings = 0;                 // recordings read with a finding of their quality
  bool window = false;                     // --from or --to: the lines it left out are told
  uint64_t outside = 0;
};

// The summary's last line: "cancelled: " first when the batch was stopped.
std::string totalsLine(const BatchTotals& totals);

// The summary for a message box: what happened, then the totals, in
// sentences.
std::string summaryMessage(const BatchTotals& totals, size_t recordings);

// One failed recording: "failed: PATH: KIND: MESSAGE (REASON) (report:
// REPORT)", or "(no report: WHY)" when the report could not be written; the
// reason where the system gave one.
std::string failureLine(const std::string& path, const std::string& kind, const std::string& message,
                        const std::string& reason, const std::string& report, const std::string& noReport);

// A message with the system's reason after it in parentheses, when there
// is one.
std::string withReason(const std::string& message, const std::string& reason);

// Text as a terminal or a one-line list may show it: control characters
// and bytes that are not UTF-8 escaped ("\n", "\t", "\r", "\x1b"), and, where
// a backslash is no path separator, a backslash doubled ("\\"), so that no
// name reads as another; the rest as it is.
std::string displayText(std::string_view text);

// One field of a log line as RFC 4180 has it, with `separator` between the
// fields: in double quotes, inner quotes doubled, when it holds the
// separator, a double quote, CR or LF.
std::string logField(std::string_view text, char separator = ',');

// Bytes as megabytes with one decimal, seconds with two: the same digits on
// every system.
std::string megabytes(uint64_t bytes);
std::string fixedText(double value, int decimals);
std::string secondsText(double seconds);

}  // namespace tlq
