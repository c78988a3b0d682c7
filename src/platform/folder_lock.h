// The lock under which tables are put into a folder, so that two runs of the
// program (or two threads of one) never put files of one table in at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

namespace tlq {

class FolderLock {
 public:
  // Takes the lock on `folder`, waiting for another process's hold at most
  // `wait` (for another thread of this one as long as it holds it: one
  // table's commit), and not at all while that process keeps it after an
  // earlier wait ran out; false from held() when it waited in vain. A
  // folder that takes no lock
  // (a file system without them, a folder that cannot be opened) is taken
  // as locked. The system lets go of the lock when the process ends,
  // however it ends: POSIX locks the folder itself (flock); Windows makes a
  // file "tlqconverter.lock" in it, opened for itself alone and deleted
  // when it is closed.
  FolderLock(const std::string& folder, std::chrono::milliseconds wait);
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

  bool held() const { return held_; }

 private:
  struct Local;
  static Local& localFor(const std::string& folder);

  Local& local_;                       // among the threads of this process
  std::unique_lock<std::mutex> localHeld_;
  intptr_t handle_ = -1;
  bool held_ = false;
};

// Held while a file of ours is made in a folder and taken hold of
// (FileHold), so that a run sweeping the folder under its FolderLock never
// finds a live run's file between the two and takes it for left over.
// POSIX: a shared flock on the folder, which a FolderLock excludes, waited
// for at most `wait` (then the file is made all the same); Windows: nothing,
// the file's own handle holds it from its making.
class FolderMaking {
 public:
  FolderMaking(const std::string& folder, std::chrono::milliseconds wait);
  ~FolderMaking();
  FolderMaking(const FolderMaking&) = delete;
  FolderMaking& operator=(const FolderMaking&) = delete;

 private:
  intptr_t handle_ = -1;
};

// The system's lock on a folder, one implementation per platform.
namespace folder_lock_ops {
enum class Outcome { locked, busy, none };  // none: the folder takes no lock
Outcome tryLock(const std::string& folder, intptr_t& handle);
// The same, shared with other such holds (FolderMaking).
Outcome tryLockShared(const std::string& folder, intptr_t& handle);
void unlock(intptr_t handle);
}  // namespace folder_lock_ops

}  // namespace tlq
