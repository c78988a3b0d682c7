// Worker threads that are stopped and joined on every way out.
#pragma once

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace tlq {

// Starts `count` threads running `work`. On the way out, errors included, it
// sets `stop` under `mutex`, wakes every thread waiting on `wake` and joins
// them all: no worker outlives what it works on. When the system gives
// fewer threads than asked, those started do the work; when it gives none,
// its std::system_error is raised.
class WorkerCrew {
 public:
  template <typename Work>
  WorkerCrew(unsigned count, const Work& work, std::mutex& mutex, std::condition_variable& wake, bool& stop)
      : mutex_(mutex), wake_(wake), stop_(stop) {
    threads_.reserve(count);
    try {
      for (unsigned t = 0; t < count; ++t) threads_.emplace_back(work);
    } catch (const std::system_error&) {
      if (threads_.empty()) throw;
    }
  }
  ~WorkerCrew() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    wake_.notify_all();
    for (std::thread& t : threads_) t.join();
  }
  WorkerCrew(const WorkerCrew&) = delete;
  WorkerCrew& operator=(const WorkerCrew&) = delete;

 private:
  std::vector<std::thread> threads_;
  std::mutex& mutex_;
  std::condition_variable& wake_;
  bool& stop_;
};

}  // namespace tlq
