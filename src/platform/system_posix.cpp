#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>

#if defined(__linux__)
#include <sys/random.h>
#endif
#if defined(__APPLE__)
#include <mach-o/dyld.h>
#endif

#include "platform/system.h"

namespace tlq {

namespace {
std::vector<std::string>& arguments() {
  static std::vector<std::string> args;
  return args;
}
}  // namespace

std::string getAppFilename() {
#if defined(__APPLE__)
  char buf[4096];
  uint32_t size = sizeof buf;
  if (_NSGetExecutablePath(buf, &size) == 0) {
    char resolved[PATH_MAX];
    if (::realpath(buf, resolved)) return resolved;
    return buf;
  }
#else
  char buf[4096];
  ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf);
  if (n > 0 && static_cast<size_t>(n) < sizeof buf) return std::string(buf, static_cast<size_t>(n));
#endif
  return arguments().empty() ? std::string() : arguments()[0];
}

std::string getAppDir() {
  std::string file = getAppFilename();
  size_t cut = file.find_last_of('/');
  return cut == std::string::npos ? "." : file.substr(0, cut == 0 ? 1 : cut);
}

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '/') path += '/';
  path += name;
  return path;
}

std::vector<std::string> processArguments() { return arguments(); }

void setProcessArguments(int argc, char** argv) { arguments().assign(argv, argv + argc); }

std::optional<std::string> getEnv(const char* name) {
  const char* v = std::getenv(name);
  if (!v) return std::nullopt;
  return std::string(v);
}

bool systemRandom(void* bytes, size_t size) {
  auto* p = static_cast<unsigned char*>(bytes);
#if defined(__linux__)
  while (size > 0) {
    ssize_t n = ::getrandom(p, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    size -= static_cast<size_t>(n);
  }
  return true;
#else
  std::ifstream random("/dev/urandom", std::ios::binary);
  return static_cast<bool>(random.read(reinterpret_cast<char*>(p), static_cast<std::streamsize>(size)));
#endif
}

bool dirExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool fileExists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool removeFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

std::string lastSystemError() { return std::generic_category().message(errno); }

SystemCause causeOf(const std::string& reason) {
  auto is = [&](std::initializer_list<int> codes) {
    for (int code : codes)
      if (reason == std::generic_category().message(code)) return true;
    return false;
  };
  if (is({ETXTBSY, EBUSY})) return SystemCause::inUse;
  if (is({EACCES, EPERM, EROFS})) return SystemCause::denied;
  if (is({ENOSPC, EDQUOT, EFBIG})) return SystemCause::full;
  if (is({ENOENT, ENOTDIR})) return SystemCause::missing;
  return SystemCause::other;
}

}  // namespace tlq
