#include "convert/convert.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "batch/table_files.h"
#include "batch/table_proof.h"
#include "convert/ordered_work.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/file.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "reader/recording.h"
#include "sensors/force_elasto.h"
#include "sensors/frames.h"
#include "sensors/inclino.h"
#include "sensors/pattern.h"
#include "table/columns.h"
#include "table/date_time.h"
#include "table/rows.h"
#include "text.h"

namespace tlq {
namespace {

constexpr size_t kAbsent = TableColumns::kAbsent;

// Where each column of the table stands; kAbsent for a group left out.
struct Columns {
  struct Inclino {
    size_t raw = kAbsent, x = kAbsent, y = kAbsent;
  };
  size_t timestamp;
  Inclino inclino1, inclino2;
  size_t elastoRaw, elastoRawA, elastoRawB, elastoA, elastoB;
  size_t forceRaw, forceKg;
  size_t count;

  explicit Columns(const TableColumns& t)
      : timestamp(t.at(Column::timestamp)),
        inclino1{t.at(Column::inclino1Raw), t.at(Column::inclino1X), t.at(Column::inclino1Y)},
        inclino2{t.at(Column::inclino2Raw), t.at(Column::inclino2X), t.at(Column::inclino2Y)},
        elastoRaw(t.at(Column::elastoRaw)),
        elastoRawA(t.at(Column::elastoRawA)),
        elastoRawB(t.at(Column::elastoRawB)),
        elastoA(t.at(Column::elastoAUm)),
        elastoB(t.at(Column::elastoBUm)),
        forceRaw(t.at(Column::forceRaw)),
        forceKg(t.at(Column::forceKg)),
        count(t.size()) {}
};

enum class CrcRule { dropOnBadCrc, keepDq7 };

// Turns entries into rows of typed cells.
class EntryConverter {
 public:
  // Time stamps that `dateTimes` takes for date-times become date-time
  // cells; without it every time stamp is text. A frame's record is made in
  // the form given.
  EntryConverter(const Columns& columns, const TimeStampZones* dateTimes, RecordForm form)
      : columns_(columns), dateTimes_(dateTimes), form_(form) {}

  // Appends the entry's row to `rows`, or counts it dropped for a failed
  // CRC; no row for an entry that fails.
  void convert(const RecordingEntry& entry, RowBlock& rows) {
    TLQ_OP("convertEntry");
    if (!entry.isObject) throw ValueError(where(entry) + " is not a JSON object");
    rows.beginRow();
    if (const JsonField* raw = rawOf(entry, entry.inclino, "inclino")) {
      if (entry.inclino.timestamp.present()) putTimestamp(entry.inclino.timestamp.textOf(), rows);
      if (!TLQ_AT(putInclino(raw->textOf(), columns_.inclino1, CrcRule::dropOnBadCrc, rows))) {
        ++rows.dropped;
        return;
      }
    }
    if (const JsonField* raw = rawOf(entry, entry.inclino2, "inclino2")) {
      if (!TLQ_AT(putInclino(raw->textOf(), columns_.inclino2, CrcRule::keepDq7, rows))) {
        ++rows.dropped;
        return;
      }
    }
    if (const JsonField* raw = rawOf(entry, entry.force, "force")) TLQ_AT(putForce(raw->textOf(), rows));
    if (const JsonField* raw = rawOf(entry, entry.dlen, "dlen")) TLQ_AT(putElasto(raw->textOf(), entry.dlen, rows));
    rows.keepRow();
  }

 private:
  static std::string where(const RecordingEntry& entry) {
    return "data[" + std::to_string(entry.index) + "]";
  }

  // The sensor's "raw" member when the entry has the sensor and the sensor
  // has one; a sensor member that is not an object cannot be asked.
  static const JsonField* rawOf(const RecordingEntry& entry, const SensorObject& sensor, const char* name) {
    if (sensor.shape == SensorObject::Shape::absent) return nullptr;
    if (sensor.shape == SensorObject::Shape::notObject)
      throw ValueError(where(entry) + "." + name + " is not a JSON object");
    return sensor.raw.present() ? &sensor.raw : nullptr;
  }

  void putTimestamp(std::string_view stamp, RowBlock& rows) const {
    std::optional<double> serial = dateTimes_ ? dateTimes_->serialOf(stamp) : std::nullopt;
    if (serial)
      rows.setDateTime(columns_.timestamp, stamp, *serial);
    else
      rows.setText(columns_.timestamp, stamp);
  }

