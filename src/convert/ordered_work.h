// Work cut into numbered pieces, done on several threads, and its results
// taken strictly in order.
#pragma once

#include <cstddef>
#include <functional>
#include <string>

namespace tlq {

// Runs `work(i, out)` for every i from 0 to count - 1 on `threads` worker
// threads, and hands each piece's output to `take` on the calling thread in
// the order of i, while the workers go on. At most 2 × threads pieces are
// done or under way ahead of the one to be taken next, so memory is bounded
// by the workers, not by the count.
//
// When work(i) raises, the pieces before i are taken, then the output that
// piece i made before it failed, and then its error is raised here; pieces
// after i are abandoned. The first failure in the order of i wins, whichever
// worker met it first. A failure on a worker lists the caller's active
// operations before the worker's own, as if the work had run here.
// `Out` is std::string, LineBlock (convert/convert.h), RowBlock
// (table/rows.h) or TimeStampZones (table/date_time.h).
template <typename Out>
void runInOrder(size_t count, unsigned threads, const std::function<void(size_t, Out&)>& work,
                const std::function<void(Out&)>& take);

}  // namespace tlq
