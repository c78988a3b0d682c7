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

}  // namespace tlq
