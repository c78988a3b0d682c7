#include "platform/win32_text.h"  // windows.h first

#include <filesystem>

#include "error.h"
#include "platform/folders.h"

namespace tlq {

namespace {

PathKind kindOf(DWORD attributes) {
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) return PathKind::folder;
  if (attributes & FILE_ATTRIBUTE_DEVICE) return PathKind::other;
  return PathKind::file;
}

}  // namespace

// FILETIME counts 100 ns from 1601-01-01.
int64_t unixNanoseconds(int64_t modified) { return (modified - 116'444'736'000'000'000) * 100; }

int64_t ticksOfSeconds(int64_t seconds) { return seconds * 10'000'000; }

bool setModified(const std::string& path, int64_t modified) {
  HANDLE h = ::CreateFileW(widePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  FILETIME written{static_cast<DWORD>(modified), static_cast<DWORD>(static_cast<uint64_t>(modified) >> 32)};
  bool ok = ::SetFileTime(h, nullptr, nullptr, &written);
  ::CloseHandle(h);
  return ok;
}

PathInfo pathInfo(const std::string& path) {
  // No access asked: any file or folder can be opened this way, and its
  // links are followed.
  HANDLE h = ::CreateFileW(widePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return {};
  PathInfo info;
  BY_HANDLE_FILE_INFORMATION file{};
  if (::GetFileInformationByHandle(h, &file)) {
    info.kind = ::GetFileType(h) == FILE_TYPE_DISK ? kindOf(file.dwFileAttributes) : PathKind::other;
    if (info.kind == PathKind::file) info.size = static_cast<uint64_t>(file.nFileSizeHigh) << 32 | file.nFileSizeLow;
    info.id = FileId{file.dwVolumeSerialNumber, static_cast<uint64_t>(file.nFileIndexHigh) << 32 | file.nFileIndexLow};
    info.modified = static_cast<int64_t>(static_cast<uint64_t>(file.ftLastWriteTime.dwHighDateTime) << 32 |
                                         file.ftLastWriteTime.dwLowDateTime);
  } else {
    info.kind = PathKind::other;  // a device
  }
  ::CloseHandle(h);
  return info;
}

std::optional<std::vector<FolderEntry>> listFolder(const std::string& path) {
  std::string pattern = path;
  if (!pattern.empty() && !isPathSeparator(pattern.back()) && pattern.back() != ':') pattern += '\\';
  pattern += '*';
  WIN32_FIND_DATAW found;
  HANDLE h = ::FindFirstFileExW(widePath(pattern).c_str(), FindExInfoBasic, &found, FindExSearchNameMatch, nullptr,
                                FIND_FIRST_EX_LARGE_FETCH);
  if (h == INVALID_HANDLE_VALUE) {
    if (::GetLastError() == ERROR_FILE_NOT_FOUND) return std::vector<FolderEntry>();  // an empty drive
    return std::nullopt;
  }
  std::vector<FolderEntry> entries;
  do {
    std::wstring_view name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    FolderEntry entry{narrow(name), kindOf(found.dwFileAttributes), false};
    if (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) {
      // A link, a junction or a mount point: where it leads decides what it is.
      entry.link = true;
      entry.kind = pathInfo(pattern.substr(0, pattern.size() - 1) + entry.name).kind;
    }
    entries.push_back(std::move(entry));
  } while (::FindNextFileW(h, &found));
  bool ok = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(h);
  if (!ok) return std::nullopt;
  return entries;
}

bool makeFolders(const std::string& path) {
  if (path.empty() || ::CreateDirectoryW(widePath(path).c_str(), nullptr)) return true;
  DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS) return pathInfo(path).kind == PathKind::folder;
  if (error != ERROR_PATH_NOT_FOUND) return false;
  std::string parent = folderOf(path);
  return !parent.empty() && parent != path && makeFolders(parent) &&
         (::CreateDirectoryW(widePath(path).c_str(), nullptr) ||
          (::GetLastError() == ERROR_ALREADY_EXISTS && pathInfo(path).kind == PathKind::folder));
}

bool removeEmptyFolder(const std::string& path) { return ::RemoveDirectoryW(widePath(path).c_str()) != 0; }

namespace {

// A rename refused with "access denied": when one of the files is held open
// by another program without sharing delete (the table open in the
// spreadsheet), says that instead, which tells the person what to do.
bool renamed(const std::string& from, const std::string& to, DWORD flags) {
  if (::MoveFileExW(widePath(from).c_str(), widePath(to).c_str(), flags)) return true;
  DWORD error = ::GetLastError();
  if (error == ERROR_ACCESS_DENIED) {
    for (const std::string* path : {&from, &to}) {
      HANDLE h = ::CreateFileW(widePath(*path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
      if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
      } else if (::GetLastError() == ERROR_SHARING_VIOLATION) {
        error = ERROR_SHARING_VIOLATION;
        break;
      }
    }
  }
  ::SetLastError(error);
  return false;
}

}  // namespace

// Written through: the rename is on the disk when the call returns (the
// folder's part of making a table durable).
bool renameReplacing(const std::string& from, const std::string& to) {
  return renamed(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
}

bool renameFresh(const std::string& from, const std::string& to) { return renamed(from, to, MOVEFILE_WRITE_THROUGH); }

void syncFolder(const std::string&) {}

// Links to files need rights that few accounts have here: a name is taken
// as it stands.
std::string linkTarget(const std::string& path) { return path; }

void refuseUnreplaceable(const std::string& path, const std::string& shownAs) {
  DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;  // nothing there (yet)
  // What the single conversion's open for writing would meet.
  if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY))
    throw IoError("cannot open: " + shownAs).withReason(systemMessage(ERROR_ACCESS_DENIED));
}

void refuseHeld(const std::string& path, const std::string& shownAs) {
  // Opened as a rename over it would open it: for deletion, sharing
  // everything, so that only a holder that shares no deletion refuses.
  HANDLE h = ::CreateFileW(widePath(path).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h != INVALID_HANDLE_VALUE) {
    ::CloseHandle(h);
    return;
  }
  DWORD error = ::GetLastError();
  if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return;
  throw IoError("cannot open: " + shownAs).withReason(systemMessage(error));
}

bool isReadOnly(const std::string& path) {
  DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

// The right to add a file to the folder (to add a folder, for the deepest
// one there when it is missing), asked for when opening it.
std::optional<std::string> whyNoFileIn(const std::string& folder) {
  std::string at = folder.empty() ? "." : folder;
  DWORD attributes = ::GetFileAttributesW(widePath(at).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    DWORD error = ::GetLastError();
    std::string parent = folderOf(at);
    if ((error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) || parent == at) return systemMessage(error);
    return whyNoFileIn(parent);
  }
  if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return systemMessage(ERROR_DIRECTORY);
  HANDLE h = ::CreateFileW(widePath(at).c_str(), FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (h == INVALID_HANDLE_VALUE) return systemMessage(::GetLastError());
  ::CloseHandle(h);
  return std::nullopt;
}

void prepareReplacement(const std::string& path, const std::string& temp, const std::string& shownAs) {
  refuseUnreplaceable(path, shownAs);
  DWORD attributes = ::GetFileAttributesW(widePath(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return;
  DWORD keep = attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                             FILE_ATTRIBUTE_NOT_CONTENT_INDEXED);
  ::SetFileAttributesW(widePath(temp).c_str(), keep ? keep : FILE_ATTRIBUTE_NORMAL);
}

// The system takes ".." by name, before the path reaches any link: taken out
// here as the system does (absolute does it as GetFullPathNameW).
std::string comparablePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(std::filesystem::path(widen(path)), ec);
  if (ec) return path;
  std::wstring normal = absolute.lexically_normal().wstring();
  while (normal.size() > 3 && (normal.back() == L'\\' || normal.back() == L'/')) normal.pop_back();
  // Names differ in letter case alone only where the system ignores it: in
  // its own upper case.
  ::CharUpperBuffW(normal.data(), static_cast<DWORD>(normal.size()));
  return narrow(normal);
}

std::string nameKey(const std::string& name) {
  std::wstring wide = widen(name);
  ::CharUpperBuffW(wide.data(), static_cast<DWORD>(wide.size()));
  return narrow(wide);
}

bool isPathSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace tlq
