#include "platform/win32_text.h"  // windows.h first: bcrypt.h builds on it

#include <bcrypt.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "platform/split_command_line.h"
#include "platform/system.h"

namespace tlq {

std::string getAppFilename() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    DWORD n = ::GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n < buf.size()) return narrow(std::wstring_view(buf.data(), n));
    buf.resize(buf.size() * 2);
  }
}

std::string getAppDir() {
  std::string file = getAppFilename();
  size_t cut = file.find_last_of("\\/");
  return cut == std::string::npos ? "." : file.substr(0, cut);
}

std::string joinPath(std::string_view dir, std::string_view name) {
  std::string path(dir);
  if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
  path += name;
  return path;
}

std::vector<std::string> processArguments() { return splitCommandLine(narrow(::GetCommandLineW())); }

void setProcessArguments(int, char**) {}  // Windows gives the whole command line

std::optional<std::string> getEnv(const char* name) {
  const wchar_t* v = ::_wgetenv(widen(name).c_str());
  if (!v) return std::nullopt;
  return narrow(v);
}

bool systemRandom(void* bytes, size_t size) {
  return BCRYPT_SUCCESS(::BCryptGenRandom(nullptr, static_cast<PUCHAR>(bytes), static_cast<ULONG>(size),
                                          BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}

bool dirExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool fileExists(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool removeFile(const std::string& path) { return ::DeleteFileW(widePath(path).c_str()) != 0; }

std::string lastSystemError() { return systemMessage(::GetLastError()); }

SystemCause causeOf(const std::string& reason) {
  auto is = [&](std::initializer_list<DWORD> codes, std::initializer_list<int> errnos) {
    for (DWORD code : codes)
      if (reason == systemMessage(code)) return true;
    for (int code : errnos)
      if (reason == std::generic_category().message(code)) return true;
    return false;
  };
  if (is({ERROR_SHARING_VIOLATION, ERROR_LOCK_VIOLATION, ERROR_USER_MAPPED_FILE}, {EBUSY})) return SystemCause::inUse;
  if (is({ERROR_ACCESS_DENIED, ERROR_WRITE_PROTECT}, {EACCES, EPERM, EROFS})) return SystemCause::denied;
  if (is({ERROR_DISK_FULL, ERROR_HANDLE_DISK_FULL, ERROR_NOT_ENOUGH_QUOTA}, {ENOSPC, EFBIG}))
    return SystemCause::full;
  // (also a drive that is not there or not ready, and a share that is not
  // connected)
  if (is({ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_INVALID_DRIVE, ERROR_NOT_READY, ERROR_BAD_NETPATH,
          ERROR_BAD_NET_NAME},
         {ENOENT}))
    return SystemCause::missing;
  return SystemCause::other;
}

}  // namespace tlq
