#include <io.h>

#include "error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "platform/temp_files.h"
#include "platform/win32_text.h"

namespace tlq {

namespace {

HANDLE openForReading(const std::string& path) {
  return ::CreateFileW(widePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
}

bool readAll(HANDLE h, std::string& out) {
  char buf[1 << 16];
  for (;;) {
    DWORD n = 0;
    if (!::ReadFile(h, buf, sizeof buf, &n, nullptr)) return ::GetLastError() == ERROR_BROKEN_PIPE;
    if (n == 0) return true;
    out.append(buf, n);
  }
}

bool identityOf(HANDLE h, uint64_t (&identity)[2]) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(h, &info)) return false;
  identity[0] = info.dwVolumeSerialNumber;
  identity[1] = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  return true;
}

// The version of a file as its information tells it (the time of last
// change in its one word).
MappedFile::Version versionOf(const BY_HANDLE_FILE_INFORMATION& info) {
  MappedFile::Version v;
  v.identity[0] = info.dwVolumeSerialNumber;
  v.identity[1] = static_cast<uint64_t>(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
  v.modified[0] = static_cast<uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32 | info.ftLastWriteTime.dwLowDateTime;
  v.size = static_cast<uint64_t>(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  return v;
}

bool modifiedOf(HANDLE h, uint64_t (&modified)[2]) {
  FILETIME written{};
  if (!::GetFileTime(h, nullptr, nullptr, &written)) return false;
  modified[0] = static_cast<uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
  return true;
}

// The words for a file whose name Windows reserves for a device ("aux.tlq",
// "COM1.tlq", "nul .tlq": the name up to its first dot, blanks at its end
// ignored), which the system opens as that device; "" for any other name.
std::string reservedNameReason(const std::string& path) {
  size_t start = path.find_last_of("\\/:");
  std::string stem = path.substr(start == std::string::npos ? 0 : start + 1);
  for (char& c : stem)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  stem.resize(std::min(stem.size(), stem.find('.')));
  while (!stem.empty() && stem.back() == ' ') stem.pop_back();
  bool reserved = stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" ||
                  stem == "CONOUT$";
  // COM1 to COM9 and LPT1 to LPT9, and with a superscript 1, 2 or 3 (UTF-8)
  if ((stem.starts_with("COM") || stem.starts_with("LPT")) &&
      ((stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9') || stem == stem.substr(0, 3) + "\u00b9" ||
       stem == stem.substr(0, 3) + "\u00b2" || stem == stem.substr(0, 3) + "\u00b3"))
    reserved = true;
  return reserved ? "the name " + stem + " is one that Windows reserves for a device" : "";
}

}  // namespace

MappedFile::MappedFile(const std::string& path) {
  TLQ_OP("readFile");
  HANDLE h = openForReading(path);
  if (h == INVALID_HANDLE_VALUE) {
    std::string reason = systemMessage(::GetLastError());
    std::string reserved = reservedNameReason(path);
    throw IoError("cannot open: " + path).withReason(reserved.empty() ? reason : reserved);
  }
  if (::GetFileType(h) != FILE_TYPE_DISK) {  // a pipe or a device
    ::CloseHandle(h);
    std::string reserved = reservedNameReason(path);
    throw IoError("cannot open: " + path).withReason(reserved.empty() ? "not a regular file" : reserved);
  }
  handle_ = reinterpret_cast<intptr_t>(h);
  modifiedOf(h, opened_.modified);
  identityOf(h, opened_.identity);
  LARGE_INTEGER size{};
  if (::GetFileSizeEx(h, &size)) opened_.size = static_cast<uint64_t>(size.QuadPart);
  if (size.QuadPart > 0) {
    HANDLE mapping = ::CreateFileMappingW(h, nullptr, PAGE_READONLY, 0, 0, nullptr);
    if (mapping) {
      void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0);
      ::CloseHandle(mapping);  // the view keeps the mapping alive
      if (view) {
        data_ = static_cast<const char*>(view);
        size_ = static_cast<size_t>(size.QuadPart);
        mapped_ = true;
      }
    }
  }
  if (!mapped_) {
    bool ok = TLQ_AT(readAll(h, copy_));
    if (!ok) {
      ::CloseHandle(h);
      throw IoError("cannot open: " + path).withReason(reservedNameReason(path));
    }
    data_ = copy_.data();
    size_ = copy_.size();
  }
}

MappedFile::~MappedFile() {
  if (mapped_) ::UnmapViewOfFile(data_);
  ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// A mapped file cannot be cut short on Windows, but it can grow or be
// written to.
bool MappedFile::changed() const {
  if (!mapped_) return false;  // the copy is ours
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  LARGE_INTEGER size{};
  uint64_t modified[2] = {0, 0};
  return !::GetFileSizeEx(h, &size) || static_cast<size_t>(size.QuadPart) != size_ || !modifiedOf(h, modified) ||
         modified[0] != opened_.modified[0];
}

bool MappedFile::stillAt(const std::string& path) const {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  bool same = ::GetFileInformationByHandle(h, &info) && versionOf(info) == opened_;
  ::CloseHandle(h);
  return same;
}

bool MappedFile::isSameFile(const std::string& path) const {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  uint64_t other[2] = {0, 0};
  bool same = identityOf(h, other) && other[0] == opened_.identity[0] && other[1] == opened_.identity[1];
  ::CloseHandle(h);
  return same;
}

std::optional<std::string> readWholeFile(const std::string& path) {
  HANDLE h = openForReading(path);
  if (h == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string text;
  bool ok = readAll(h, text);
  ::CloseHandle(h);
  if (!ok) return std::nullopt;
  return text;
}

void replaceFile(const std::string& path, std::string_view contents) {
  std::string folder = folderOf(path);
  if (!folder.empty() && !makeFolders(folder)) throw OsError(systemMessage(::GetLastError()));
  std::string temp = path + ".new";
  intptr_t h = file_ops::create(temp, OutputFile::Create::truncate);
  if (h == -1) throw OsError(systemMessage(::GetLastError()));
  bool ok = file_ops::write(h, contents.data(), contents.size()) &&
            ::FlushFileBuffers(reinterpret_cast<HANDLE>(h));
  ok = file_ops::close(h) && ok;
  ok = ok && ::MoveFileExW(widePath(temp).c_str(), widePath(path).c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
  if (!ok) {
    DWORD error = ::GetLastError();
    ::DeleteFileW(widePath(temp).c_str());
    throw OsError(systemMessage(error));
  }
}

std::optional<uint64_t> streamSize(std::FILE* stream) {
  __int64 size = ::_filelengthi64(::_fileno(stream));
  if (size < 0) return std::nullopt;
  return static_cast<uint64_t>(size);
}

std::optional<std::string> spaceFor(const std::string& folder, uint64_t bytes) {
  HANDLE h = INVALID_HANDLE_VALUE;
  for (int attempt = 0; h == INVALID_HANDLE_VALUE && attempt < 100; ++attempt) {
    std::string path = folder + "\\" + randomName("tlqconverter_", 8, ".tmp");
    // Gone with its handle, also when the process is killed.
    h = ::CreateFileW(widePath(path).c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                      FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS) return lastSystemError();
  }
  if (h == INVALID_HANDLE_VALUE) return lastSystemError();
  FILE_ALLOCATION_INFO allocation{};
  allocation.AllocationSize.QuadPart = static_cast<LONGLONG>(bytes);
  bool ok = ::SetFileInformationByHandle(h, FileAllocationInfo, &allocation, sizeof allocation) != 0;
  if (!ok && ::GetLastError() != ERROR_DISK_FULL && ::GetLastError() != ERROR_HANDLE_DISK_FULL) {
    // Where the call is not there (wine), the file's end set as far: NTFS
    // allocates it all the same (the file is not sparse).
    LARGE_INTEGER size{};
    size.QuadPart = static_cast<LONGLONG>(bytes);
    ok = ::SetFilePointerEx(h, size, nullptr, FILE_BEGIN) && ::SetEndOfFile(h);
  }
  std::string reason = ok ? std::string() : lastSystemError();
  ::CloseHandle(h);
  if (ok) return std::nullopt;
  return reason;
}

bool syncFile(const std::string& path) {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), GENERIC_WRITE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  bool ok = ::FlushFileBuffers(h);
  DWORD error = ::GetLastError();
  ::CloseHandle(h);
  ::SetLastError(error);
  return ok;
}

namespace file_ops {

intptr_t create(const std::string& path, OutputFile::Create how) {
  // A handle that child processes do not inherit (no security attributes).
  HANDLE h = ::CreateFileW(widePath(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                           how == OutputFile::Create::truncate ? CREATE_ALWAYS : CREATE_NEW, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
  return h == INVALID_HANDLE_VALUE ? -1 : reinterpret_cast<intptr_t>(h);
}

void startWriteback(intptr_t, uint64_t, uint64_t) {}  // the system has no call that does not wait

bool write(intptr_t handle, const char* data, size_t size) {
  while (size > 0) {
    DWORD chunk = size > (1u << 30) ? (1u << 30) : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!::WriteFile(reinterpret_cast<HANDLE>(handle), data, chunk, &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool close(intptr_t handle) { return ::CloseHandle(reinterpret_cast<HANDLE>(handle)) != 0; }

}  // namespace file_ops

}  // namespace tlq
