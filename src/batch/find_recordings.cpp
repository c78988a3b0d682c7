#include "batch/find_recordings.h"

#include <algorithm>
#include <map>
#include <set>

#include "batch/sweep.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"

namespace tlq {

namespace {

bool endsWithTlq(std::string_view name) {
  if (name.size() < 4) return false;
  std::string_view end = name.substr(name.size() - 4);
  return end[0] == '.' && asciiLower(end[1]) == 't' && asciiLower(end[2]) == 'l' && asciiLower(end[3]) == 'q';
}

std::string joined(const std::string& folder, const std::string& name) {
  if (folder.empty() || name.empty()) return folder + name;
  return joinPath(folder, name);
}

class Finder {
 public:
  explicit Finder(const FindOptions& options) : options_(options) {}

  // A PATH or a match of a pattern; `below` is where its table goes below
  // the out folder (for a folder, where the tables of its recordings go).
  void root(const std::string& path, const std::string& below) {
    PathInfo info = pathInfo(path);
    if (info.kind == PathKind::folder)
      walk(path, below);
    else
      add(path, folderOf(below), info);
  }

  // Matches of a pattern, by the folders and names its components match; true
  // when there was one.
  bool expand(const std::string& pattern) {
    size_t cut = pattern.find_first_of("*?");
    while (cut > 0 && !isPathSeparator(pattern[cut - 1])) --cut;
    std::vector<std::string> components;
    for (size_t at = cut; at < pattern.size();) {
      size_t end = at;
      while (end < pattern.size() && !isPathSeparator(pattern[end])) ++end;
      if (end > at) components.push_back(pattern.substr(at, end - at));
      at = end + 1;
    }
    size_t before = found_.size();
    step(pattern.substr(0, cut), "", components, 0);
    return found_.size() > before;
  }

  // True once the cancel has cut the search short.
  bool stopped() const { return stopped_; }

  std::vector<BatchItem> items() {
    std::stable_sort(found_.begin(), found_.end(),
                     [](const BatchItem& a, const BatchItem& b) { return pathOrder(a.path, b.path); });
    // A table that an earlier recording writes too, or that is another
    // recording, would be overwritten: that recording fails instead.
    std::map<std::string, size_t> recordings, tables;
    for (size_t i = 0; i < found_.size(); ++i) {
      found_[i].recordingPlace = places_.key(linkTarget(found_[i].path));
      recordings.emplace(found_[i].recordingPlace, i);
    }
    for (size_t i = 0; i < found_.size(); ++i) {
      BatchItem& item = found_[i];
      if (!item.problem.empty()) continue;
      item.tablePlace = places_.key(linkTarget(item.table));
      auto recording = recordings.find(item.tablePlace);
      auto [earlier, first] = tables.emplace(item.tablePlace, i);
      if (recording != recordings.end() && recording->second != i)
        item.problem = "cannot open: " + item.table + " (it is the recording " + found_[recording->second].path + ")";
      else if (!first)
        item.problem = "cannot open: " + item.table + " (it is the table of " + found_[earlier->second].path + " too)";
    }
    return std::move(found_);
  }

 private:
  void step(const std::string& at, const std::string& below, const std::vector<std::string>& components, size_t i) {
    if (i == components.size()) return root(at, below);
    const std::string& component = components[i];
    bool last = i + 1 == components.size();
    if (component.find_first_of("*?") == std::string::npos) {
      std::string next = joined(at, component);
      PathKind kind = pathInfo(next).kind;
      if (kind == PathKind::folder || (last && kind != PathKind::missing))
        step(next, joined(below, component), components, i + 1);
      return;
    }
    if (options_.cancel && options_.cancel->load()) {
      stopped_ = true;
      return;
    }
    std::optional<std::vector<FolderEntry>> entries = listFolder(at.empty() ? "." : at);
    if (!entries) return;
    std::vector<std::string> names;
    // Folders lead on; of the files the last component matches, recordings
    // are taken, as in a folder.
    for (const FolderEntry& e : *entries)
      if ((e.kind == PathKind::folder || (last && endsWithTlq(e.name))) &&
          wildcardMatch(component, e.name, options_.expandWildcards))
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) step(joined(at, name), joined(below, name), components, i + 1);
  }

  void walk(const std::string& folder, const std::string& below) {
    if (options_.cancel && options_.cancel->load()) {
      stopped_ = true;
      return;
    }
    std::optional<std::vector<FolderEntry>> entries = listFolder(folder);
    if (!entries) {
      BatchItem failed;
      failed.path = folder;
      failed.problem = "cannot open: " + folder;
      failed.reason = lastSystemError();
      found_.push_back(std::move(failed));
      return;
    }
    noteListing(folder, *entries);  // what stopped runs left there, for the sweep
    for (const FolderEntry& e : *entries) {
      std::string path = joinPath(folder, e.name);
      if (e.kind == PathKind::folder) {
        if (!e.link) walk(path, joined(below, e.name));
      } else if (endsWithTlq(e.name)) {
        add(path, below, pathInfo(path));
      }
    }
  }

  void add(const std::string& path, const std::string& below, const PathInfo& info) {
    // The same name reached again (another spelling, a link to a folder).
    if (!reached_.insert(places_.key(path)).second) return;
    BatchItem item;
    item.path = path;
    item.table = options_.outDir.empty()
                     ? tablePathFor(path, options_.extension)
                     : joinPath(joined(options_.outDir, below), tablePathFor(nameOf(path), options_.extension));
    item.size = info.size;
    item.relative = joined(below, nameOf(path));
    found_.push_back(std::move(item));
  }

  const FindOptions& options_;
  std::vector<BatchItem> found_;
  Places places_;
  std::set<std::string> reached_;  // the places of the recordings found
  bool stopped_ = false;
};

}  // namespace

std::vector<BatchItem> findRecordings(const std::vector<std::string>& paths, const FindOptions& options) {
  Finder finder(options);
  for (const std::string& path : paths) {
    if (finder.stopped() || (options.cancel && options.cancel->load())) {
      if (options.cutShort) options.cutShort->push_back(path);
      continue;
    }
    bool pattern = options.expandWildcards && path.find_first_of("*?") != std::string::npos;
    if (!pattern || (!finder.expand(path) && !finder.stopped())) finder.root(path, "");
    if (finder.stopped() && options.cutShort) options.cutShort->push_back(path);
  }
  return finder.items();
}

bool wildcardMatch(std::string_view pattern, std::string_view name, bool ignoreCase) {
  auto same = [ignoreCase](char a, char b) { return ignoreCase ? asciiLower(a) == asciiLower(b) : a == b; };
  // '?' stands for one character: a lead byte and its continuation bytes.
  auto next = [](std::string_view s, size_t i) {
    do ++i;
    while (i < s.size() && (static_cast<unsigned char>(s[i]) & 0xC0) == 0x80);
    return i;
  };
  size_t p = 0, n = 0, starP = std::string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      starP = p++;
      starN = n;
    } else if (p < pattern.size() && pattern[p] == '?') {
      ++p;
      n = next(name, n);
    } else if (p < pattern.size() && same(pattern[p], name[n])) {
      ++p;
      ++n;
    } else if (starP != std::string_view::npos) {
      p = starP + 1;
      n = starN = next(name, starN);
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool equalIgnoringCase(std::string_view a, std::string_view b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

bool pathOrder(const std::string& a, const std::string& b) {
  // A separator sorts before every other character: component by component.
  auto key = [](char c) { return isPathSeparator(c) ? -1 : static_cast<int>(static_cast<unsigned char>(c)); };
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                      [&](char x, char y) { return key(x) < key(y); });
}

}  // namespace tlq
