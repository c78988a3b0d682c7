#include "batch/batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include "batch/sweep.h"
#include "batch/table_files.h"
#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "text.h"

namespace tlq {

namespace {

// Threads handed out to the workers: each holds one while it converts, and
// a large recording borrows those that are free.
class ThreadBudget {
 public:
  explicit ThreadBudget(unsigned threads) : free_(threads) {}

  void takeOne() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return free_ > 0; });
    --free_;
  }
  unsigned takeUpTo(unsigned n) {
    std::lock_guard lock(mutex_);
    unsigned k = std::min(n, free_);
    free_ -= k;
    return k;
  }
  void give(unsigned n) {
    {
      std::lock_guard lock(mutex_);
      free_ += n;
    }
    for (unsigned k = 0; k < n; ++k) changed_.notify_one();  // a thread each, no more woken in vain
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned free_;
};

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

// The same file, as it was: the path names it, with its size and time of
// last change.
bool sameFile(const PathInfo& now, const PathInfo& then) {
  return now.kind == then.kind && now.id == then.id && now.size == then.size && now.modified == then.modified;
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
struct Batch::FolderNames {
  bool listed = false;  // false: the folder could not be read
  std::map<std::string, std::vector<NamedPart>> parts;
  std::map<std::string, std::vector<std::string>> stems;
};

Batch::Batch(std::vector<BatchItem> items, const BatchSettings& settings)
    : items_(std::move(items)), settings_(settings), results_(items_.size()) {
  for (const BatchItem& item : items_) bytesTotal_ += item.size;
  // More workers than threads: those whose tables are on their way to the
  // disk (which takes a system a millisecond or more for each) hold none.
  workers_ = static_cast<unsigned>(
      std::clamp<size_t>(items_.size(), 1, kWorkersPerThread * std::max(settings_.threads, 1u)));
  for (size_t i = 0; i < items_.size(); ++i) {
    recordingPlaces_.emplace(items_[i].recordingPlace, i);
    if (items_[i].problem.empty()) tablePlaces_.emplace(items_[i].tablePlace, i);
  }
  underWay_ = std::make_unique<std::atomic<uint64_t>[]>(workers_);
  underWaySize_ = std::make_unique<std::atomic<uint64_t>[]>(workers_);
  finishing_ = std::make_unique<FinishingWork[]>(workers_);
}

Batch::~Batch() = default;

uint64_t Batch::bytesDone() const {
  uint64_t done = bytesFinished_.load(std::memory_order_relaxed);
  for (unsigned w = 0; w < workers_; ++w) {
    uint64_t decoded = underWay_[w].load(std::memory_order_relaxed);
    if (!settings_.workbooks) {
      done += decoded;
      continue;
    }
    // A workbook's rows are half its work; the library's compression of
    // them into the file, measured by the file's size, the other half.
    uint64_t size = underWaySize_[w].load(std::memory_order_relaxed);
    FinishingWork::State last = finishing_[w].state();
    if (!last.started) {
      done += std::min(decoded, size) / 2;
      continue;
    }
    double written = static_cast<double>(pathInfo(last.file).size) / static_cast<double>(std::max<uint64_t>(last.expectedBytes, 1));
    done += size / 2 + static_cast<uint64_t>(static_cast<double>(size / 2) * std::min(written, 0.99));
  }
  return std::min(done, bytesTotal_);
}

void Batch::run(const std::atomic<bool>& cancel, const std::function<void(size_t)>& finished,
                const std::function<void()>& tick) {
  ThreadBudget budget(std::max(settings_.threads, 1u));
  std::atomic<size_t> next{0};
  std::mutex mutex;
  std::condition_variable ended;
  unsigned running = workers_;
  const TraceFrame* caller = TraceFrame::top();

  auto worker = [&](unsigned w) {
    TraceFrame::Continuation trace(caller);
    for (;;) {
      size_t i = next.fetch_add(1);
      if (i >= items_.size() || cancel.load()) break;
      budget.takeOne();
      if (cancel.load()) {  // stopped while it waited for a thread
        budget.give(1);
        break;
      }
      unsigned threads = 1;
      if (items_[i].size >= kParallelFrom) threads += budget.takeUpTo(settings_.threads - 1);
      lastStarted_.store(i);
      underWaySize_[w].store(items_[i].size);
      bool given = false;
      results_[i] = convert(i, threads, cancel, underWay_[w], finishing_[w], [&] {
        budget.give(threads);
        given = true;
      });
      if (!given) budget.give(threads);
      bytesFinished_ += items_[i].size;
      underWay_[w].store(0);
      finishing_[w].clear();
      if (results_[i].state != BatchResult::State::cancelled) ++itemsDone_;
      finished(i);
    }
    std::lock_guard lock(mutex);
    if (--running == 0) ended.notify_all();
  };

  std::vector<std::thread> threads;
  threads.reserve(workers_);
  try {
    for (unsigned w = 0; w < workers_; ++w) threads.emplace_back(worker, w);
  } catch (...) {  // no more threads to be had: those started do the work
    std::lock_guard lock(mutex);
    running -= workers_ - static_cast<unsigned>(threads.size());
    if (threads.empty()) throw;
  }
  for (bool more = true; more;) {
    tick();
    std::unique_lock lock(mutex);
    more = !ended.wait_for(lock, std::chrono::milliseconds(100), [&] { return running == 0; });
  }
  tick();
  for (std::thread& t : threads) t.join();
  // The names of the tables put in, durable once for each folder (their
  // contents were made durable before they went in).
  for (const std::string& folder : committed_) syncFolder(folder);
}

// Makes the folder when it is missing; each folder is looked at once.
bool Batch::folderReady(const std::string& folder) {
  {
    std::lock_guard lock(foldersMutex_);
    if (folders_.count(folder)) return true;
  }
  if (!makeFolders(folder)) return false;
  std::lock_guard lock(foldersMutex_);
  folders_.insert(folder);
  return true;
}

// A table's part other than the first that is another recording's table or
// another recording: writing it would destroy that.
void Batch::refuseClash(size_t i, const std::string& part) const {
  std::string place = placeKey(linkTarget(part));
  if (auto k = recordingPlaces_.find(place); k != recordingPlaces_.end() && k->second != i)
    throw IoError("cannot open: " + part + " (it is the recording " + items_[k->second].path + ")");
  if (auto k = tablePlaces_.find(place); k != tablePlaces_.end() && k->second != i)
    throw IoError("cannot open: " + part + " (it is the table of " + items_[k->second].path + ")");
}

std::shared_ptr<const Batch::FolderNames> Batch::namesIn(const std::string& folder) const {
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
std::vector<Batch::NamedPart> Batch::partsNamedAfter(size_t i) const {
  if (settings_.workbooks) return {};
  const std::string& table = items_[i].table;
  std::shared_ptr<const FolderNames> names = namesIn(folderOf(table));
  auto found = names->parts.find(nameKey(nameOf(table)));
  return found == names->parts.end() ? std::vector<NamedPart>() : found->second;
}

TableBasis Batch::basisOf(const PathInfo& recording) const {
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

bool Batch::upToDate(size_t i, std::vector<std::string>& tables) const {
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
bool Batch::ownedByARecording(size_t i, const std::string& part) const {
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

// The files named as parts of the table beyond its last one, `parts`: each
// listed, and with deleteStaleParts removed, unless it is a link, read-only,
// does not begin with the table's `header`, or is not this program's
// untouched file: a part of the table's commit that this one replaced
// (`older`, its first part before the commit), or one that commit left
// (sameCommit, leftByCommit). Called under the table's lock, right after
// its commit, whose first part is `newer`: an untouched part that stays is
// marked as left by it. For a plan, with no header and no `newer`: `removed`
// then says that it would be removed if it begins with the header.
std::vector<StalePart> Batch::staleParts(size_t i, size_t parts, const std::string* header, const PathInfo& older,
                                         const PathInfo* newer) const {
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

std::vector<StalePart> Batch::plannedStaleParts(size_t i) const {
  // A split table's parts are known once the recording is read.
  if (settings_.splitRows > 0 || !items_[i].problem.empty()) return {};
  return staleParts(i, 1, nullptr, pathInfo(items_[i].table), nullptr);
}

std::string Batch::wouldOverwrite(const std::string& path) const {
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

BatchResult Batch::convert(size_t i, unsigned threads, const std::atomic<bool>& cancel,
                           std::atomic<uint64_t>& progress, FinishingWork& finishing,
                           const std::function<void()>& converted) {
  if (settings_.checkOnly) return check(i, threads, cancel, progress);
  const BatchItem& item = items_[i];
  const auto start = std::chrono::steady_clock::now();
  BatchResult result;
  try {
    TLQ_OP("convertRecording");
    if (!item.problem.empty()) throw IoError(item.problem).withReason(item.reason);
    if (upToDate(i, result.tables)) {
      result.state = BatchResult::State::upToDate;
      // Whole, but a run stopped just before it removed the older parts it
      // had moved aside may have left them.
      if (asidesLeftIn(folderOf(linkTarget(result.tables.front())))) {
        TableLock lock = TLQ_AT(TableLock(item.table));
        std::vector<std::string> targets;
        for (const std::string& part : result.tables) targets.push_back(linkTarget(part));
        result.swept = sweepAsides(targets);
      }
      return result;
    }
    ConversionControl control{threads, &cancel, &progress, true};
    control.finishing = &finishing;
    control.intervalNanoseconds = settings_.intervalNanoseconds;
    control.window = settings_.window;
    control.salvage = settings_.salvage;
    std::optional<RecordingTable> table;
    TLQ_AT(table.emplace(item.path, control));
    result.salvaged = table->recording().salvaged();
    TLQ_AT(requireReplaceable(item.table));  // at once, not after the work
    CsvFormat format = newCsvFormat(table->columns(), settings_.listSeparator, settings_.decimalSeparator);
    if (!folderReady(folderOf(item.table))) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + item.table).withReason(reason);
    }
    std::string header = settings_.workbooks ? "" : makeHeader(format) + "\r\n";
    TableFiles files = TLQ_AT(TableFiles(item.table, header, settings_.workbooks ? 0 : settings_.splitRows));
    if (settings_.workbooks) {
      WorkbookCounts counts = TLQ_AT(writeWorkbook(item.path, *table, control, files));
      result.lines = counts.lines;
      result.dropped = counts.dropped;
      result.quality = std::move(counts.quality);
      result.outside = counts.outside;
    } else {
      auto take = [&](LineBlock& lines) {
        files.put(lines);
        result.lines += lines.ends.size();
        result.dropped += lines.dropped;
        result.outside += lines.outside;
      };
      TLQ_AT(table->convert(format, control, take));
      TLQ_AT(files.finish());
      result.quality = table->quality().figures(control.intervalNanoseconds);
    }
    for (size_t part = 0; part < files.parts().size(); ++part) {
      TLQ_AT(refuseToOverwrite(table->recording(), files.parts()[part]));
      if (part > 0) refuseClash(i, files.parts()[part]);
    }
    // The recording read and let go; its threads go to others while the
    // files reach the disk.
    TLQ_AT(table->recording().requireUnreplaced());
    const PathInfo read = pathInfo(item.path);
    table.reset();
    converted();
    if (cancel.load()) throw ConversionCancelled();  // a stop waits for no disk
    TLQ_AT(files.makeDurable());
    if (cancel.load()) throw ConversionCancelled();
    {
      // No other run puts files of this folder's tables in meanwhile: the
      // parts that go in are one run's, and those beyond them are known.
      TableLock lock = TLQ_AT(TableLock(item.table));
      if (!sameFile(pathInfo(item.path), read)) throw recordingChanged(item.path);
      const PathInfo older = pathInfo(item.table);
      TLQ_AT(files.commitLocked());
      result.swept = files.swept();
      // The parts made one table by their time: one that cannot be set
      // leaves a table that proves nothing, which the next --update
      // converts again.
      // A window's table is not the recording's whole table: it proves
      // nothing, and a later --update converts it again.
      // Nor is a salvaged recording's.
      if ((!settings_.window || !settings_.window->active()) && !result.salvaged)
        stampCommit(files.parts(), basisOf(read));
      const PathInfo newer = pathInfo(item.table);
      if (!settings_.workbooks) result.stale = staleParts(i, files.parts().size(), &header, older, &newer);
    }
    {
      std::lock_guard lock(foldersMutex_);
      for (const std::string& folder : files.folders()) committed_.insert(folder);
    }
    result.tables = files.parts();
    result.state = BatchResult::State::converted;
  } catch (const ConversionCancelled&) {
    result = BatchResult();
    result.state = BatchResult::State::cancelled;
  } catch (...) {
    result.state = BatchResult::State::failed;
    result.failure = handledFailure();
  }
  TraceFrame::forgetUnwound();  // handled: the next recording starts afresh
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace tlq
