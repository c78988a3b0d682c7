// Many recordings converted at once: one per worker, a large one on several
// threads while workers are idle, each table written whole or not at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "batch/find_recordings.h"
#include "batch/table_proof.h"
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

// A file named as a part of a table beyond its last part now (left by an
// earlier split into more parts, or so named by someone else): listed, and
// removed only when asked and safe.
struct StalePart {
  std::string path;
  bool removed = false;  // with deleteStaleParts
  std::string kept;      // with deleteStaleParts: why it stayed ("it is a link", ...)
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

  const std::vector<BatchItem>& items() const { return items_; }
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

  // With `update`: the item's table is as a commit of this program put it
  // in from the recording as it is now, with this batch's options, and
  // whole (provenParts): its parts are the first and those that bear its
  // commit's time, every one of them there. Fills `tables` with them when
  // so.
  bool upToDate(size_t i, std::vector<std::string>& tables) const;

  // For a plan (--dry-run): the stale parts a table that is not split would
  // leave; `removed` where deleteStaleParts would remove it, if its first line
  // is the header (only a conversion knows that).
  std::vector<StalePart> plannedStaleParts(size_t i) const;

  // The file of this batch that `path` (through a link at its end) would
  // overwrite: a recording, a table, or a part of a table (by its name, or
  // a part that is a link to it); "" for none.
  std::string wouldOverwrite(const std::string& path) const;

 private:
  struct FolderNames;
  struct NamedPart {
    uint64_t part;
    std::string path;
    bool link;
  };

  BatchResult convert(size_t i, unsigned threads, const std::atomic<bool>& cancel, std::atomic<uint64_t>& progress,
                      FinishingWork& finishing,
                      const std::function<void()>& converted);
  // --check: the recording read and measured (batch_check.cpp).
  BatchResult check(size_t i, unsigned threads, const std::atomic<bool>& cancel, std::atomic<uint64_t>& progress);
  void refuseClash(size_t i, const std::string& part) const;
  bool folderReady(const std::string& folder);
  std::shared_ptr<const FolderNames> namesIn(const std::string& folder) const;
  std::vector<NamedPart> partsNamedAfter(size_t i) const;
  bool ownedByARecording(size_t i, const std::string& part) const;
  std::vector<StalePart> staleParts(size_t i, size_t parts, const std::string* header, const PathInfo& older,
                                    const PathInfo* newer) const;
  TableBasis basisOf(const PathInfo& recording) const;

  std::vector<BatchItem> items_;
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
  // Each folder's names, listed once when first needed.
  mutable std::mutex namesMutex_;
  mutable std::map<std::string, std::shared_ptr<const FolderNames>> names_;
  // The items' recordings and tables, by the places they name (links at
  // their ends followed), first in path order.
  std::map<std::string, size_t> recordingPlaces_, tablePlaces_;
};

}  // namespace tlq
