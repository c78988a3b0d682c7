#include "batch/batch.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
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

// The same file, as it was: the path names it, with its size and time of
// last change.
bool sameFile(const PathInfo& now, const PathInfo& then) {
  return now.kind == then.kind && now.id == then.id && now.size == then.size && now.modified == then.modified;
}

// What of the batch's settings decides its tables.
TableSettings tableSettings(const BatchSettings& s) {
  return {s.listSeparator, s.decimalSeparator, s.splitRows, s.update, s.workbooks, s.deleteStaleParts};
}

}  // namespace

Batch::Batch(std::vector<BatchItem> items, const BatchSettings& settings)
    : plan_(std::move(items), tableSettings(settings)), settings_(settings), results_(plan_.items().size()) {
  for (const BatchItem& item : plan_.items()) bytesTotal_ += item.size;
  // More workers than threads: those whose tables are on their way to the
  // disk (which takes a system a millisecond or more for each) hold none.
  workers_ = static_cast<unsigned>(
      std::clamp<size_t>(plan_.items().size(), 1, kWorkersPerThread * std::max(settings_.threads, 1u)));
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
  const std::vector<BatchItem>& items = plan_.items();
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
      if (i >= items.size() || cancel.load()) break;
      budget.takeOne();
      if (cancel.load()) {  // stopped while it waited for a thread
        budget.give(1);
        break;
      }
      unsigned threads = 1;
      if (items[i].size >= kParallelFrom) threads += budget.takeUpTo(settings_.threads - 1);
      lastStarted_.store(i);
      underWaySize_[w].store(items[i].size);
      bool given = false;
      results_[i] = convert(i, threads, cancel, underWay_[w], finishing_[w], [&] {
        budget.give(threads);
        given = true;
      });
      if (!given) budget.give(threads);
      bytesFinished_ += items[i].size;
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

BatchResult Batch::convert(size_t i, unsigned threads, const std::atomic<bool>& cancel,
                           std::atomic<uint64_t>& progress, FinishingWork& finishing,
                           const std::function<void()>& converted) {
  if (settings_.checkOnly) return check(i, threads, cancel, progress);
  const BatchItem& item = plan_.items()[i];
  const auto start = std::chrono::steady_clock::now();
  BatchResult result;
  try {
    TLQ_OP("convertRecording");
    if (!item.problem.empty()) throw IoError(item.problem).withReason(item.reason);
    if (plan_.upToDate(i, result.tables)) {
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
      if (part > 0) plan_.refuseClash(i, files.parts()[part]);
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
        stampCommit(files.parts(), plan_.basisOf(read));
      const PathInfo newer = pathInfo(item.table);
      if (!settings_.workbooks) result.stale = plan_.staleParts(i, files.parts().size(), header, older, newer);
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
