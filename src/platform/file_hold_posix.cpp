#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include "platform/file_hold.h"

namespace tlq {

namespace {

bool sameFile(int fd, const std::string& path) {
  struct stat opened {}, named {};
  return ::fstat(fd, &opened) == 0 && ::lstat(path.c_str(), &named) == 0 && opened.st_dev == named.st_dev &&
         opened.st_ino == named.st_ino;
}

// For writing where it may be written: a file system that emulates flock
// with record locks (NFS) takes an exclusive one only on a descriptor that
// may write.
int openForLock(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EPERM || errno == EROFS))
    fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  return fd;
}

}  // namespace

FileHold::FileHold(const std::string& path) : state_(State::lost) {
  int fd = openForLock(path);
  if (fd < 0) {
    if (errno != ENOENT) state_ = State::none;
    return;  // else removed meanwhile by a run that took it for abandoned
  }
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    state_ = errno == EWOULDBLOCK || errno == EINTR ? State::lost : State::none;
    ::close(fd);
    return;
  }
  // A run that took it for abandoned may have removed it between the open
  // and the lock.
  if (!sameFile(fd, path)) {
    ::close(fd);
    return;
  }
  handle_ = fd;
  state_ = State::held;
}

void FileHold::close(intptr_t handle) { ::close(static_cast<int>(handle)); }

bool removeIfAbandoned(const std::string& path) {
  int fd = openForLock(path);
  if (fd < 0) return false;
  struct stat st {};
  bool removed = false;
  // Its maker's lock would still be there: the system drops it only when
  // the maker has ended, however it ended. While this lock is held no run
  // can take the file for its own.
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && sameFile(fd, path))
    removed = ::unlink(path.c_str()) == 0;
  ::close(fd);
  return removed;
}

}  // namespace tlq
