#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <system_error>

#include "error.h"
#include "platform/file.h"
#include "platform/system.h"
#include "platform/temp_files.h"

namespace tlq {

namespace {

// The version of a file as its status tells it.
MappedFile::Version versionOf(const struct stat& st) {
  return {{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)},
          {static_cast<uint64_t>(st.st_mtim.tv_sec), static_cast<uint64_t>(st.st_mtim.tv_nsec)},
          static_cast<uint64_t>(st.st_size)};
}

// Reads all that `fd` gives until end of file.
bool readAll(int fd, std::string& out) {
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n == 0) return true;
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    out.append(buf, static_cast<size_t>(n));
  }
}

// ---- Pages lost under a mapping ------------------------------------------
//
// When another program cuts a mapped file short, reading a page past its new
// end raises SIGBUS, which would kill the program without a word. Mappings
// are watched: the handler puts zeros in place of the rest of the mapping
// from the lost page on, notes the loss, and lets the read go on;
// MappedFile::changed() then reports it. A SIGBUS anywhere else goes where
// it went before.

struct Guard {
  std::atomic<uintptr_t> begin{0}, end{0};
  std::atomic<bool> lost{false};
};

constexpr int kGuards = 16;
Guard guards[kGuards];
struct sigaction previousAction;
uintptr_t pageSize = 4096;

void onSigbus(int signal, siginfo_t* info, void* context) {
  auto at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (Guard& g : guards) {
    uintptr_t begin = g.begin.load(), end = g.end.load();
    if (at < begin || at >= end) continue;
    uintptr_t page = at & ~(pageSize - 1);
    void* zeros = ::mmap(reinterpret_cast<void*>(page), end - page, PROT_READ,
                         MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0);
    if (zeros == MAP_FAILED) break;
    g.lost.store(true);
    return;
  }
  if ((previousAction.sa_flags & SA_SIGINFO) && previousAction.sa_sigaction) {
    previousAction.sa_sigaction(signal, info, context);
  } else if (previousAction.sa_handler != SIG_DFL && previousAction.sa_handler != SIG_IGN) {
    previousAction.sa_handler(signal);
  } else {
    ::sigaction(SIGBUS, &previousAction, nullptr);  // the read is retried, and ends the program
  }
}

// A guard watching [data, data + size), or -1 when all are taken.
int watch(const char* data, size_t size) {
  static std::once_flag installed;
  std::call_once(installed, [] {
    pageSize = static_cast<uintptr_t>(::sysconf(_SC_PAGESIZE));
    struct sigaction action {};
    action.sa_sigaction = onSigbus;
    action.sa_flags = SA_SIGINFO | SA_NODEFER;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGBUS, &action, &previousAction);
  });
  auto begin = reinterpret_cast<uintptr_t>(data);
  for (int i = 0; i < kGuards; ++i) {
    uintptr_t free = 0;
    if (!guards[i].begin.compare_exchange_strong(free, begin)) continue;
    guards[i].lost.store(false);
    guards[i].end.store(begin + size);
    return i;
  }
  return -1;
}

void unwatch(int guard) {
  guards[guard].end.store(0);
  guards[guard].begin.store(0);
}

}  // namespace

MappedFile::MappedFile(const std::string& path) {
  TLQ_OP("readFile");
  // Opening a pipe for reading would wait for a writer: open without
  // waiting, and take nothing but a regular file.
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    std::string reason = lastSystemError();
    throw IoError("cannot open: " + path).withReason(reason);
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    throw IoError("cannot open: " + path)
        .withReason(S_ISDIR(st.st_mode) ? std::generic_category().message(EISDIR) : "not a regular file");
  }
  handle_ = fd;
  opened_ = versionOf(st);
  if (st.st_size > 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    guard_ = p == MAP_FAILED ? -1 : watch(static_cast<const char*>(p), static_cast<size_t>(st.st_size));
    if (guard_ >= 0) {
      data_ = static_cast<const char*>(p);
      size_ = static_cast<size_t>(st.st_size);
      mapped_ = true;
      ::madvise(p, size_, MADV_SEQUENTIAL);
    } else if (p != MAP_FAILED) {
      ::munmap(p, static_cast<size_t>(st.st_size));  // not watched: not safe to map
    }
  }
  if (!mapped_) {  // empty as far as stat knows (some system files), unmappable or unwatched: a copy
    int flags = ::fcntl(fd, F_GETFL);
    bool ok = flags != -1 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0 && TLQ_AT(readAll(fd, copy_));
    if (!ok) {
      ::close(fd);
      throw IoError("cannot open: " + path);
    }
    data_ = copy_.data();
    size_ = copy_.size();
  }
}

