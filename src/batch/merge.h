// Many recordings as one table, in time order: each converted as a single
// conversion converts it, its columns mapped into the campaign's (the
// columns of a table with every sensor group any of them has), the lines an
// earlier recording wrote left out, the whole written at once or not at all.
#pragma once

#include <atomic>
#include <cstdint>
#include <exception>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "batch/find_recordings.h"
#include "batch/repeat_check.h"
#include "convert/convert.h"
#include "csv/csv.h"
#include "reader/recording.h"
#include "table/columns.h"
#include "table/date_time.h"
#include "table/quality.h"
#include "table/rows.h"
#include "table/window.h"

namespace tlq {

class TableFiles;
struct PreparedLines;
struct PreparedRecording;

struct MergeSettings {
  char listSeparator = ',';
  char decimalSeparator = '.';
  uint64_t splitRows = 0;  // data lines per part of OUT; 0: not split
  unsigned threads = 1;    // the threads the recordings are first read on
  const TimeWindow* window = nullptr;  // only its rows are written, when active
  bool workbook = false;  // OUT is a workbook: the plan learns the time stamps' zones too
  // The interval the quality's gaps are measured against (--interval);
  // else the median of each recording's.
  std::optional<int64_t> intervalNanoseconds;
  bool salvage = false;  // --salvage: a recording whose text broke gives its lines up to the fault
};

// One recording of a merge, and what became of it.
struct MergedRecording {
  enum class State : uint8_t { waiting, planned, merged, failed, cancelled };
  BatchItem item;
  std::string name;  // its field "recording": its path below its PATH, with "/" between folders
  bool inclino2 = false, elasto = false;  // its sensor groups
  std::optional<std::string> firstStamp;   // of its first data line (in the window)
  std::string firstWritten, lastWritten;   // the time stamps of its first and last line written
  // Their day numbers in a workbook, where they are date-times.
  std::optional<double> firstSerial, lastSerial;
  uint64_t samples = 0;         // its entries
  int64_t modified = 0;         // its time of last change, nanoseconds since 1970
  TimeStampZones zones;         // of its time stamps (a workbook's plan)
  std::optional<QualityFigures> quality;  // of its lines converted (repeated ones too)
  uint64_t lines = 0;     // data lines written
  uint64_t repeated = 0;  // lines left out as an earlier recording's
  uint64_t dropped = 0;   // entries left out for a failed CRC
  uint64_t outside = 0;   // lines left out by the window
  double seconds = 0;
  State state = State::waiting;
  std::exception_ptr failure;  // why it failed: an Error
  std::optional<Salvage> salvaged;  // its text broke: what came before the fault
  // What the plan's read found of its text, for the CSV merge's read: the
  // text is not checked twice while the file stays as the plan read it.
  std::optional<Recording::Checked> checked;
};

// How far a merge is, readable from any thread while it runs: its pass,
// and the recordings and their bytes through each pass.
struct MergeProgress {
  enum class Pass : uint8_t { planning, merging, compressing };
  std::atomic<Pass> pass{Pass::planning};
  std::atomic<size_t> planned{0}, merged{0};  // recordings through the plan, through the write
  std::atomic<uint64_t> plannedBytes{0}, mergedBytes{0};
  std::atomic<uint64_t> underWay{0};  // bytes converted of the recording the write is at
  // The recording started last: its place in path order while planning
  // (the order the search gave), in merge order while merging.
  std::atomic<size_t> started{0};
  FinishingWork finishing;  // a workbook's last phase, told when it begins
};

class Merge {
 public:
  // `items` as findRecordings gives them (path order); `out` the table.
  Merge(std::vector<BatchItem> items, std::string out, const MergeSettings& settings);

  // Reads every recording for its sensor groups and its first time stamp
  // and puts them in merge order: by that stamp (as an instant where it has a
  // zone), ties and recordings without one in path order, those last. False
  // when a recording failed or `cancel` was set.
  bool plan(const std::atomic<bool>& cancel);

  // The recordings, in merge order once planned.
  const std::vector<MergedRecording>& recordings() const { return recordings_; }
  const std::string& out() const { return out_; }
  // The campaign's columns (without "recording").
  const TableColumns& columns() const { return columns_; }

  // The recording that `path` (through a link at its end) names, or "".
  std::string recordingAt(const std::string& path) const;

  // Writes OUT as CSV, whole or not at all: true when every recording was
  // merged and OUT is in place. A recording that fails stops the merge
  // (its state says so) and leaves an older OUT as it was; so does `cancel`.
  bool writeCsv(const std::atomic<bool>& cancel);
  // The same as a workbook (OUT ending in .xlsx): typed cells, the
  // campaign's time stamps in one zone (UTC where they have several), the
  // sheet "recording" listing the recordings merged.
  bool writeWorkbook(const std::atomic<bool>& cancel);

  // Its progress; the recordings' bytes, all told.
  const MergeProgress& progress() const { return progress_; }
  uint64_t bytesTotal() const { return bytesTotal_; }

  // The files written (OUT and its further parts).
  const std::vector<std::string>& parts() const { return parts_; }
  const std::vector<std::string>& swept() const { return swept_; }
  // Why OUT could not be written, when no recording failed: an Error.
  std::exception_ptr outFailure() const { return outFailure_; }

 private:
  void failed(MergedRecording* recording, std::exception_ptr failure);
  // Converts the recordings in merge order from `at` on into typed rows
  // (the time stamps `dateTimes` takes as date-times), and hands each row that is no
  // earlier recording's to `row` (the block, the row, the campaign's
  // columns' places in it, the line of its fields), and the end of each
  // block to `blockDone`. `reading` while a failure is the recording's.
  void mergeRows(const std::atomic<bool>& cancel, const TimeStampZones* dateTimes, size_t& at, bool& reading,
                 const std::function<void(const MergedRecording&, const RowBlock&, size_t, const std::vector<size_t>&,
                                          const std::string&)>& row,
                 const std::function<void()>& blockDone);
  // The CSV merge's lines of the recordings from `at` on, in merge order,
  // those an earlier recording wrote left out, each block handed to `put`:
  // worker threads prepare the recordings ahead (each on one worker, its
  // lines made, hashed and measured there), this thread keeps the order.
  // `reading` while a failure is the recording's.
  void mergeLines(const std::atomic<bool>& cancel, size_t& at, bool& reading,
                  const std::function<void(const LineBlock&)>& put);
  // Prepares recording `at` on a worker: its blocks of lines to `give`, in
  // order. Raises what its conversion raises.
  // `fields` the format of a line but "recording".
  void prepareLines(size_t at, const CsvFormat& fields, const std::atomic<bool>& cancel,
                    PreparedRecording& prepared, const std::function<void(PreparedLines&)>& give) const;
  // OUT's parts put in place, once none of them is a recording and no stop
  // has come.
  void putInPlace(TableFiles& files, const std::atomic<bool>& cancel);

  std::vector<MergedRecording> recordings_;
  std::string out_;
  MergeSettings settings_;
  TableColumns columns_{false, false};
  TimeStampZones zones_;  // of every recording's time stamps (a workbook's plan)
  std::vector<std::string> parts_, swept_;
  std::exception_ptr outFailure_;
  MergeProgress progress_;
  uint64_t bytesTotal_ = 0;
};

}  // namespace tlq
