// The conversion of one recording into its CSV table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "csv/csv.h"
#include "reader/recording.h"
#include "table/columns.h"
#include "table/date_time.h"
#include "table/quality.h"
#include "table/rows.h"
#include "table/window.h"

namespace tlq {

// Writes the CSV table of the recording at `path` beside it (the same path
// with the extension "csv") and returns that path: into a temporary file,
// put in place when complete (TableFiles). On failure the error propagates,
// and the lines written so far go in as the table, dated before the
// recording (TableFiles::commitPartial).
std::string mainConvert(const std::string& path);

// Whole lines of a table, in order, and where each ends; the entries left
// out of them for a failed CRC; the quality of their rows, measured as they
// were made.
struct LineBlock {
  std::string text;
  std::vector<size_t> ends;  // just past each line's "\r\n"
  uint64_t dropped = 0;
  std::optional<QualityMeter> quality;
  uint64_t outside = 0;  // lines left out by a time window

  void clear() {
    text.clear();
    ends.clear();
    dropped = 0;
    if (quality) quality->clear();
    outside = 0;
  }
};

// The last phase of a workbook, once its rows are written: the library puts
// the sheets into the file, compressed, and tells nothing while it does; the
// file grows meanwhile to about `expectedBytes`, which takes about
// `expectedSeconds` (both measured on a sample of the sheets before).
class FinishingWork {
 public:
  struct State {
    bool started = false;
    std::string file;
    uint64_t expectedBytes = 0;
    double expectedSeconds = 0;
  };
  void start(const std::string& file, uint64_t expectedBytes, double expectedSeconds) {
    std::lock_guard lock(mutex_);
    state_ = {true, file, expectedBytes, expectedSeconds};
  }
  void clear() {
    std::lock_guard lock(mutex_);
    state_ = State();
  }
  State state() const {
    std::lock_guard lock(mutex_);
    return state_;
  }

 private:
  mutable std::mutex mutex_;
  State state_;
};

// What a single conversion made of the recording.
struct ConversionCounts {
  uint64_t samples = 0;  // entries of "data"
  uint64_t lines = 0;    // data lines written
  uint64_t dropped = 0;  // entries left out for a failed CRC
  uint64_t outside = 0;  // lines left out by the time window
  std::vector<std::string> swept;  // files that stopped runs left, removed (TableFiles::swept)
  QualityFigures quality = {};     // of the rows converted
  std::optional<Salvage> salvaged = std::nullopt;  // when the recording's text broke (--salvage)
};

// Raised by a conversion that was asked to stop: no failure, so no
// std::exception either (no handler of failures takes it for one).
struct ConversionCancelled {};

// How a conversion runs, beyond what it converts.
struct ConversionControl {
  // Threads for the recording; 0 lets TLQCONVERTER_THREADS or the
  // recording's size decide, as for the single conversion.
  unsigned threads = 0;
  // Once this is set, the conversion stops soon with ConversionCancelled.
  const std::atomic<bool>* cancel = nullptr;
  // How much of the recording is converted, in bytes of its text.
  std::atomic<uint64_t>* bytesDone = nullptr;
  // The caller shows no line before the last is handed over (a batch's
  // temporary files): the recording is checked for changes once, then,
  // instead of before every handover.
  bool linesHiddenUntilTheEnd = false;
  // Bytes of the recording per piece the workers convert; 0 for the default
  // (conversionRanges). A slow taker (a workbook) keeps every worker's piece
  // waiting: smaller pieces keep less of them in memory.
  size_t pieceBytes = 0;
  // A workbook's last phase, told here when it begins.
  FinishingWork* finishing = nullptr;
  // The interval of the time stamps, when given (--interval): gaps are
  // measured against it instead of the median.
  std::optional<int64_t> intervalNanoseconds = std::nullopt;
  // When it is active, only the lines whose time stamps it holds are made
  // (the others counted as outside).
  const TimeWindow* window = nullptr;
  // --salvage: a recording whose text ends early or breaks is converted up
  // to its last complete entry before the fault (Recording's `salvage`).
  bool salvage = false;
  // The recording as an earlier read of it found it: its text is not
  // checked again while its file is the version it was then.
  const Recording::Checked* checked = nullptr;
};

// The same with `control` (progress, cancel; a conversion cancelled leaves
// the older table as it was), counting into `counts`.
std::string mainConvert(const std::string& path, const ConversionControl& control, ConversionCounts* counts);

// What a frame's record becomes in its raw cell: JSON (a workbook's), the
// field a CSV table writes, or no text at all (rows that are only measured:
// then no raw payload has its text in its cell, only the cell that says it
// is there).
enum class RecordForm : unsigned char { json, csvField, none };

// A recording read and checked, with the columns its table has: the steps a
// single conversion and a batch share.
class RecordingTable {
 public:
  // Reads and validates the recording (salvaged where `control` asks) and
  // decides its columns (the scans for "inclino2" and "dlen"). Raises what
  // Recording raises.
  RecordingTable(const std::string& path, const ConversionControl& control);