MappedFile::~MappedFile() {
  if (guard_ >= 0) unwatch(guard_);
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
  ::close(static_cast<int>(handle_));
}

bool MappedFile::isSameFile(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == opened_.identity[0] &&
         static_cast<uint64_t>(st.st_ino) == opened_.identity[1];
}

bool MappedFile::stillAt(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && versionOf(st) == opened_;
}

bool MappedFile::changed() const {
  if (!mapped_) return false;  // the copy is ours
  if (guards[guard_].lost.load()) return true;  // a mapping is always watched
  struct stat st {};
  return ::fstat(static_cast<int>(handle_), &st) != 0 || static_cast<size_t>(st.st_size) != size_ ||
         static_cast<uint64_t>(st.st_mtim.tv_sec) != opened_.modified[0] ||
         static_cast<uint64_t>(st.st_mtim.tv_nsec) != opened_.modified[1];
}

std::optional<std::string> readWholeFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  std::string text;
  bool ok = readAll(fd, text);
  ::close(fd);
  if (!ok) return std::nullopt;
  return text;
}

namespace {

bool makeDirectories(const std::string& dir) {
  if (dir.empty() || ::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST) return true;
  if (errno != ENOENT) return false;
  size_t cut = dir.find_last_of('/');
  return cut != std::string::npos && cut > 0 && makeDirectories(dir.substr(0, cut)) &&
         (::mkdir(dir.c_str(), 0777) == 0 || errno == EEXIST);
}

}  // namespace

void replaceFile(const std::string& path, std::string_view contents) {
  size_t cut = path.find_last_of('/');
  std::string dir = cut == std::string::npos ? "." : path.substr(0, cut);
  if (!makeDirectories(dir)) throw OsError(std::strerror(errno));
  std::string temp = path + ".XXXXXX";
  int fd = ::mkstemp(temp.data());
  if (fd < 0) throw OsError(std::strerror(errno));
  bool ok = file_ops::write(fd, contents.data(), contents.size()) && ::fsync(fd) == 0;
  ok = ::close(fd) == 0 && ok;
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) {
    int error = errno;
    ::unlink(temp.c_str());
    throw OsError(std::strerror(error));
  }
}

std::optional<uint64_t> streamSize(std::FILE* stream) {
  struct stat st {};
  if (::fstat(::fileno(stream), &st) != 0) return std::nullopt;
  return static_cast<uint64_t>(st.st_size);
}

std::optional<std::string> spaceFor(const std::string& folder, uint64_t bytes) {
  int fd = -1;
#ifdef O_TMPFILE
  fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
    std::string path = folder + "/" + randomName("tlqconverter_", 8, ".tmp");
    fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) ::unlink(path.c_str());
    else if (errno != EEXIST) return lastSystemError();
  }
  if (fd < 0) return lastSystemError();
  // posix_fallocate writes a byte a block where the file system cannot
  // allocate (FAT): slower, but the space is the disk's all the same.
  int error = bytes ? ::posix_fallocate(fd, 0, static_cast<off_t>(bytes)) : 0;
  ::close(fd);
  if (error == 0) return std::nullopt;
  return std::generic_category().message(error);
}

bool syncFile(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool ok = ::fsync(fd) == 0;
  int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

namespace file_ops {

intptr_t create(const std::string& path, OutputFile::Create how) {
  int flags = how == OutputFile::Create::truncate ? O_TRUNC : O_EXCL | O_NOFOLLOW;
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | flags, how == OutputFile::Create::exclusive ? 0600 : 0666);
  return fd < 0 ? -1 : fd;
}

void startWriteback(intptr_t handle, uint64_t offset, uint64_t size) {
#ifdef __linux__
  // Its failures are the sync's to report.
  ::sync_file_range(static_cast<int>(handle), static_cast<off_t>(offset), static_cast<off_t>(size),
                    SYNC_FILE_RANGE_WRITE);
#else
  (void)handle, (void)offset, (void)size;
#endif
}

bool write(intptr_t handle, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;  // nothing taken: the device is full
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool close(intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

}  // namespace file_ops

}  // namespace tlq
