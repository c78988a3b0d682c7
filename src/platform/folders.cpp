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

}  // namespace tlq
