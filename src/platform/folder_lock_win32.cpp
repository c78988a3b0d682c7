#include "platform/win32_text.h"  // windows.h first

#include "platform/folder_lock.h"
#include "platform/system.h"

namespace tlq::folder_lock_ops {

// A file opened for this handle alone (no sharing), so that a second open
// fails while it is held, and deleted when its handle closes, which the
// system does when the process ends, however it ends. Its name is the
// program's own, so that no file of the user's is ever taken for it.
Outcome tryLock(const std::string& folder, intptr_t& handle) {
  std::string path = joinPath(folder.empty() ? "." : folder, "tlqconverter.lock");
  HANDLE h = ::CreateFileW(widePath(path).c_str(), GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    handle = reinterpret_cast<intptr_t>(h);
    return Outcome::locked;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_SHARING_VIOLATION) return Outcome::busy;
  // On its way out (deleted, not gone yet), or a folder that takes no file.
  if (error == ERROR_ACCESS_DENIED && ::GetFileAttributesW(widePath(path).c_str()) != INVALID_FILE_ATTRIBUTES)
    return Outcome::busy;
  return Outcome::none;
}

// A file's own handle holds it from its making: nothing to wait for.
Outcome tryLockShared(const std::string&, intptr_t&) { return Outcome::none; }

void unlock(intptr_t handle) { ::CloseHandle(reinterpret_cast<HANDLE>(handle)); }

}  // namespace tlq::folder_lock_ops
