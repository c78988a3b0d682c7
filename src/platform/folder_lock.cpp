#include "platform/folder_lock.h"

#include <map>
#include <memory>
#include <thread>

namespace tlq {

namespace {

// One mutex per folder for the threads of this process, which would
// otherwise only poll the system's lock.
std::timed_mutex& localMutex(const std::string& folder) {
  static std::mutex guard;
  static std::map<std::string, std::unique_ptr<std::timed_mutex>> mutexes;
  std::lock_guard lock(guard);
  std::unique_ptr<std::timed_mutex>& m = mutexes[folder];
  if (!m) m = std::make_unique<std::timed_mutex>();
  return *m;
}

}  // namespace

FolderLock::FolderLock(const std::string& folder, std::chrono::milliseconds wait)
    : local_(localMutex(folder), std::defer_lock) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  if (!local_.try_lock_until(deadline)) return;
  // Another process holds it for the few renames of a commit: look again
  // soon, then less often.
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    switch (folder_lock_ops::tryLock(folder, handle_)) {
      case folder_lock_ops::Outcome::locked:
      case folder_lock_ops::Outcome::none: held_ = true; return;
      case folder_lock_ops::Outcome::busy: break;
    }
    if (std::chrono::steady_clock::now() >= deadline) return;
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

FolderLock::~FolderLock() {
  if (handle_ != -1) folder_lock_ops::unlock(handle_);
}

}  // namespace tlq