  // Fills one inclinometer's three columns; false when the entry is dropped
  // for a failed CRC.
  bool putInclino(std::string_view raw, const Columns::Inclino& cols, CrcRule rule, RowBlock& rows) {
    double x = 0, y = 0;
    std::string& text = rows.text();
    const size_t start = text.size();
    const InclinoType type = detectInclinoType(raw);
    switch (type) {
      case InclinoType::inclinoText: {
        // The lines joined: every CR LF becomes a space.
        const char* end = raw.data() + raw.size();
        for (const char* p = raw.data(); form_ != RecordForm::none;) {
          const char* cr = findAnyOf(p, end, '\r');
          text.append(p, cr);
          if (cr == end) break;
          bool lineEnd = cr + 1 != end && cr[1] == '\n';
          text += lineEnd ? ' ' : '\r';
          p = cr + (lineEnd ? 2 : 1);
        }
        std::tie(x, y) = parseMeasInclino(raw);
        break;
      }
      case InclinoType::inclinoDq7: {
        Dq7Inclino frame = parse_dq7_inclino(raw);
        if (!frame.CRC_OK && rule == CrcRule::dropOnBadCrc) return false;
        putRecord(frame, text);
        x = frame.A_deg;
        y = frame.B_deg;
        break;
      }
      case InclinoType::inclinoRk: {
        RkInclino frame = parse_rk_inclino(raw);
        if (!frame.CRC_OK) return false;
        putRecord(frame, text);
        x = frame.X_deg;
        y = frame.Y_deg;
        break;
      }
    }
    rows.setTextFrom(cols.raw, start, form_ == RecordForm::csvField && type != InclinoType::inclinoText);
    rows.setNumber(cols.x, roundTo3(x));
    rows.setNumber(cols.y, roundTo3(y));
    return true;
  }

  template <typename Record>
  void putRecord(const Record& record, std::string& text) const {
    if (form_ == RecordForm::csvField)
      toCsvField(record, text);
    else if (form_ == RecordForm::json)
      toJson(record, text);
  }

  void putForce(std::string_view raw, RowBlock& rows) {
    // The display line without its unit letters.
    std::string& text = rows.text();
    const size_t start = text.size();
    const char* end = raw.data() + raw.size();
    for (const char* p = raw.data(); form_ != RecordForm::none;) {
      const char* unit = findAnyOf(p, end, 'N', 'M');
      text.append(p, unit);
      if (unit == end) break;
      p = unit + 1;
    }
    rows.setTextFrom(columns_.forceRaw, start);
    rows.setNumber(columns_.forceKg, parseForce(raw));
  }

  void putElasto(std::string_view raw, const SensorObject& dlen, RowBlock& rows) {
    rows.setText(columns_.elastoRaw, form_ == RecordForm::none ? std::string_view() : raw);
    auto [a, b] = parseElasto(raw);
    rows.setNumber(columns_.elastoRawA, a);
    rows.setNumber(columns_.elastoRawB, b);
    if (!dlen.val1.present()) throw KeyError("key not found: val1");
    rows.setNumber(columns_.elastoA, dlen.val1.numberOf());
    if (!dlen.val2.present()) throw KeyError("key not found: val2");
    rows.setNumber(columns_.elastoB, dlen.val2.numberOf());
  }

  const Columns& columns_;
  const TimeStampZones* dateTimes_;
  RecordForm form_;
  PatternScratch patternScratch_;  // for the decoders' patterns, on this converter's thread
};

// The window a conversion keeps to, when it has one that leaves lines out.
const TimeWindow* windowOf(const ConversionControl& control) {
  return control.window && control.window->active() ? control.window : nullptr;
}

// Makes CSV lines: each entry's row, as soon as it is made; a row outside
// the window is counted, not written. The rows are measured a few hundred at
// a time (the meter goes column by column), and those left when the lines
// are handed over (finish).
class LineMaker {
 public:
  LineMaker(const Columns& columns, const TableColumns& table, const CsvFormat& format, const TimeWindow* window)
      : converter_(columns, nullptr, RecordForm::csvField), format_(format), table_(table), rows_(format.header.size()),
        window_(window), stamp_(columns.timestamp) {}

  // The lines take about one and a half times the entries' text.
  void prepare(LineBlock& lines, size_t recordingBytes) { lines.text.reserve(recordingBytes * 2); }

