// The command line beyond one recording's path: the batch's arguments, and
// the texts of --help and --version.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "table/window.h"

namespace tlq {

struct BatchOptions {
  std::string outDir;      // --out DIR: the tables go below it
  uint64_t splitRows = 0;  // --split-rows N: data lines per part; 0: not split
  bool update = false;     // --update: tables not older than their recordings are kept
  bool dryRun = false;     // --dry-run: says what would be written, writes nothing
  bool workbooks = false;  // --xlsx: workbooks in place of CSV tables
  bool deleteStaleParts = false;  // --delete-stale-parts: stale parts removed where safe, not only listed
  bool quiet = false;      // --quiet: no window, no message box, no file opened, no progress line
  bool salvage = false;    // --salvage: a recording whose text broke is converted up to the fault
  std::string logFile;     // --log FILE: a line per recording
  std::optional<char> listSeparator, decimalSeparator;  // --list-separator C, --decimal-separator C
  std::optional<int64_t> intervalNanoseconds;  // --interval SECONDS: the interval gaps are measured against
  TimeWindow window;       // --from T, --to T: only the lines in it
  std::vector<std::string> paths;
};

// Reads the arguments after "--batch" (what they hold is shown in its
// messages as displayText shows it): options first or among the paths,
// "--" before paths that begin with "-". Raises UsageError for no path, an
// option it does not know, one given twice, without its value or with one
// it does not take, an N that is not a whole number from 1 on, a separator
// that a table could not be read back with (separatorProblem), the same
// separator for both, and --split-rows or --delete-stale-parts with --xlsx.
// `mode` names the switch in the message for no path.
BatchOptions parseBatchArguments(const std::vector<std::string>& args, const char* mode = "--batch");

// Raises UsageError for an option --check does not take: --out, --xlsx,
// --split-rows, --update, --dry-run, --delete-stale-parts (it writes no
// table).
void refuseForCheck(const BatchOptions& options);

// The window of "--from T" and "--to T" (either may be missing). Raises
// UsageError for a T that reads as no date-time (parseWindowBound).
TimeWindow windowOf(const std::optional<std::string>& from, const std::optional<std::string>& to);

// Why `value` cannot be the option's separator (`decimal`: the decimal
// one), as a usage message; "" when it can. A table stays readable with a
// space, a tab or a punctuation mark of ASCII other than the double quote
// and "_" (which column names hold) between its fields, and with such a
// mark but "+" and "-" (the signs) as the decimal separator.
std::string separatorProblem(const std::string& option, const std::string& value, bool decimal);

// The interval of --interval SECONDS, in nanoseconds: a positive decimal
// with '.' (parseIntervalNanoseconds). Raises UsageError for anything else.
int64_t intervalOption(const std::string& value);

// The usage message for one character given as both separators.
std::string sameSeparators(char c);

// What --help shows: every way to start the program.
std::string helpText();

// What --version shows: "tlqconverter " and the version, and a line feed.
std::string versionText();

// The lines after a usage error: the batch's synopsis and where to learn more.
std::string usageHint();

}  // namespace tlq
