// Long work on a thread of its own while the calling thread shows how far
// it is: the single conversion's and the merge's progress.
#pragma once

#include <functional>

namespace tlq {

// Runs `work` on a thread of its own and `tick` on this one about ten times
// a second until it ends (also once at its start and once at its end, with
// `atEnds`); what `work` raises is raised here, the trace of the active
// operations as it stood on that thread.
void runWithTicks(const std::function<void()>& work, const std::function<void()>& tick, bool atEnds = true);

}  // namespace tlq
