// "--merge OUT PATH...": many recordings as one table in time order, with
// its summary and log.
#pragma once

#include <string>
#include <vector>

namespace tlq {

// Runs the merge that the arguments after "--merge" ask for and returns
// the exit code: 0 when every recording was merged and OUT written, 2 when
// one failed (no OUT then) or the command line was wrong, 130 when the user
// stopped it.
int runMerge(const std::vector<std::string>& args);

}  // namespace tlq