  void convert(const RecordingEntry& entry, LineBlock& lines) {
    const size_t before = rows_.rows(), text = rows_.textBytes();
    const uint64_t dropped = rows_.dropped;
    converter_.convert(entry, rows_);
    lines.dropped += rows_.dropped - dropped;
    if (rows_.rows() > before) {
      if (window_ && !window_->holdsRow(rows_, before, stamp_)) {
        ++lines.outside;
        rows_.truncate(before, text);  // not measured either: the quality is of the lines written
      } else {
        makeLine(format_, rows_, before, lines.text);
        lines.text += "\r\n";
        lines.ends.push_back(lines.text.size());
      }
    }
    if (rows_.rows() >= kRowsMeasured) finish(lines);
  }

  // The rows not yet measured, measured into `lines`.
  void finish(LineBlock& lines) {
    if (rows_.rows() == 0 && rows_.dropped == 0) return;
    if (!lines.quality) lines.quality.emplace(table_);
    lines.quality->add(rows_);
    rows_.clear();
  }

  static size_t bytes(const LineBlock& lines) { return lines.text.size(); }

 private:
  static constexpr size_t kRowsMeasured = 256;

  EntryConverter converter_;
  const CsvFormat& format_;
  const TableColumns& table_;
  RowBlock rows_;  // made, not yet measured
  const TimeWindow* window_;
  size_t stamp_;
};

// Makes rows, gathered in the block; a row outside the window is counted
// and forgotten.
class RowMaker {
 public:
  RowMaker(const Columns& columns, const TimeStampZones* dateTimes, const TimeWindow* window,
           RecordForm form = RecordForm::json)
      : converter_(columns, dateTimes, form), columns_(columns.count), window_(window), stamp_(columns.timestamp) {}

  void prepare(RowBlock& rows, size_t) {
    if (rows.columns() != columns_) rows = RowBlock(columns_);
  }

  void convert(const RecordingEntry& entry, RowBlock& rows) {
    const size_t before = rows.rows(), text = rows.textBytes();
    converter_.convert(entry, rows);
    if (window_ && rows.rows() > before && !window_->holdsRow(rows, before, stamp_)) {
      rows.truncate(before, text);
      ++rows.outside;
    }
  }

  void finish(RowBlock&) {}  // nothing kept back

  static size_t bytes(const RowBlock& rows) { return rows.rows() * rows.columns() * sizeof(Cell) + rows.textBytes(); }

