#include "platform/folders.h"

namespace tlq {

std::string folderOf(const std::string& path) {
  size_t cut = path.size();
  while (cut > 0 && !isPathSeparator(path[cut - 1])) --cut;
  if (cut == 0) return "";
  size_t end = cut - 1;
  while (end > 0 && isPathSeparator(path[end - 1])) --end;
  bool driveRoot = end == 2 && path[1] == ':' && isPathSeparator('\\');
  if (end == 0 || driveRoot) return path.substr(0, end + 1);  // the root keeps its separator
  return path.substr(0, end);
}

std::string nameOf(const std::string& path) {
  size_t cut = path.size();
  while (cut > 0 && !isPathSeparator(path[cut - 1])) --cut;
  return path.substr(cut);
}

std::string placeKey(const std::string& path) { return Places().key(path); }

std::string Places::key(const std::string& path) {
  std::string at = comparablePath(path);
  std::string folder = folderOf(at);
  if (folder.empty() || folder == at) return at;  // a root, or a path the system could not make absolute
  if (nameOf(at) == "..") return folderKey(at);   // a folder, not a place in one
  return folderKey(folder) + "/" + nameOf(at);
}

// A folder by what the system opens at its path: where a folder on the way
// is a link, a ".." after it leads to the parent of the link's target, not
// back to the folder the link is in.
std::string Places::folderKey(const std::string& folder) {
  if (auto known = folders_.find(folder); known != folders_.end()) return known->second;
  std::string key;
  PathInfo info = pathInfo(folder);
  std::string parent = folderOf(folder), name = nameOf(folder);
  if (info.kind == PathKind::folder && info.id) {
    key = std::to_string(info.id->device) + ":" + std::to_string(info.id->file);
  } else if (parent.empty() || parent == folder) {
    key = folder;  // a root that the system does not know
  } else if (name == "..") {
    // The folder before it is missing (else the system would have found
    // this one): once made, it is a folder of its own, and ".." leads back.
    std::string above = folderKey(parent);
    size_t cut = above.rfind('/');
    key = cut == std::string::npos || cut == 0 ? above + "/.." : above.substr(0, cut);
  } else {
    key = folderKey(parent) + "/" + name;
  }
  folders_.emplace(folder, key);
  return key;
}

}  // namespace tlq
