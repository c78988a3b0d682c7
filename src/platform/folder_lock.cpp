#include "platform/folder_lock.h"

#include <map>
#include <memory>
#include <thread>

namespace tlq {

// The threads of this process take a folder's lock one after the other
// (they would otherwise only poll the system's lock), each holding it for
// one table. A holder that lets it go does so soon: the wait for the
// system's lock alone is bounded. Once a wait for another process has run
// out, the next thread looks only once until one gets the lock again, so
// that a lock held for good fails each recording of the folder at once,
// not after a wait of its own.
struct FolderLock::Local {
  std::mutex mutex;
  bool stuck = false;  // the last wait for the system's lock ran out
};

FolderLock::Local& FolderLock::localFor(const std::string& folder) {
  static std::mutex guard;
  static std::map<std::string, std::unique_ptr<Local>> locals;
  std::lock_guard lock(guard);
  std::unique_ptr<Local>& local = locals[folder];
  if (!local) local = std::make_unique<Local>();
  return *local;
}

FolderLock::FolderLock(const std::string& folder, std::chrono::milliseconds wait)
    : local_(localFor(folder)), localHeld_(local_.mutex) {
  const auto deadline = std::chrono::steady_clock::now() + (local_.stuck ? std::chrono::milliseconds(0) : wait);
  // Another process holds it for the few renames of a commit: look again
  // soon, then less often.
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    switch (folder_lock_ops::tryLock(folder, handle_)) {
      case folder_lock_ops::Outcome::locked:
      case folder_lock_ops::Outcome::none: held_ = true; local_.stuck = false; return;
      case folder_lock_ops::Outcome::busy: break;
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      local_.stuck = true;
      return;
    }
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

FolderMaking::FolderMaking(const std::string& folder, std::chrono::milliseconds wait) {
  const auto deadline = std::chrono::steady_clock::now() + wait;
  auto pause = std::chrono::milliseconds(1);
  // A commit holds the folder for a few renames.
  while (folder_lock_ops::tryLockShared(folder, handle_) == folder_lock_ops::Outcome::busy &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

FolderMaking::~FolderMaking() {
  if (handle_ != -1) folder_lock_ops::unlock(handle_);
}

FolderLock::~FolderLock() {
  if (handle_ != -1) folder_lock_ops::unlock(handle_);
}

}  // namespace tlq
