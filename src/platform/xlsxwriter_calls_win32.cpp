#include "platform/xlsxwriter_calls_win32.h"

#include <fcntl.h>
#include <io.h>

#include <cerrno>
#include <cstdarg>
#include <map>
#include <mutex>
#include <string>

#include "platform/win32_text.h"

namespace {

int64_t unixSeconds(const FILETIME& time) {
  uint64_t ticks = static_cast<uint64_t>(time.dwHighDateTime) << 32 | time.dwLowDateTime;  // 100 ns since 1601
  return static_cast<int64_t>(ticks / 10'000'000) - 11'644'473'600;
}

}  // namespace

extern "C" {

// The workbook's own file ("wb") is opened sharing its deletion, as the
// CRT does not: a conversion stopped while the library writes it (which
// cannot be interrupted) removes it before the program ends.
FILE* tlq_xlsx_fopen(const char* path, const char* mode) {
  if (std::string(mode) != "wb") return ::_wfopen(tlq::widePath(path).c_str(), tlq::widen(mode).c_str());
  HANDLE h = ::CreateFileW(tlq::widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
    return nullptr;
  }
  int fd = ::_open_osfhandle(reinterpret_cast<intptr_t>(h), _O_WRONLY | _O_BINARY);
  if (fd < 0) {
    ::CloseHandle(h);
    return nullptr;
  }
  FILE* file = ::_fdopen(fd, "wb");
  if (!file) ::_close(fd);
  return file;
}

int tlq_xlsx_open(const char* path, int flags, ...) {
  int permission = 0;
  if (flags & _O_CREAT) {
    va_list rest;
    va_start(rest, flags);
    permission = va_arg(rest, int);
    va_end(rest);
  }
  return ::_wopen(tlq::widePath(path).c_str(), flags, permission);
}

// What the library asks of a path: whether it is a folder. The CRT's own
// stat refuses the long form of a path (a '?' in it), so the system's
// attributes answer: the type, the read-only bit, the size and the times.
int tlq_xlsx_stat(const char* path, struct stat* info) {
  WIN32_FILE_ATTRIBUTE_DATA data{};
  if (!::GetFileAttributesExW(tlq::widePath(path).c_str(), GetFileExInfoStandard, &data)) {
    errno = ::GetLastError() == ERROR_ACCESS_DENIED ? EACCES : ENOENT;
    return -1;
  }
  *info = {};
  bool folder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
  unsigned mode = _S_IREAD;
  if (!(data.dwFileAttributes & FILE_ATTRIBUTE_READONLY)) mode |= _S_IWRITE;
  if (folder) mode |= _S_IEXEC;
  info->st_mode = static_cast<unsigned short>((folder ? _S_IFDIR : _S_IFREG) | mode | mode >> 3 | mode >> 6);
  info->st_nlink = 1;
  if (!folder) info->st_size = static_cast<_off_t>(static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow);
  info->st_atime = unixSeconds(data.ftLastAccessTime);
  info->st_mtime = unixSeconds(data.ftLastWriteTime);
  info->st_ctime = unixSeconds(data.ftCreationTime);
  return 0;
}

// The values stay where they are while they do not change: the library's
// workbooks may be written on several threads at once.
char* tlq_xlsx_getenv(const char* name) {
  static std::mutex lock;
  static std::map<std::string, std::string> values;
  const wchar_t* wide = ::_wgetenv(tlq::widen(name).c_str());
  if (!wide) return nullptr;
  std::string value = tlq::narrow(wide);
  std::lock_guard<std::mutex> hold(lock);
  std::string& kept = values[name];
  if (kept != value) kept = value;
  return kept.data();
}

// The same formatter as MinGW's fprintf (__mingw_vfprintf), so the same
// text.
int tlq_xlsx_fprintf(FILE* stream, const char* format, ...) {
  char text[1024];
  va_list arguments;
  va_start(arguments, format);
  int n = ::__mingw_vsnprintf(text, sizeof text, format, arguments);
  va_end(arguments);
  if (n < 0) return n;
  if (static_cast<size_t>(n) < sizeof text)
    return std::fwrite(text, 1, static_cast<size_t>(n), stream) == static_cast<size_t>(n) ? n : -1;
  // Longer (a long text's cell): formatted again, onto the stream.
  va_start(arguments, format);
  n = ::__mingw_vfprintf(stream, format, arguments);
  va_end(arguments);
  return n;
}

}  // extern "C"
