#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "error.h"
#include "platform/file.h"

namespace tlq {

namespace {

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

}  // namespace

MappedFile::MappedFile(const std::string& path) {
  TLQ_OP("readFile");
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) {
    if (fd >= 0) ::close(fd);
    throw IoError("cannot open: " + path);
  }
  identity_[0] = static_cast<uint64_t>(st.st_dev);
  identity_[1] = static_cast<uint64_t>(st.st_ino);
  if (S_ISREG(st.st_mode) && st.st_size > 0) {
    void* p = ::mmap(nullptr, static_cast<size_t>(st.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (p != MAP_FAILED) {
      ::madvise(p, static_cast<size_t>(st.st_size), MADV_SEQUENTIAL);
      data_ = static_cast<const char*>(p);
      size_ = static_cast<size_t>(st.st_size);
      mapped_ = true;
    }
  }
  if (!mapped_) {
    bool ok = readAll(fd, copy_);
    if (!ok) {
      ::close(fd);
      throw IoError("cannot open: " + path);
    }
    data_ = copy_.data();
    size_ = copy_.size();
  }
  ::close(fd);
}

MappedFile::~MappedFile() {
  if (mapped_) ::munmap(const_cast<char*>(data_), size_);
}

bool MappedFile::isSameFile(const std::string& path) const {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_dev) == identity_[0] &&
         static_cast<uint64_t>(st.st_ino) == identity_[1];
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

namespace file_ops {

intptr_t create(const std::string& path, OutputFile::Create how) {
  int fd = how == OutputFile::Create::exclusive
               ? ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600)
               : ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  return fd < 0 ? -1 : fd;
}

bool write(intptr_t handle, const char* data, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(static_cast<int>(handle), data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool close(intptr_t handle) { return ::close(static_cast<int>(handle)) == 0; }

}  // namespace file_ops

}  // namespace tlq
