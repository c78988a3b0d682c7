#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>

#include "platform/folder_lock.h"

namespace tlq::folder_lock_ops {

// flock on the folder itself: nothing is made in it, and the lock goes with
// the last descriptor, which the system closes when the process ends.
namespace {

Outcome tryFlock(const std::string& folder, int how, intptr_t& handle) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Outcome::none;
  if (::flock(fd, how | LOCK_NB) == 0) {
    handle = fd;
    return Outcome::locked;
  }
  bool busy = errno == EWOULDBLOCK || errno == EINTR;
  ::close(fd);
  return busy ? Outcome::busy : Outcome::none;  // a file system without locks (NFS takes none on folders)
}

}  // namespace

Outcome tryLock(const std::string& folder, intptr_t& handle) { return tryFlock(folder, LOCK_EX, handle); }

Outcome tryLockShared(const std::string& folder, intptr_t& handle) { return tryFlock(folder, LOCK_SH, handle); }

void unlock(intptr_t handle) { ::close(static_cast<int>(handle)); }

}  // namespace tlq::folder_lock_ops
