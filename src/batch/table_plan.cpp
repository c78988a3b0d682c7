#include "batch/table_plan.h"

#include <algorithm>
#include <optional>
#include <set>

#include "batch/table_files.h"
#include "error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"

namespace tlq {

namespace {

// A name without its extension, in ASCII lower case.
std::string stemKey(const std::string& name) {
  size_t dot = name.find_last_of('.');
  std::string stem = name.substr(0, dot == 0 || dot == std::string::npos ? name.size() : dot);
  for (char& c : stem) c = asciiLower(c);
  return stem;
}

// A name as a table's part names it: "NAME_partK.csv", K from 2 written as
// tablePartPath writes it. K and the table's name ("NAME.csv"), or nothing.
std::optional<std::pair<uint64_t, std::string>> asPartName(const std::string& name) {
  static const bool caseIgnored = nameKey("a") != "a";  // as the system compares names
  auto same = [](std::string_view a, std::string_view b) { return caseIgnored ? equalIgnoringCase(a, b) : a == b; };
  if (name.size() < 4 || !same(std::string_view(name).substr(name.size() - 4), ".csv")) return std::nullopt;
  std::string_view stem = std::string_view(name).substr(0, name.size() - 4);
  size_t at = stem.size();
  while (at >= 5 && !same(stem.substr(at - 5, 5), "_part")) --at;
  if (at < 5) return std::nullopt;
  std::string digits(stem.substr(at));
  at -= 5;
  std::optional<uint64_t> k = parseCount(digits);
  if (!k || *k < 2 || std::to_string(*k) != digits) return std::nullopt;
  return std::pair(*k, name.substr(0, at) + name.substr(name.size() - 4));
}

std::string inFolder(const std::string& folder, const std::string& name) {
  return folder.empty() ? name : joinPath(folder, name);
}

// True when the file's first line is `header`, its line end included.
bool beginsWith(const std::string& path, const std::string& header) {
  try {
    MappedFile file(path);
    return file.bytes().starts_with(header);
  } catch (const Error&) {
    TraceFrame::forgetUnwound();
    return false;
  }
}

}  // namespace

// A folder's names, for what is named after a table: its parts by the
// table's name (nameKey), and every name by its stem.
struct TablePlan::FolderNames {
  bool listed = false;  // false: the folder could not be read
  std::map<std::string, std::vector<NamedPart>> parts;
  std::map<std::string, std::vector<std::string>> stems;
};

TablePlan::TablePlan(std::vector<BatchItem> items, const TableSettings& settings)
    : items_(std::move(items)), settings_(settings) {
  for (size_t i = 0; i < items_.size(); ++i) {
    recordingPlaces_.emplace(items_[i].recordingPlace, i);
    if (items_[i].problem.empty()) tablePlaces_.emplace(items_[i].tablePlace, i);
  }
}

TablePlan::~TablePlan() = default;

// A table's part other than the first that is another recording's table or
// another recording: writing it would destroy that.
void TablePlan::refuseClash(size_t i, const std::string& part) const {
  std::string place = placeKey(linkTarget(part));
  if (auto k = recordingPlaces_.find(place); k != recordingPlaces_.end() && k->second != i)
    throw IoError("cannot open: " + part + " (it is the recording " + items_[k->second].path + ")");
  if (auto k = tablePlaces_.find(place); k != tablePlaces_.end() && k->second != i)
    throw IoError("cannot open: " + part + " (it is the table of " + items_[k->second].path + ")");
}

std::shared_ptr<const TablePlan::FolderNames> TablePlan::namesIn(const std::string& folder) const {
  std::lock_guard lock(namesMutex_);
  std::shared_ptr<const FolderNames>& known = names_[folder];
  if (known) return known;
  auto names = std::make_shared<FolderNames>();
  if (std::optional<std::vector<FolderEntry>> entries = listFolder(folder.empty() ? "." : folder)) {
    names->listed = true;
    for (const FolderEntry& e : *entries) {
      names->stems[stemKey(e.name)].push_back(e.name);
      if (auto part = asPartName(e.name))
        names->parts[nameKey(part->second)].push_back({part->first, inFolder(folder, e.name), e.link});
    }
    for (auto& [table, parts] : names->parts)
      std::sort(parts.begin(), parts.end(), [](const NamedPart& a, const NamedPart& b) { return a.part < b.part; });
  }
  known = names;
  return known;
}

// The files in the table's folder named as its parts (from 2 on), in
// order, as the folder was when it was first listed. Workbooks have none.
std::vector<TablePlan::NamedPart> TablePlan::partsNamedAfter(size_t i) const {
  if (settings_.workbooks) return {};
  const std::string& table = items_[i].table;
  std::shared_ptr<const FolderNames> names = namesIn(folderOf(table));
  auto found = names->parts.find(nameKey(nameOf(table)));
  return found == names->parts.end() ? std::vector<NamedPart>() : found->second;
}

TableBasis TablePlan::basisOf(const PathInfo& recording) const {
  TableBasis basis;
  basis.recordingModified = recording.modified;
  basis.recordingSize = recording.size;
  basis.workbook = settings_.workbooks;
  if (!settings_.workbooks) {
    basis.splitRows = settings_.splitRows;
    basis.listSeparator = settings_.listSeparator;
    basis.decimalSeparator = settings_.decimalSeparator;
  }
  return basis;
}

bool TablePlan::upToDate(size_t i, std::vector<std::string>& tables) const {
  const BatchItem& item = items_[i];
  if (!settings_.update || !item.problem.empty()) return false;
  PathInfo recording = pathInfo(item.path);
  if (recording.kind != PathKind::file) return false;
  std::vector<NamedPart> named = partsNamedAfter(i);
  std::vector<std::pair<uint64_t, PathInfo>> infos;
  for (const NamedPart& part : named) infos.emplace_back(part.part, pathInfo(part.path));
  std::optional<std::vector<size_t>> proven = provenParts(pathInfo(item.table), infos, basisOf(recording));
  if (!proven) return false;
  tables = {item.table};
  for (size_t at : *proven) tables.push_back(named[at].path);
  return true;
}

// A name that a recording owns: another recording of the batch or its
// table, or the table of a file beside the recording ("NAME_part3.tlq", or
// of any other extension, for "NAME_part3.csv", in any letter case),
// converted or not. When the recording's folder cannot be read, every name
// is taken as owned.
bool TablePlan::ownedByARecording(size_t i, const std::string& part) const {
  for (const std::string& place : {placeKey(part), placeKey(linkTarget(part))})
    if (recordingPlaces_.count(place) || tablePlaces_.count(place)) return true;
  std::shared_ptr<const FolderNames> beside = namesIn(folderOf(items_[i].path));
  if (!beside->listed) return true;
  std::string name = nameOf(part);
  auto found = beside->stems.find(stemKey(name));
  return found != beside->stems.end() &&
         std::any_of(found->second.begin(), found->second.end(),
                     [&](const std::string& other) { return !equalIgnoringCase(other, name); });
}

// The stale parts as staleParts finds them. For a plan, with no header and
// no `newer`: `removed` then says that it would be removed if it begins with
// the header.
std::vector<StalePart> TablePlan::stalePartsOf(size_t i, size_t parts, const std::string* header,
                                               const PathInfo& older, const PathInfo* newer) const {
  std::vector<StalePart> stale;
  for (const NamedPart& named : partsNamedAfter(i)) {
    PathInfo info = pathInfo(named.path);
    if (named.part <= parts || info.kind != PathKind::file || ownedByARecording(i, named.path)) continue;
    StalePart part{named.path, false, ""};
    const bool link = named.link || linkTarget(named.path) != named.path;
    const bool untouched = sameCommit(info, older) || leftByCommit(info, older);
    if (settings_.deleteStaleParts) {
      if (link)
        part.kept = "it is a link";
      else if (isReadOnly(named.path))
        part.kept = "it is read-only";
      else if (header && !beginsWith(named.path, *header))
        part.kept = "its first line is not the table's header";
      else if (!untouched)
        part.kept = "it was changed, or not written with the table";
      else if (header && !removeFile(named.path))
        part.kept = lastSystemError();
      else
        part.removed = true;
    }
    if (!part.removed && untouched && !link && newer) leaveStale(named.path, *newer);
    stale.push_back(std::move(part));
  }
  return stale;
}

std::vector<StalePart> TablePlan::staleParts(size_t i, size_t parts, const std::string& header,
                                             const PathInfo& older, const PathInfo& newer) const {
  return stalePartsOf(i, parts, &header, older, &newer);
}

std::vector<StalePart> TablePlan::plannedStaleParts(size_t i) const {
  // A split table's parts are known once the recording is read.
  if (settings_.splitRows > 0 || !items_[i].problem.empty()) return {};
  return stalePartsOf(i, 1, nullptr, pathInfo(items_[i].table), nullptr);
}

std::string TablePlan::wouldOverwrite(const std::string& path) const {
  std::string target = linkTarget(path);
  std::string place = placeKey(target);
  if (auto k = recordingPlaces_.find(place); k != recordingPlaces_.end()) return items_[k->second].path;
  if (auto k = tablePlaces_.find(place); k != tablePlaces_.end()) return items_[k->second].table;
  if (settings_.workbooks) return "";
  for (const std::string& name : {path, target}) {
    auto part = asPartName(nameOf(name));
    if (!part) continue;
    std::string table = placeKey(inFolder(folderOf(name), part->second));
    Places places;
    for (const BatchItem& item : items_)
      if (item.problem.empty() && places.key(item.table) == table) return tablePartPath(item.table, part->first);
  }
  std::set<std::string> folders;
  for (const BatchItem& item : items_)
    if (item.problem.empty()) folders.insert(folderOf(item.table));
  for (const std::string& folder : folders)
    for (const auto& [table, parts] : namesIn(folder)->parts)
      for (const NamedPart& part : parts)
        if (part.link && placeKey(linkTarget(part.path)) == place) return part.path;
  return "";
}

}  // namespace tlq