  const Recording& recording() const { return recording_; }
  const TableColumns& tableColumns() const { return table_; }
  const std::vector<std::string>& columns() const { return columns_; }  // their names

  // The quality of the rows the last convert or convertRows made (as far as
  // it got), measured as they were made.
  const QualityMeter& quality() const { return quality_; }

  // Converts every entry into lines of `format` (made from columns()),
  // handing them to `take` in entry order, whole lines at a time. A failure at
  // entry k leaves the lines before k taken and nothing after. Lines are
  // handed over only once the recording is known not to have changed under
  // them (with linesHiddenUntilTheEnd, the last of them). A failure of an
  // entry is raised as the change (recordingChanged) when the recording
  // changed while it was read.
  void convert(const CsvFormat& format, const ConversionControl& control,
               const std::function<void(LineBlock&)>& take) const;

  // The same as rows of typed cells, in blocks. A time stamp that
  // `dateTimes` takes for a date-time is a date-time cell; without it, every
  // time stamp is text.
  void convertRows(const TimeStampZones* dateTimes, const ConversionControl& control,
                   const std::function<void(RowBlock&)>& take) const;
  // The same with every time stamp as text and each frame's record as the
  // CSV field that convert() writes: rows whose lines are the table's (a
  // merge's, column by column).
  void convertCsvRows(const ConversionControl& control, const std::function<void(RowBlock&)>& take) const;

  // The rows of convertRows without date-times, for a check: measured
  // (quality()) and handed to `take`, every raw payload left out of its raw
  // cell (a text cell without text), which nothing reads there.
  void measureRows(const ConversionControl& control, const std::function<void(RowBlock&)>& take) const;

  // The time stamp of the first data line, or nothing when no line has one
  // (every entry read then). Raises what the conversion raises for the
  // entries it reads.
  std::optional<std::string> firstTimeStamp(const ConversionControl& control) const;

  // The zones of the time stamps the rows show (a pass over the entries;
  // entries left out for a failed CRC count too). Raises nothing of the
  // entries: their failures are the conversion's.
  TimeStampZones timeStampZones(const ConversionControl& control) const;

 private:
  Recording recording_;
  TableColumns table_;
  std::vector<std::string> columns_;
  mutable QualityMeter quality_;

  // convertRows and measureRows: rows made with each frame's record in
  // `form`, measured, then handed to `take`.
  void measuredRows(const TimeStampZones* dateTimes, RecordForm form, const ConversionControl& control,
                    const std::function<void(RowBlock&)>& take) const;
};

// Raises IoError "cannot open: <csvPath> (it is the recording itself)"
// when `csvPath` names the recording's own file: writing it would destroy
// the recording (a recording named "*.csv", or a link to it).
void refuseToOverwrite(const Recording& recording, const std::string& csvPath);

// The ranges of entries a conversion on `threads` workers (2 or more) shares
// out: pieces small enough to share out evenly and to keep few in memory.
std::vector<EntryRange> conversionRanges(const Recording& recording, unsigned threads);

// Lines gathered on one thread before they are written.
inline constexpr size_t kLinesPerWrite = 64 << 10;

// TLQCONVERTER_THREADS when it is a whole number from 1 on (at most 256).
std::optional<unsigned> requestedThreads();

// Recordings below this size convert on one thread, where starting threads
// costs more than it saves.
inline constexpr size_t kParallelFrom = 512 << 10;

}  // namespace tlq
