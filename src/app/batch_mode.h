// "--batch": many recordings converted at once, with progress, a summary,
// and the user's interrupt.
#pragma once

#include <string>
#include <vector>

namespace tlq {

// Runs the batch that the arguments after "--batch" ask for and returns the
// exit code: 0 when every recording was converted, 2 when any failed (or the
// command line was wrong: a usage message on standard error, no report), 130
// when the user stopped it.
int runBatch(const std::vector<std::string>& args);

// "--check": the recordings found as --batch finds them, each read and
// measured, nothing written but the log. Exit code 0 when no recording has a
// finding, 1 when any has one, 2 when any could not be read or the command
// line was wrong, 130, 143, 129 on signals.
int runCheck(const std::vector<std::string>& args);
int runBatchOrCheck(const std::vector<std::string>& args, bool check);

// The exit code of a check with findings (as cmp and diff use it).
inline constexpr int kExitFindings = 1;

}  // namespace tlq
