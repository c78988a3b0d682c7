#include "convert/batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>

#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "convert/table_files.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"

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
    changed_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  unsigned free_;
};

}  // namespace

Batch::Batch(std::vector<BatchItem> items, const BatchSettings& settings)
    : items_(std::move(items)), settings_(settings), results_(items_.size()) {
  for (const BatchItem& item : items_) bytesTotal_ += item.size;
  workers_ = static_cast<unsigned>(std::clamp<size_t>(items_.size(), 1, std::max(settings_.threads, 1u)));
  for (size_t i = 0; i < items_.size(); ++i) {
    recordingPlaces_.emplace(items_[i].recordingPlace, i);
    if (items_[i].problem.empty()) tablePlaces_.emplace(items_[i].tablePlace, i);
  }
  underWay_ = std::make_unique<std::atomic<uint64_t>[]>(workers_);
}

Batch::~Batch() = default;

uint64_t Batch::bytesDone() const {
  uint64_t done = bytesFinished_.load(std::memory_order_relaxed);
  for (unsigned w = 0; w < workers_; ++w) done += underWay_[w].load(std::memory_order_relaxed);
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
      unsigned threads = 1;
      if (items_[i].size >= kParallelFrom) threads += budget.takeUpTo(settings_.threads - 1);
      lastStarted_.store(i);
      results_[i] = convert(i, threads, cancel, underWay_[w]);
      budget.give(threads);
      bytesFinished_ += items_[i].size;
      underWay_[w].store(0);
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

bool Batch::upToDate(size_t i, std::vector<std::string>& tables) const {
  const BatchItem& item = items_[i];
  if (!settings_.update || !item.problem.empty()) return false;
  PathInfo recording = pathInfo(item.path);
  if (recording.kind != PathKind::file) return false;
  std::vector<std::string> found;
  for (uint64_t k = 1;; ++k) {
    std::string part = tablePartPath(item.table, k);
    PathInfo info = pathInfo(part);
    if (info.kind != PathKind::file) break;
    if (info.modified < recording.modified) return false;
    found.push_back(part);
    if (settings_.splitRows == 0) break;
  }
  if (found.empty()) return false;
  // A part missing between others: the table is not whole.
  if (settings_.splitRows > 0 && pathInfo(tablePartPath(item.table, found.size() + 2)).kind != PathKind::missing)
    return false;
  tables = std::move(found);
  return true;
}

// A name that a recording owns: another recording of the batch or its
// table, or the table of a recording beside this one ("NAME_part3.tlq" for
// "NAME_part3.csv", in any letter case), converted or not.
bool Batch::ownedByARecording(size_t i, const std::string& part) const {
  std::string place = placeKey(part);
  if (recordingPlaces_.count(place) || tablePlaces_.count(place)) return true;
  std::string name = nameOf(part);
  std::string recording = name.substr(0, name.size() - 4) + ".tlq";
  std::string folder = folderOf(items_[i].path);
  std::optional<std::vector<FolderEntry>> entries = listFolder(folder.empty() ? "." : folder);
  if (!entries) return true;  // cannot tell: kept
  return std::any_of(entries->begin(), entries->end(),
                     [&](const FolderEntry& e) { return equalIgnoringCase(e.name, recording); });
}

// Parts beyond the last one written that an earlier run left (it split the
// table into more parts): removed, unless a recording owns the name. Links
// are left as they are.
std::vector<std::string> Batch::removeOlderParts(size_t i, size_t parts) const {
  std::vector<std::string> removed;
  for (uint64_t k = parts + 1;; ++k) {
    std::string part = tablePartPath(items_[i].table, k);
    if (pathInfo(part).kind != PathKind::file) break;
    if (linkTarget(part) != part || ownedByARecording(i, part)) continue;
    if (removeFile(part)) removed.push_back(part);
  }
  return removed;
}

BatchResult Batch::convert(size_t i, unsigned threads, const std::atomic<bool>& cancel,
                           std::atomic<uint64_t>& progress) {
  const BatchItem& item = items_[i];
  const auto start = std::chrono::steady_clock::now();
  BatchResult result;
  try {
    TLQ_OP("convertRecording");
    if (!item.problem.empty()) throw IoError(item.problem).withReason(item.reason);
    if (upToDate(i, result.tables)) {
      result.state = BatchResult::State::upToDate;
      return result;
    }
    ConversionControl control{threads, &cancel, &progress, true};
    RecordingTable table = TLQ_AT(RecordingTable(item.path, control));
    CsvFormat format = newCsvFormat(table.columns(), settings_.listSeparator, settings_.decimalSeparator);
    if (!folderReady(folderOf(item.table))) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + item.table).withReason(reason);
    }
    std::string header = settings_.workbooks ? "" : makeHeader(format) + "\r\n";
    TableFiles files = TLQ_AT(TableFiles(item.table, header, settings_.workbooks ? 0 : settings_.splitRows));
    if (settings_.workbooks) {
      WorkbookCounts counts = TLQ_AT(writeWorkbook(item.path, table, control, files));
      result.lines = counts.lines;
      result.dropped = counts.dropped;
    } else {
      auto take = [&](LineBlock& lines) {
        files.put(lines);
        result.lines += lines.ends.size();
        result.dropped += lines.dropped;
      };
      TLQ_AT(table.convert(format, control, take));
      TLQ_AT(files.finish());
    }
    for (size_t part = 0; part < files.parts().size(); ++part) {
      TLQ_AT(refuseToOverwrite(table.recording(), files.parts()[part]));
      if (part > 0) refuseClash(i, files.parts()[part]);
    }
    TLQ_AT(files.commit());
    result.tables = files.parts();
    result.removed = removeOlderParts(i, files.parts().size());
    result.state = BatchResult::State::converted;
  } catch (const ConversionCancelled&) {
    result = BatchResult();
    result.state = BatchResult::State::cancelled;
  } catch (const Error&) {
    result.state = BatchResult::State::failed;
    result.failure = std::current_exception();
  } catch (const std::exception& e) {
    result.state = BatchResult::State::failed;
    result.failure = std::make_exception_ptr(libraryFailure(e));
  }
  TraceFrame::forgetUnwound();  // handled: the next recording starts afresh
  result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  return result;
}

}  // namespace tlq
