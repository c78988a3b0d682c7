#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "platform/folders.h"

namespace tlq {

namespace {

PathKind kindOf(const struct stat& st) {
  if (S_ISREG(st.st_mode)) return PathKind::file;
  if (S_ISDIR(st.st_mode)) return PathKind::folder;
  return PathKind::other;
}

}  // namespace

PathInfo pathInfo(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  PathInfo info;
  info.kind = kindOf(st);
  info.size = info.kind == PathKind::file ? static_cast<uint64_t>(st.st_size) : 0;
  info.id = FileId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return info;
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

bool renameReplacing(const std::string& from, const std::string& to) { return ::rename(from.c_str(), to.c_str()) == 0; }

std::string comparablePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::string normal = absolute.lexically_normal().string();
  while (normal.size() > 1 && normal.back() == '/') normal.pop_back();
  return normal;
}

bool isPathSeparator(char c) { return c == '/'; }

}  // namespace tlq
