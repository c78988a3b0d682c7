#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fcntl.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"

namespace tlq {

namespace {

PathKind kindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return PathKind::file;
  if (S_ISDIR(st.st_mode)) return PathKind::folder;
  return PathKind::other;
}

}  // namespace

int64_t unixNanoseconds(int64_t modified) { return modified; }

int64_t ticksOfSeconds(int64_t seconds) { return seconds * 1000000000; }

bool setModified(const std::string& path, int64_t modified) {
  struct timespec times[2] = {{0, UTIME_OMIT}, {modified / 1000000000, modified % 1000000000}};
  if (times[1].tv_nsec < 0) {
    times[1].tv_sec -= 1;
    times[1].tv_nsec += 1000000000;
  }
  return ::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0;
}

PathInfo pathInfo(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  PathInfo info;
  info.kind = kindOf(st);
  info.size = info.kind == PathKind::file ? static_cast<uint64_t>(st.st_size) : 0;
  info.id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  info.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return info;
}

std::string linkTarget(const std::string& path) {
  std::string at = path;
  for (int hops = 0; hops < 40; ++hops) {  // as many as the system follows
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return at;
    std::string target(4096, '\0');
    ssize_t n = ::readlink(at.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<size_t>(n) >= target.size()) return at;
    target.resize(static_cast<size_t>(n));
    at = target[0] == '/' ? target : joinPath(folderOf(at).empty() ? "." : folderOf(at), target);
  }
  return at;
}

void refuseUnreplaceable(const std::string& path, const std::string& shownAs) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return;  // nothing there (yet)
  if (!S_ISREG(st.st_mode))
    throw IoError("cannot open: " + shownAs)
        .withReason(S_ISDIR(st.st_mode) ? std::generic_category().message(EISDIR) : "not a regular file");
  // What an open for writing would meet; and a file with no write
  // permission at all, which root could open, but which is read-only by its
  // mode (as isReadOnly says, for stale parts too).
  if (::access(path.c_str(), W_OK) != 0) {
    std::string reason = lastSystemError();
    throw IoError("cannot open: " + shownAs).withReason(reason);
  }
  if ((st.st_mode & 0222) == 0)
    throw IoError("cannot open: " + shownAs).withReason(std::generic_category().message(EACCES));
}

void prepareReplacement(const std::string& path, const std::string& temp, const std::string& shownAs) {
  refuseUnreplaceable(path, shownAs);
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) ::chmod(temp.c_str(), st.st_mode & 0777);
}

// A file open elsewhere is renamed over as any other.
void refuseHeld(const std::string&, const std::string&) {}

bool isReadOnly(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && ((st.st_mode & 0222) == 0 || ::access(path.c_str(), W_OK) != 0);
}

std::optional<std::string> whyNoFileIn(const std::string& folder) {
  std::string at = folder.empty() ? "." : folder;
  struct stat st {};
  if (::stat(at.c_str(), &st) == 0) {
    if (!S_ISDIR(st.st_mode)) return std::generic_category().message(ENOTDIR);
    if (::access(at.c_str(), W_OK | X_OK) != 0) return lastSystemError();
    return std::nullopt;
  }
  if (errno != ENOENT) return lastSystemError();
  std::string parent = folderOf(at);
  return parent == at ? lastSystemError() : whyNoFileIn(parent);  // made from the deepest that is there
}

void syncFolder(const std::string& folder) {
  int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);  // some file systems take no sync of a folder: then there is nothing more to do
  ::close(fd);
}

std::optional<std::vector<FolderEntry>> listFolder(const std::string& path) {
  DIR* dir = ::opendir(path.c_str());
  if (!dir) return std::nullopt;
  std::vector<FolderEntry> entries;
  std::string prefix = path.empty() || path.back() == '/' ? path : path + "/";
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    std::string name = e->d_name;
    if (name == "." || name == "..") continue;
    FolderEntry entry{name, PathKind::missing, false};
    std::string full = prefix + name;
    struct stat st {};
    if (e->d_type == DT_UNKNOWN || e->d_type == DT_LNK) {
      if (::lstat(full.c_str(), &st) == 0) entry.link = S_ISLNK(st.st_mode);
    }
    if (e->d_type == DT_REG && !entry.link) {
      entry.kind = PathKind::file;
    } else if (e->d_type == DT_DIR && !entry.link) {
      entry.kind = PathKind::folder;
    } else if (::stat(full.c_str(), &st) == 0) {
      entry.kind = kindOf(st);
    }
    entries.push_back(std::move(entry));
    errno = 0;
  }
  bool ok = errno == 0;
  ::closedir(dir);
  if (!ok) return std::nullopt;
  return entries;
}

bool makeFolders(const std::string& path) {
  if (path.empty() || ::mkdir(path.c_str(), 0777) == 0) return true;
  if (errno == EEXIST) return pathInfo(path).kind == PathKind::folder;
  if (errno != ENOENT) return false;
  std::string parent = folderOf(path);
  return !parent.empty() && parent != path && makeFolders(parent) &&
         (::mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && pathInfo(path).kind == PathKind::folder));
}

bool removeEmptyFolder(const std::string& path) { return ::rmdir(path.c_str()) == 0; }

bool renameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

bool renameFresh(const std::string& from, const std::string& to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that cannot rename without replacing: a second name, then
  // the first one gone.
  if (::link(from.c_str(), to.c_str()) != 0) return false;
  ::unlink(from.c_str());
  return true;
}

// The ".." steps stay: the system takes each from where the path before it
// leads, which is the parent of a link's target, not the folder the link is
// in (Places resolves them by the folders' identities).
std::string comparablePath(const std::string& path) {
  if (path.empty()) return path;
  std::string absolute = path;
  if (path[0] != '/') {
    std::error_code ec;
    std::filesystem::path working = std::filesystem::current_path(ec);
    if (ec) return path;
    absolute = working.string() + "/" + path;
  }
  std::string steps;
  for (size_t at = 0; at < absolute.size();) {
    size_t end = absolute.find('/', at);
    if (end == std::string::npos) end = absolute.size();
    std::string_view step(absolute.data() + at, end - at);
    if (!step.empty() && step != ".") (steps += '/') += step;
    at = end + 1;
  }
  return steps.empty() ? "/" : steps;
}

std::string nameKey(const std::string& name) { return name; }

bool isPathSeparator(char c) { return c == '/'; }

}  // namespace tlq
