// Many recordings converted at once: one per worker, a large one on several
// threads while workers are idle, each table written whole or not at all
// where its plan (table_plan.h) puts it.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/find_recordings.h"
#include "batch/table_plan.h"
#include "convert/convert.h"
#include "platform/folders.h"

namespace tlq {

struct BatchSettings {
  char listSeparator = ',';
  char decimalSeparator = '.';
  uint64_t splitRows = 0;  // data lines per part of a table; 0: not split
  unsigned threads = 1;    // the threads the batch converts on, in all
  bool update = false;     // a table newer than its recording is kept as it is
  bool workbooks = false;  // tables are workbooks (item.table names them), never split
  bool deleteStaleParts = false;  // stale parts are removed where that is safe, not only listed
  std::optional<int64_t> intervalNanoseconds = std::nullopt;  // --interval: gaps measured against it
  bool checkOnly = false;  // --check: each recording read and measured, no table written
  const TimeWindow* window = nullptr;  // only the lines in it, when it is active
  bool salvage = false;  // --salvage: a recording whose text broke is converted up to the fault
};

struct BatchResult {
  enum class State : uint8_t { waiting, converted, failed, cancelled, upToDate };
  State state = State::waiting;
  uint64_t lines = 0;    // data lines of the table written
  uint64_t dropped = 0;  // entries left out for a failed CRC
  uint64_t outside = 0;  // lines left out by the window
  double seconds = 0;    // spent on it
  std::vector<std::string> tables;  // the files written (kept, when up to date), in order
  std::vector<StalePart> stale;     // files named as parts beyond them
  std::vector<std::string> swept;   // files that stopped runs left, removed (TableFiles::swept)
  std::exception_ptr failure;       // why it failed: an Error
  std::optional<QualityFigures> quality = std::nullopt;  // of the recording read (none when up to date)
  std::optional<Salvage> salvaged = std::nullopt;         // its text broke: what came before the fault
};

// Workers per thread of the budget: a worker converts while it holds a
// thread, and lets it go while its table goes to the disk and in.
inline constexpr unsigned kWorkersPerThread = 4;

class Batch {
 public:
  Batch(std::vector<BatchItem> items, const BatchSettings& settings);
  ~Batch();

  const std::vector<BatchItem>& items() const { return plan_.items(); }
  // Final once run() has returned.
  const std::vector<BatchResult>& results() const { return results_; }

  // Converts the items in path order until all are done or `cancel` is set;
  // then the items under way stop soon (their temporary files removed) and
  // those not started stay waiting. Calls `finished(i)` for each item done,
  // on the thread that converted it (several may call at once; it must not
  // raise), and `tick` on this thread about ten times a second while the
  // batch runs. A failure on a worker lists this thread's active operations
  // before its own.
  void run(const std::atomic<bool>& cancel, const std::function<void(size_t)>& finished,
           const std::function<void()>& tick);

  // Progress, readable from any thread while the batch runs.
  uint64_t bytesTotal() const { return bytesTotal_; }
  uint64_t bytesDone() const;  // of the recordings done and under way
  size_t itemsDone() const { return itemsDone_.load(); }  // cancelled ones aside
  size_t lastStarted() const { return lastStarted_.load(); }  // the item started last
  unsigned workers() const { return workers_; }  // the most recordings under way at once

  // Where the tables go, and what is known of them before and after they
  // are written: up to date, clashes, stale parts.
  const TablePlan& plan() const { return plan_; }

 private:
  BatchResult convert(size_t i, unsigned threads, const std::atomic<bool>& cancel, std::atomic<uint64_t>& progress,
                      FinishingWork& finishing,
                      const std::function<void()>& converted);
  // --check: the recording read and measured (batch_check.cpp).
  BatchResult check(size_t i, unsigned threads, const std::atomic<bool>& cancel, std::atomic<uint64_t>& progress);
  bool folderReady(const std::string& folder);

  TablePlan plan_;
  BatchSettings settings_;
  std::vector<BatchResult> results_;
  uint64_t bytesTotal_ = 0;
  std::atomic<uint64_t> bytesFinished_{0};
  std::unique_ptr<std::atomic<uint64_t>[]> underWay_;  // per worker: bytes of its recording converted
  // Per worker, for workbooks: the recording under way (its size), and the
  // last phase of its workbook, which takes about as long as the rest.
  std::unique_ptr<std::atomic<uint64_t>[]> underWaySize_;
  std::unique_ptr<FinishingWork[]> finishing_;
  unsigned workers_ = 0;
  std::atomic<size_t> itemsDone_{0}, lastStarted_{0};
  std::mutex foldersMutex_;
  std::set<std::string> folders_;    // known to be there
  std::set<std::string> committed_;  // tables were put into them: made durable at the end
};

}  // namespace tlq