 private:
  EntryConverter converter_;
  size_t columns_;
  const TimeWindow* window_;
  size_t stamp_;
};

// Threads used unless TLQCONVERTER_THREADS says otherwise.
constexpr unsigned kMaxThreads = 8;

// TLQCONVERTER_THREADS when it is a whole number from 1 on (1 converts on
// the calling thread, more always in parallel); else the hardware's threads,
// up to kMaxThreads, for recordings of kParallelFrom bytes and more (measured
// on two cores: no gain at 480 KB, a millisecond saved at 960 KB).
unsigned threadCount(size_t recordingBytes) {
  if (std::optional<unsigned> n = requestedThreads()) return *n;
  if (recordingBytes < kParallelFrom) return 1;
  return std::clamp(std::thread::hardware_concurrency(), 1u, kMaxThreads);
}

void stopIfCancelled(const ConversionControl& control) {
  if (control.cancel && control.cancel->load(std::memory_order_relaxed)) throw ConversionCancelled();
}

// Hands what `Maker`s make of every entry to `take`, in order: made on this
// thread, or in ranges of entries on worker threads, each range into an
// output of its own, taken strictly in entry order. Either way a failure at
// entry k leaves what the entries before k made taken, and nothing after.
template <typename Out, typename NewMaker>
void convertEntries(const Recording& recording, const ConversionControl& control, const NewMaker& newMaker,
                    const std::function<void(Out&)>& take) {
  unsigned threads = control.threads ? control.threads : threadCount(recording.size());
  std::vector<EntryRange> ranges;
  if (threads > 1)
    ranges = control.pieceBytes ? recording.ranges(control.pieceBytes) : conversionRanges(recording, threads);
  auto handOver = [&](Out& out, uint64_t bytesDone) {
    if (!control.linesHiddenUntilTheEnd || bytesDone == recording.size()) recording.requireUnchanged();
    take(out);
    out.clear();
    if (control.bytesDone) control.bytesDone->store(bytesDone, std::memory_order_relaxed);
  };
  if (ranges.size() < 2) {
    auto maker = newMaker();
    Out out;
    maker.prepare(out, kLinesPerWrite);
    bool handing = false;
    const uint64_t entries = std::max<uint64_t>(recording.entries(), 1);
    try {
      recording.forEachEntry([&](const RecordingEntry& entry) {
        stopIfCancelled(control);
        maker.convert(entry, out);
        if (maker.bytes(out) < kLinesPerWrite) return;
        maker.finish(out);
        handing = true;
        handOver(out, recording.size() * (entry.index + 1) / entries);
        handing = false;
      });
    } catch (const ConversionCancelled&) {
      throw;
    } catch (...) {
      if (!handing) {  // what the entries before the failing one made
        maker.finish(out);
        handOver(out, 0);
      }
      throw;
    }
    maker.finish(out);
    handOver(out, recording.size());
    return;
  }
  runInOrder<Out>(
      ranges.size(), threads,
      [&](size_t i, Out& out) {
        stopIfCancelled(control);
        size_t end = i + 1 < ranges.size() ? ranges[i + 1].offset : recording.size();
        auto maker = newMaker();
        maker.prepare(out, end - ranges[i].offset);
        try {
          recording.forEachEntry(
              [&](const RecordingEntry& entry) {
                stopIfCancelled(control);  // a range may take seconds: a stop waits for none
                maker.convert(entry, out);
              },
              ranges[i]);
        } catch (...) {
          maker.finish(out);  // what the entries before the failing one made is taken
          throw;
        }
        maker.finish(out);
      },
      [&, taken = size_t{0}](Out& out) mutable {
        ++taken;
        handOver(out, taken < ranges.size() ? ranges[taken].offset : recording.size());
      });
}

// What `work` returns; a failure of the recording's text (not of a file
// written) raised as the change when the recording changed while it was
// read: the entries read twice may then differ, and a fault in what was
// read is no fault of the recording.
template <typename Work>
auto vouched(const Recording& recording, const Work& work) {
  try {
    return work();
  } catch (const IoError&) {
    throw;
  } catch (const Error&) {
    recording.requireUnchanged();
    throw;
  }
}

}  // namespace

RecordingTable::RecordingTable(const std::string& path, const ConversionControl& control)
    : recording_(path, [&control](size_t bytes) { return control.threads ? control.threads : threadCount(bytes); },
                 control.salvage, control.checked),
      table_(recording_.hasInclino2(), recording_.hasElasto()),
      columns_(table_.names()),
      quality_(table_) {}

void RecordingTable::convert(const CsvFormat& format, const ConversionControl& control,
                             const std::function<void(LineBlock&)>& take) const {
  Columns columns(table_);
  quality_.clear();
  // Each block's rows were measured where they were made; joined here in
  // line order.
  std::function<void(LineBlock&)> measured = [&](LineBlock& lines) {
    if (lines.quality) quality_.append(*lines.quality);
    take(lines);
  };
  vouched(recording_, [&] {
    convertEntries<LineBlock>(
        recording_, control, [&] { return LineMaker(columns, table_, format, windowOf(control)); }, measured);
  });
}

void RecordingTable::convertRows(const TimeStampZones* dateTimes, const ConversionControl& control,
                                 const std::function<void(RowBlock&)>& take) const {
  measuredRows(dateTimes, RecordForm::json, control, take);
}

void RecordingTable::measuredRows(const TimeStampZones* dateTimes, RecordForm form, const ConversionControl& control,
                                  const std::function<void(RowBlock&)>& take) const {
  Columns columns(table_);
  quality_.clear();
  std::function<void(RowBlock&)> measured = [&](RowBlock& rows) {
    quality_.add(rows);
    take(rows);
  };
  vouched(recording_, [&] {
    convertEntries<RowBlock>(
        recording_, control, [&] { return RowMaker(columns, dateTimes, windowOf(control), form); }, measured);
  });
}

void RecordingTable::convertCsvRows(const ConversionControl& control,
                                    const std::function<void(RowBlock&)>& take) const {
  Columns columns(table_);
  convertEntries<RowBlock>(
      recording_, control, [&] { return RowMaker(columns, nullptr, windowOf(control), RecordForm::csvField); }, take);
}

void RecordingTable::measureRows(const ConversionControl& control, const std::function<void(RowBlock&)>& take) const {
  measuredRows(nullptr, RecordForm::none, control, take);
}

std::optional<std::string> RecordingTable::firstTimeStamp(const ConversionControl& control) const {
  Columns columns(table_);
  EntryConverter converter(columns, nullptr, RecordForm::csvField);
  RowBlock row(columns.count);
  std::optional<std::string> stamp;
  struct Found {};  // ends the walk: no failure
  try {
    recording_.forEachEntry([&](const RecordingEntry& entry) {
      stopIfCancelled(control);
      converter.convert(entry, row);
      if (row.rows() == 1 && (!windowOf(control) || windowOf(control)->holdsRow(row, 0, columns.timestamp))) {
        const Cell& cell = row.cell(0, columns.timestamp);
        if (cell.kind != CellKind::empty) {
          stamp = std::string(row.textOf(cell));
          throw Found();
        }
      }
      row.clear();
    });
  } catch (const Found&) {
    TraceFrame::forgetUnwound();
  }
  return stamp;
}

TimeStampZones RecordingTable::timeStampZones(const ConversionControl& control) const {
  // As the rows take them: an entry's first inclinometer with a payload.
  auto note = [](const RecordingEntry& entry, TimeStampZones& zones) {
    const SensorObject& inclino = entry.inclino;
    if (entry.isObject && inclino.shape == SensorObject::Shape::object && inclino.raw.present() &&
        inclino.timestamp.present())
      zones.add(inclino.timestamp.textOf());
  };
  TimeStampZones zones;
  unsigned threads = control.threads ? control.threads : threadCount(recording_.size());
  std::vector<EntryRange> ranges;
  if (threads > 1) ranges = conversionRanges(recording_, threads);
  if (ranges.size() < 2) {
    recording_.forEachEntry([&](const RecordingEntry& entry) {
      stopIfCancelled(control);
      note(entry, zones);
    });
    return zones;
  }
  runInOrder<TimeStampZones>(
      ranges.size(), threads,
      [&](size_t i, TimeStampZones& found) {
        recording_.forEachEntry(
            [&](const RecordingEntry& entry) {
              stopIfCancelled(control);
              note(entry, found);
            },
            ranges[i]);
      },
      [&](TimeStampZones& found) { zones.merge(found); });
  return zones;
}

std::optional<unsigned> requestedThreads() {
  std::optional<std::string> text = getEnv("TLQCONVERTER_THREADS");
  std::optional<uint64_t> n = text ? parseCount(*text) : std::nullopt;
  if (!n || *n > std::numeric_limits<unsigned>::max()) return std::nullopt;
  return static_cast<unsigned>(std::min<uint64_t>(*n, 256));
}

void refuseToOverwrite(const Recording& recording, const std::string& csvPath) {
  if (recording.isFile(csvPath)) throw IoError("cannot open: " + csvPath + " (it is the recording itself)");
}

std::vector<EntryRange> conversionRanges(const Recording& recording, unsigned threads) {
  return recording.ranges(std::clamp<size_t>(recording.size() / (16 * threads), 1, 1 << 20));
}

std::string mainConvert(const std::string& path) { return mainConvert(path, {}, nullptr); }

std::string mainConvert(const std::string& path, const ConversionControl& control, ConversionCounts* counts) {
  TLQ_OP("mainConvert");
  std::string csvPath = csvPathFor(path);
  RecordingTable table = TLQ_AT(RecordingTable(path, control));
  CsvFormat format = TLQ_AT(newCsvFormat(table.columns()));
  TLQ_AT(refuseToOverwrite(table.recording(), csvPath));
  TLQ_AT(requireReplaceable(csvPath));  // at once, not after the work (a read-only table too, to root)
  // Into a temporary file beside the table, put in place once complete: a
  // run that is killed leaves the older table whole.
  TableFiles files = TLQ_AT(TableFiles(csvPath, makeHeader(format) + "\r\n", 0));
  ConversionCounts made{table.recording().entries(), 0, 0, 0, {}, {}, table.recording().salvaged()};
  try {
    TLQ_AT(table.convert(format, control, [&](LineBlock& lines) {
      files.put(lines);
      made.lines += lines.ends.size();
      made.dropped += lines.dropped;
      made.outside += lines.outside;
    }));
    TLQ_AT(table.recording().requireUnreplaced());
    const PathInfo read = pathInfo(path);
    TLQ_AT(files.commit());
    // As the batch proves its tables, so that --update takes this one for
    // whole as long as the recording and the options are the same.
    // A table of a window, or of a recording salvaged, is not the
    // recording's whole table.
    if (!windowOf(control) && !made.salvaged)
      stampCommit(files.parts(), {read.modified, read.size, 0, format.listSeparator, format.decimalSeparator, false});
  } catch (const ConversionCancelled&) {
    throw;  // the person asked to stop: no table that looks whole (the temporary file goes)
  } catch (...) {
    // The lines before the failure go in, dated before the recording, so
    // that a batch's --update never takes them for its whole table.
    files.commitPartial(path);
    throw;
  }
  if (counts) {
    *counts = made;
    counts->swept = files.swept();
    counts->quality = table.quality().figures(control.intervalNanoseconds);
  }
  return csvPath;
}

}  // namespace tlq
