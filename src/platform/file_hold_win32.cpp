#include "platform/win32_text.h"  // windows.h first

#include "platform/file_hold.h"

namespace tlq {

// The hold reads the file and lets others read, write and delete it (so that
// its maker still renames and removes it): a removal that opens the file
// for itself alone (no sharing at all) fails while any hold or writer of it
// is open, which the system closes when the process ends, however it ends.
FileHold::FileHold(const std::string& path) : state_(State::lost) {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return;  // removed, or being removed
  handle_ = reinterpret_cast<intptr_t>(h);
  state_ = State::held;
}

void FileHold::close(intptr_t handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

bool removeIfAbandoned(const std::string& path) {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;  // held, or not to be had
  BY_HANDLE_FILE_INFORMATION info{};
  bool removed = false;
  if (::GetFileInformationByHandle(h, &info) &&
      !(info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_READONLY))) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    removed = ::SetFileInformationByHandle(h, FileDispositionInfo, &disposition, sizeof disposition);
  }
  ::CloseHandle(h);
  return removed;
}

}  // namespace tlq
