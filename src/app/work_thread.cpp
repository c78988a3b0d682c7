#include "app/work_thread.h"

#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

#include "error.h"

namespace tlq {

void runWithTicks(const std::function<void()>& work, const std::function<void()>& tick, bool atEnds) {
  std::exception_ptr failure;
  std::mutex mutex;
  std::condition_variable ended;
  bool done = false;
  const TraceFrame* caller = TraceFrame::top();
  std::thread worker([&] {
    TraceFrame::Continuation trace(caller);
    try {
      work();
    } catch (const Error&) {
      failure = std::current_exception();
    } catch (const std::exception& e) {  // here, on the thread where its closed frames were noted
      failure = std::make_exception_ptr(libraryFailure(e));
    } catch (...) {
      failure = std::current_exception();
    }
    {
      std::lock_guard lock(mutex);
      done = true;
    }
    ended.notify_all();
  });
  if (atEnds) tick();
  for (;;) {
    {
      std::unique_lock lock(mutex);
      if (ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return done; })) break;
    }
    tick();
  }
  if (atEnds) tick();
  worker.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace tlq
