#include "batch/merge.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "batch/table_files.h"
#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"
#include "xlsx/merged_sheet.h"
#include "xlsx/workbook.h"

namespace tlq {

namespace {

// A name with "/" between its folders, as a table's field shows it on every
// system.
std::string slashed(std::string name) {
  for (char& c : name)
    if (isPathSeparator(c)) c = '/';
  return name;
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

Merge::Merge(std::vector<BatchItem> items, std::string out, const MergeSettings& settings)
    : out_(std::move(out)), settings_(settings) {
  recordings_.reserve(items.size());
  for (BatchItem& item : items) {
    MergedRecording r;
    r.name = slashed(item.relative.empty() ? item.path : item.relative);
    r.item = std::move(item);
    bytesTotal_ += r.item.size;
    recordings_.push_back(std::move(r));
  }
}

std::string Merge::recordingAt(const std::string& path) const {
  std::string place = placeKey(linkTarget(path));
  for (const MergedRecording& r : recordings_)
    if (r.item.recordingPlace == place || placeKey(linkTarget(r.item.path)) == place) return r.item.path;
  return "";
}

bool Merge::plan(const std::atomic<bool>& cancel) {
  TLQ_OP("planMerge");
  std::atomic<size_t> next{0};
  const TraceFrame* caller = TraceFrame::top();
  auto worker = [&] {
    TraceFrame::Continuation trace(caller);
    for (;;) {
      size_t i = next.fetch_add(1);
      if (i >= recordings_.size() || cancel.load()) break;
      MergedRecording& r = recordings_[i];
      progress_.started.store(i);
      const auto start = std::chrono::steady_clock::now();
      try {
        TLQ_OP("readRecording");
        // A folder that could not be read is listed in place of what it
        // holds. (The tables' clashes that the search marks are a batch's:
        // a merge writes no table beside its recordings.)
        if (!r.item.problem.empty() && r.item.table.empty())
          throw IoError(r.item.problem).withReason(r.item.reason);
        ConversionControl control{1, &cancel, nullptr, true};
        control.window = settings_.window;
        control.salvage = settings_.salvage;
        RecordingTable table = TLQ_AT(RecordingTable(r.item.path, control));
        r.salvaged = table.recording().salvaged();
        r.inclino2 = table.tableColumns().at(Column::inclino2Raw) != TableColumns::kAbsent;
        r.elasto = table.tableColumns().at(Column::elastoRaw) != TableColumns::kAbsent;
        r.firstStamp = TLQ_AT(table.firstTimeStamp(control));
        r.samples = table.recording().entries();
        if (settings_.workbook) {
          r.modified = unixNanoseconds(pathInfo(r.item.path).modified);
          r.zones = TLQ_AT(table.timeStampZones(control));
        }
        r.state = MergedRecording::State::planned;
      } catch (const ConversionCancelled&) {
        r.state = MergedRecording::State::cancelled;
      } catch (...) {
        r.state = MergedRecording::State::failed;
        r.failure = handledFailure();
      }
      TraceFrame::forgetUnwound();
      r.seconds = secondsSince(start);
      progress_.plannedBytes += r.item.size;
      ++progress_.planned;
    }
  };
  unsigned threads = static_cast<unsigned>(std::clamp<size_t>(recordings_.size(), 1, std::max(settings_.threads, 1u)));
  std::vector<std::thread> pool;
  try {
    for (unsigned t = 1; t < threads; ++t) pool.emplace_back(worker);
  } catch (const std::system_error&) {  // no more threads: those started, and this one, do the work
  }
  worker();
  for (std::thread& t : pool) t.join();

  bool whole = !cancel.load();
  for (const MergedRecording& r : recordings_)
    if (r.state != MergedRecording::State::planned) whole = false;
  if (!whole) return false;
  // The campaign's columns: every sensor group that any recording has.
  bool inclino2 = false, elasto = false;
  for (const MergedRecording& r : recordings_) {
    inclino2 = inclino2 || r.inclino2;
    elasto = elasto || r.elasto;
  }
  columns_ = TableColumns(inclino2, elasto);
  zones_.clear();
  for (const MergedRecording& r : recordings_) zones_.merge(r.zones);
  // In time order; the search gave them in path order, which ties keep.
  std::vector<std::optional<StampTime>> order(recordings_.size());
  for (size_t i = 0; i < recordings_.size(); ++i)
    if (recordings_[i].firstStamp) order[i] = orderOf(*recordings_[i].firstStamp);
  std::vector<size_t> index(recordings_.size());
  for (size_t i = 0; i < index.size(); ++i) index[i] = i;
  std::stable_sort(index.begin(), index.end(), [&](size_t a, size_t b) {
    if (order[a].has_value() != order[b].has_value()) return order[a].has_value();
    return order[a] && *order[a] < *order[b];
  });
  std::vector<MergedRecording> sorted;
  sorted.reserve(index.size());
  for (size_t i : index) sorted.push_back(std::move(recordings_[i]));
  recordings_ = std::move(sorted);
  return true;
}

void Merge::failed(MergedRecording* recording, std::exception_ptr failure) {
  if (!recording) {
    outFailure_ = failure;
    return;
  }
  recording->state = MergedRecording::State::failed;
  recording->failure = failure;
}

void Merge::putInPlace(TableFiles& files, const std::atomic<bool>& cancel) {
  for (const std::string& part : files.parts()) {
    std::string recording = recordingAt(part);
    if (!recording.empty()) throw IoError("cannot open: " + part + " (it is the recording " + recording + ")");
  }
  if (cancel.load()) throw ConversionCancelled();
  files.commit();
  parts_ = files.parts();
  swept_ = files.swept();
}

void Merge::mergeRows(const std::atomic<bool>& cancel, const TimeStampZones* dateTimes, size_t& at, bool& reading,
                      const std::function<void(const MergedRecording&, const RowBlock&, size_t,
                                               const std::vector<size_t>&, const std::string&)>& take,
                      const std::function<void()>& blockDone) {
  TLQ_OP("mergeRows");
  // The fields of a line but "recording", as the CSV writes them: what a
  // repeat is told by, in either kind of OUT.
  const CsvFormat fields = newCsvFormat(columns_.names(), settings_.listSeparator, settings_.decimalSeparator);
  RepeatCheck repeats;
  std::string line;
  progress_.pass = MergeProgress::Pass::merging;
  for (; at < recordings_.size(); ++at) {
    MergedRecording& r = recordings_[at];
    const auto start = std::chrono::steady_clock::now();
    reading = true;
    TLQ_OP("mergeRecording");
    progress_.started.store(at);
    progress_.underWay.store(0);
    ConversionControl control{0, &cancel, &progress_.underWay, true};
    control.window = settings_.window;
    control.salvage = settings_.salvage;
    RecordingTable table = TLQ_AT(RecordingTable(r.item.path, control));
    // Read again: what it gives now is what is merged.
    r.salvaged = table.recording().salvaged();
    const TableColumns& own = table.tableColumns();
    if ((own.at(Column::inclino2Raw) != TableColumns::kAbsent) != r.inclino2 ||
        (own.at(Column::elastoRaw) != TableColumns::kAbsent) != r.elasto)
      throw recordingChanged(r.item.path);
    std::vector<size_t> from(columns_.size());
    for (size_t i = 0; i < columns_.size(); ++i) from[i] = own.at(columns_[i]);
    const size_t stampColumn = own.at(Column::timestamp);
    // The typed rows measure themselves (RecordingTable::quality); the CSV's
    // are measured here.
    std::optional<QualityMeter> meter;
    if (!dateTimes) meter.emplace(own);
    auto rows = [&](RowBlock& block) {
      if (meter) meter->add(block);
      for (size_t row = 0; row < block.rows(); ++row) {
        line.clear();
        makeLine(fields, block, row, from, line);
        const Cell& stamp = block.cell(row, stampColumn);
        std::string_view stampText = stamp.kind == CellKind::empty ? std::string_view() : block.textOf(stamp);
        if (repeats.repeated(line, stamp.kind == CellKind::empty ? std::nullopt : orderOf(stampText))) {
          ++r.repeated;
          continue;
        }
        if (!stampText.empty()) {
          const std::optional<double> serial =
              stamp.kind == CellKind::dateTime ? std::optional<double>(stamp.number) : std::nullopt;
          if (r.firstWritten.empty()) {
            r.firstWritten = stampText;
            r.firstSerial = serial;
          }
          r.lastWritten = stampText;
          r.lastSerial = serial;
        }
        ++r.lines;
        take(r, block, row, from, line);
      }
      blockDone();
      r.dropped += block.dropped;
      r.outside += block.outside;
    };
    if (dateTimes) {
      // The workers wait for the workbook most of the time, each with a
      // piece done: small pieces keep its memory low, as for --xlsx.
      control.pieceBytes = 128 << 10;
      TLQ_AT(table.convertRows(dateTimes, control, rows));
    } else {
      TLQ_AT(table.convertCsvRows(control, rows));
    }
    r.quality = (meter ? *meter : table.quality()).figures(settings_.intervalNanoseconds);
    TLQ_AT(table.recording().requireUnreplaced());
    std::optional<StampTime> next;
    if (at + 1 < recordings_.size() && recordings_[at + 1].firstStamp)
      next = orderOf(*recordings_[at + 1].firstStamp);
    repeats.recordingDone(next);
    r.state = MergedRecording::State::merged;
    r.seconds += secondsSince(start);
    reading = false;
    progress_.mergedBytes += r.item.size;
    progress_.underWay.store(0);
    ++progress_.merged;
  }
}

namespace {

// OUT's folder made, and OUT refused at once where it could not be replaced
// (not after the work).
void prepareOut(const std::string& out) {
  std::string folder = folderOf(linkTarget(out));
  if (!folder.empty() && !makeFolders(folder)) {
    std::string reason = lastSystemError();
    throw IoError("cannot open: " + out).withReason(reason);
  }
  requireReplaceable(out);
}

}  // namespace

bool Merge::writeCsv(const std::atomic<bool>& cancel) {
  TLQ_OP("writeMerge");
  std::vector<std::string> header = columns_.names();
  header.insert(header.begin(), "recording");
  const CsvFormat format = newCsvFormat(header, settings_.listSeparator, settings_.decimalSeparator);
  std::optional<TableFiles> files;
  size_t at = 0;
  bool reading = false;  // a failure now is the recording's, not OUT's
  try {
    TLQ_AT(prepareOut(out_));
    files.emplace(out_, makeHeader(format) + "\r\n", settings_.splitRows);
    LineBlock out;
    const MergedRecording* named = nullptr;
    std::string name;  // its field "recording" and the separator after it
    TLQ_AT(mergeRows(
        cancel, nullptr, at, reading,
        [&](const MergedRecording& r, const RowBlock&, size_t, const std::vector<size_t>&, const std::string& line) {
          if (named != &r) {
            named = &r;
            name.clear();
            quoteString(format, r.name, name);
            name += format.listSeparator;
          }
          out.text += name;
          out.text += line;
          out.text += "\r\n";
          out.ends.push_back(out.text.size());
        },
        [&] {
          reading = false;  // a failure to write is OUT's
          files->put(out);
          out.clear();
          reading = true;
        }));
    TLQ_AT(files->finish());
    TLQ_AT(putInPlace(*files, cancel));
    return true;
  } catch (const ConversionCancelled&) {
    if (at < recordings_.size()) recordings_[at].state = MergedRecording::State::cancelled;
  } catch (...) {
    failed(reading ? &recordings_[at] : nullptr, handledFailure());
  }
  TraceFrame::forgetUnwound();
  return false;
}

bool Merge::writeWorkbook(const std::atomic<bool>& cancel) {
  TLQ_OP("writeMergeWorkbook");
  size_t at = 0;
  bool reading = false;  // a failure now is the recording's, not OUT's
  try {
    TLQ_AT(prepareOut(out_));
    TableFiles files = TLQ_AT(TableFiles(out_, "", 0));
    WorkbookSettings settings;
    settings.sheetRows = workbookSheetRows();
    settings.zones = zones_;
    settings.leading = {"recording"};
    int64_t modified = 0;
    for (const MergedRecording& r : recordings_) {
      settings.samples += r.samples;
      modified = std::max(modified, r.modified);
    }
    // The latest change of a recording: the same recordings give the same
    // workbook.
    settings.created = modified / 1'000'000'000;
    std::string file = files.finishForWriter();
    std::string tmp = folderOf(file);
    settings.tmpdir = tmp.empty() ? "." : tmp;
    TableWorkbook book = TLQ_AT(TableWorkbook(file, out_, columns_, settings));
    RowBlock out(columns_.size() + 1);
    TLQ_AT(mergeRows(
        cancel, &zones_, at, reading,
        [&](const MergedRecording& r, const RowBlock& rows, size_t row, const std::vector<size_t>& from,
            const std::string&) {
          out.beginRow();
          out.setText(0, r.name);
          for (size_t i = 0; i < from.size(); ++i) {
            if (from[i] == TableColumns::kAbsent) continue;
            const Cell& cell = rows.cell(row, from[i]);
            switch (cell.kind) {
              case CellKind::empty: break;
              case CellKind::number: out.setNumber(i + 1, cell.number); break;
              case CellKind::text: {
                const size_t start = out.text().size();
                out.text().append(rows.textOf(cell));
                out.setTextFrom(i + 1, start, cell.csvField);
                break;
              }
              case CellKind::dateTime: out.setDateTime(i + 1, rows.textOf(cell), cell.number); break;
            }
          }
          out.keepRow();
        },
        [&] {
          reading = false;  // a failure to write is OUT's
          book.put(out);
          out.clear();
          reading = true;
        }));
    std::vector<MergedSheetRow> list;
    list.reserve(recordings_.size());
    for (const MergedRecording& r : recordings_) {
      MergedSheetRow row{r.name, std::nullopt, std::nullopt, r.lines, r.repeated, r.dropped};
      if (!r.firstWritten.empty()) row.first = StampCell{r.firstWritten, r.firstSerial};
      if (!r.lastWritten.empty()) row.last = StampCell{r.lastWritten, r.lastSerial};
      list.push_back(std::move(row));
    }
    progress_.pass = MergeProgress::Pass::compressing;
    TLQ_AT(book.finishWithSheet([&](Book& sheets) { writeMergedSheet(sheets, list, zones_); },
                                [&](uint64_t bytes, double seconds) { progress_.finishing.start(file, bytes, seconds); }));
    TLQ_AT(putInPlace(files, cancel));
    return true;
  } catch (const ConversionCancelled&) {
    if (at < recordings_.size()) recordings_[at].state = MergedRecording::State::cancelled;
  } catch (...) {
    failed(reading ? &recordings_[at] : nullptr, handledFailure());
  }
  TraceFrame::forgetUnwound();
  return false;
}

}  // namespace tlq
