#include "convert/ordered_work.h"

#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>
#include <vector>

#include "convert/convert.h"
#include "convert/worker_crew.h"
#include "error.h"

namespace tlq {

template <typename Out>
void runInOrder(size_t count, unsigned threads, const std::function<void(size_t, Out&)>& work,
                const std::function<void(Out&)>& take) {
  struct Piece {
    Out out;
    std::exception_ptr error;
    bool done = false;
  };
  std::vector<Piece> pieces(count);
  // A thread is woken only when what it waits for has come (each wake-up
  // costs a trip through the system, and under wine one through its server):
  // the taker when the piece it waits for is done, a worker when room ahead
  // of the taker opens or the work stops.
  std::mutex mutex;
  std::condition_variable pieceDone, roomAhead;
  size_t next = 0;   // the next piece a worker takes up
  size_t taken = 0;  // pieces handed to `take`
  bool takerWaits = false;
  unsigned workersWaiting = 0;
  bool stop = false;
  const size_t ahead = 2 * static_cast<size_t>(threads);
  const TraceFrame* caller = TraceFrame::top();
  // Outputs already taken, emptied, for later pieces: their memory is
  // reused instead of returned to the system and faulted in again.
  std::vector<Out> spare;

  auto worker = [&] {
    TraceFrame::Continuation trace(caller);
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(mutex);
        auto mayGoOn = [&] { return stop || next == count || next < taken + ahead; };
        if (!mayGoOn()) {
          ++workersWaiting;
          roomAhead.wait(lock, mayGoOn);
          --workersWaiting;
        }
        if (stop || next == count) return;
        i = next++;
        if (!spare.empty()) {
          std::swap(pieces[i].out, spare.back());
          spare.pop_back();
        }
      }
      Piece& piece = pieces[i];
      try {
        work(i, piece.out);
      } catch (const Error&) {
        piece.error = std::current_exception();
      } catch (const std::exception& e) {  // here, on the thread where its closed frames were noted
        piece.error = std::make_exception_ptr(libraryFailure(e));
      } catch (...) {
        piece.error = std::current_exception();
      }
      bool wake;
      {
        std::lock_guard lock(mutex);
        piece.done = true;
        stop = stop || piece.error;  // pieces before this one are all under way
        wake = takerWaits && i == taken;
      }
      if (wake) pieceDone.notify_one();
      if (piece.error) roomAhead.notify_all();  // the others stop
    }
  };

  WorkerCrew crew(threads, worker, mutex, roomAhead, stop);

  for (size_t i = 0; i < count; ++i) {
    Piece& piece = pieces[i];
    {
      std::unique_lock lock(mutex);
      takerWaits = true;
      pieceDone.wait(lock, [&] { return piece.done; });
      takerWaits = false;
    }
    take(piece.out);
    if (piece.error) std::rethrow_exception(piece.error);
    piece.out.clear();
    bool wake;
    {
      std::lock_guard lock(mutex);
      taken = i + 1;
      spare.push_back(std::move(piece.out));
      wake = workersWaiting > 0;
    }
    if (wake) roomAhead.notify_one();  // one more piece may be under way
  }
}

template void runInOrder<std::string>(size_t, unsigned, const std::function<void(size_t, std::string&)>&,
                                      const std::function<void(std::string&)>&);
template void runInOrder<LineBlock>(size_t, unsigned, const std::function<void(size_t, LineBlock&)>&,
                                    const std::function<void(LineBlock&)>&);
template void runInOrder<RowBlock>(size_t, unsigned, const std::function<void(size_t, RowBlock&)>&,
                                   const std::function<void(RowBlock&)>&);
template void runInOrder<TimeStampZones>(size_t, unsigned, const std::function<void(size_t, TimeStampZones&)>&,
                                         const std::function<void(TimeStampZones&)>&);

}  // namespace tlq
