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

std::string placeKey(const std::string& path) {
  std::string at = comparablePath(path);
  std::string below;
  for (;;) {
    std::string folder = folderOf(at);
    std::string name = nameOf(at);
    below = below.empty() ? name : name + "/" + below;
    if (folder.empty() || folder == at) return at + "/" + below;
    PathInfo info = pathInfo(folder);
    if (info.kind == PathKind::folder && info.id)
      return std::to_string(info.id->device) + ":" + std::to_string(info.id->file) + "/" + below;
    if (folderOf(folder) == folder) return folder + below;  // a root that the system does not know
    at = folder;
  }
}

}  // namespace tlq
