#include "batch/merge.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "batch/sweep.h"
#include "batch/table_files.h"
#include "convert/convert.h"
#include "convert/convert_workbook.h"
#include "convert/worker_crew.h"
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
        } else if ((r.checked = table.recording().checked())) {
          // The CSV merge reads each recording on one thread: its first
          // entry's place is all it walks from.
          std::vector<Recording::Mark>& marks = r.checked->summary.marks;
          marks.resize(std::min<size_t>(marks.size(), 1));
          marks.shrink_to_fit();
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

namespace {

// Where each of the campaign's columns is in a recording's own rows, read
// again for the merge. Raises the change when it now has other sensor groups
// than when the merge was planned.
std::vector<size_t> placesInCampaign(const MergedRecording& r, const TableColumns& own, const TableColumns& campaign) {
  if ((own.at(Column::inclino2Raw) != TableColumns::kAbsent) != r.inclino2 ||
      (own.at(Column::elastoRaw) != TableColumns::kAbsent) != r.elasto)
    throw recordingChanged(r.item.path);
  std::vector<size_t> from(campaign.size());
  for (size_t i = 0; i < campaign.size(); ++i) from[i] = own.at(campaign[i]);
  return from;
}

}  // namespace

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
    const std::vector<size_t> from = TLQ_AT(placesInCampaign(r, own, columns_));
    const size_t stampColumn = own.at(Column::timestamp);
    if (at + 1 == recordings_.size()) repeats.lastRecording();
    auto rows = [&](RowBlock& block) {
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
    // The workers wait for the workbook most of the time, each with a piece
    // done: small pieces keep its memory low, as for --xlsx.
    control.pieceBytes = 128 << 10;
    TLQ_AT(table.convertRows(dateTimes, control, rows));
    // The typed rows measure themselves.
    r.quality = table.quality().figures(settings_.intervalNanoseconds);
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

// The lines of a block of a recording's rows as the CSV merge writes them,
// prepared on a worker: all of what the recordings before have no say in.
struct PreparedLines {
  LineBlock lines;  // each with "recording" in front; the block's entries dropped, lines outside
  // Of each line without "recording", where a later recording may write
  // it again (RepeatCheck::concerns); else 0, and the writer makes it when
  // it must.
  std::vector<RepeatCheck::LineKey> keys;
  size_t nameBytes = 0;  // of "recording" and the separator after it, in front of each line
  std::vector<std::optional<StampTime>> places;  // each line's stamp in time; none without a stamp
  std::string stamps;                            // the lines' time stamps, one after another
  std::vector<size_t> stampEnds;                 // just past each line's ("" for none)
  uint64_t bytesDone = 0;  // of the recording converted before the block

  size_t bytes() const {
    constexpr size_t kPerLine =
        2 * sizeof(size_t) + sizeof(RepeatCheck::LineKey) + sizeof(std::optional<StampTime>);
    return lines.text.size() + stamps.size() + lines.ends.size() * kPerLine;
  }
  void clear() {
    lines.clear();
    keys.clear();
    places.clear();
    stamps.clear();
    stampEnds.clear();
    bytesDone = 0;
  }
};

// A recording as a worker prepares it for the writer.
struct PreparedRecording {
  std::deque<PreparedLines> blocks;  // prepared, not yet written
  size_t held = 0;                   // their bytes
  bool finished = false;             // no block comes after those
  std::exception_ptr failure;        // why it ended early: an Error, or ConversionCancelled
  // Once it was read again: what it gives now.
  bool opened = false;
  std::optional<Salvage> salvaged;
  std::optional<QualityFigures> quality;  // of its lines converted, once every one is
  double seconds = 0;                     // on the worker
};

namespace {

// Bytes of prepared lines a worker may keep waiting for the writer: beyond
// them the workers wait, so that memory is bounded by the workers, not by the
// campaign. Blocks are of kLinesPerWrite bytes of rows; a few dozen of them
// keep the workers going while the writer catches up.
constexpr size_t kPreparedPerWorker = 4 << 20;
// The writer, once it waits, is woken when this much of the recording it is
// at is prepared (or all of it): it writes faster than a worker prepares, and
// a wake for each block would cost more than the block's writing.
constexpr size_t kWakeWriterAt = 1 << 20;
static_assert(kWakeWriterAt < kPreparedPerWorker);

}  // namespace

void Merge::prepareLines(size_t at, const CsvFormat& fields, const std::atomic<bool>& cancel,
                         PreparedRecording& prepared, const std::function<void(PreparedLines&)>& give) const {
  const MergedRecording& r = recordings_[at];
  TLQ_OP("mergeRecording");
  // One thread per recording: the workers convert several at once.
  std::atomic<uint64_t> bytesDone{0};
  ConversionControl control{1, &cancel, &bytesDone, true};
  control.window = settings_.window;
  control.salvage = settings_.salvage;
  control.checked = r.checked ? &*r.checked : nullptr;
  RecordingTable table = TLQ_AT(RecordingTable(r.item.path, control));
  // Read again: what it gives now is what is merged.
  prepared.salvaged = table.recording().salvaged();
  prepared.opened = true;
  const TableColumns& own = table.tableColumns();
  const std::vector<size_t> from = TLQ_AT(placesInCampaign(r, own, columns_));
  const size_t stampColumn = own.at(Column::timestamp);
  QualityMeter meter(own);
  std::string name;  // its field "recording" and the separator after it
  quoteString(fields, r.name, name);
  name += fields.listSeparator;
  // The lines a later recording may write again: those at or after the
  // next recording's first stamp (RepeatCheck::concerns).
  std::optional<StampTime> next;
  if (at + 1 < recordings_.size() && recordings_[at + 1].firstStamp) next = orderOf(*recordings_[at + 1].firstStamp);
  PreparedLines lines;
  auto rows = [&](RowBlock& block) {
    meter.add(block);
    LineBlock& out = lines.lines;
    lines.nameBytes = name.size();
    for (size_t row = 0; row < block.rows(); ++row) {
      out.text += name;
      const size_t start = out.text.size();
      makeLine(fields, block, row, from, out.text);
      const Cell& stamp = block.cell(row, stampColumn);
      std::optional<StampTime> place;
      if (stamp.kind != CellKind::empty) {
        const std::string_view text = block.textOf(stamp);
        place = orderOf(text);
        lines.stamps += text;
      }
      const bool keyed = !place || !next || !(*place < *next);
      lines.keys.push_back(keyed ? RepeatCheck::keyOf(std::string_view(out.text).substr(start)) : 0);
      lines.places.push_back(place);
      out.text += "\r\n";
      out.ends.push_back(out.text.size());
      lines.stampEnds.push_back(lines.stamps.size());
    }
    out.dropped = block.dropped;
    out.outside = block.outside;
    lines.bytesDone = bytesDone.load(std::memory_order_relaxed);
    give(lines);
  };
  TLQ_AT(table.convertCsvRows(control, rows));
  prepared.quality = meter.figures(settings_.intervalNanoseconds);
  TLQ_AT(table.recording().requireUnreplaced());
}

void Merge::mergeLines(const std::atomic<bool>& cancel, size_t& at, bool& reading,
                       const std::function<void(const LineBlock&)>& put) {
  // The workers' traces go on from this frame: it keeps its line while they
  // run.
  TLQ_OP("mergeRows");
  // The fields of a line but "recording": what a repeat is told by.
  const CsvFormat fields = newCsvFormat(columns_.names(), settings_.listSeparator, settings_.decimalSeparator);
  progress_.pass = MergeProgress::Pass::merging;
  const size_t count = recordings_.size();
  if (at >= count) return;
  std::vector<PreparedRecording> prepared(count);
  // A thread is woken only when what it waits for may have come: the
  // writer when the recording it is at has a block or its end, a worker when
  // prepared lines were written or the writer moved on.
  std::mutex mutex;
  std::condition_variable ready, room;
  size_t next = at;     // the recording a worker takes up next
  size_t writing = at;  // the recording the writer is at
  size_t held = 0;      // bytes prepared and not yet written, of every recording
  bool stop = false;    // the writer is done or gave up
  bool failedAhead = false;  // a recording failed: none after it is taken up
  bool writerWaits = false;
  unsigned workersWaiting = 0;
  const unsigned threads =
      static_cast<unsigned>(std::clamp<size_t>(count - at, 1, std::max(settings_.threads, 1u)));
  const size_t budget = threads * kPreparedPerWorker;
  // Blocks written, emptied, for the workers' next ones: their memory is
  // reused instead of returned to the system and faulted in again.
  std::vector<PreparedLines> spare;
  const size_t spareAtMost = 4 * static_cast<size_t>(threads);
  const TraceFrame* caller = TraceFrame::top();

  auto worker = [&] {
    TraceFrame::Continuation trace(caller);
    for (;;) {
      size_t i;
      {
        std::unique_lock lock(mutex);
        auto mayTake = [&] { return stop || failedAhead || next == count || held < budget; };
        if (!mayTake()) {
          ++workersWaiting;
          room.wait(lock, mayTake);
          --workersWaiting;
        }
        if (stop || failedAhead || next == count) return;
        i = next++;
      }
      PreparedRecording& p = prepared[i];
      const auto start = std::chrono::steady_clock::now();
      std::exception_ptr failure;
      try {
        prepareLines(i, fields, cancel, p, [&](PreparedLines& lines) {
          bool wake;
          {
            std::unique_lock lock(mutex);
            // The recording being written waits only for its own lines:
            // the writer takes those next.
            auto mayGive = [&] { return stop || (i == writing ? p.held : held) < budget; };
            if (!mayGive()) {
              ++workersWaiting;
              room.wait(lock, mayGive);
              --workersWaiting;
            }
            if (stop) throw ConversionCancelled();  // no failure: the writer is gone
            const size_t bytes = lines.bytes();
            p.held += bytes;
            held += bytes;
            p.blocks.push_back(std::move(lines));
            lines.clear();
            if (!spare.empty()) {
              std::swap(lines, spare.back());
              spare.pop_back();
            }
            wake = writerWaits && i == writing && p.held >= kWakeWriterAt;
          }
          if (wake) ready.notify_one();
        });
      } catch (const ConversionCancelled&) {
        failure = std::current_exception();
      } catch (...) {
        failure = handledFailure();
      }
      TraceFrame::forgetUnwound();
      bool wake;
      {
        std::lock_guard lock(mutex);
        p.seconds = secondsSince(start);
        p.failure = failure;
        p.finished = true;
        failedAhead = failedAhead || failure;
        wake = writerWaits && i == writing;
      }
      if (wake) ready.notify_one();
    }
  };

  WorkerCrew crew(threads, worker, mutex, room, stop);

  RepeatCheck repeats;
  PreparedLines block;
  for (; at < count; ++at) {
    MergedRecording& r = recordings_[at];
    PreparedRecording& p = prepared[at];
    // The next recording's first stamp: the lines before it are let go when
    // this one is done.
    std::optional<StampTime> following;
    if (at + 1 < count && recordings_[at + 1].firstStamp) following = orderOf(*recordings_[at + 1].firstStamp);
    if (at + 1 == count) repeats.lastRecording();
    reading = true;
    TLQ_OP("mergeRecording");
    progress_.started.store(at);
    progress_.underWay.store(0);
    double seconds = 0;  // writing its lines
    for (;;) {
      bool wake;
      {
        std::unique_lock lock(mutex);
        if (p.blocks.empty() && !p.finished) {
          writerWaits = true;
          ready.wait(lock, [&] { return p.held >= kWakeWriterAt || p.finished; });
          writerWaits = false;
        }
        if (p.blocks.empty()) break;  // every block written, and none comes
        std::swap(block, p.blocks.front());
        p.blocks.pop_front();
        const size_t bytes = block.bytes();
        p.held -= bytes;
        held -= bytes;
        wake = workersWaiting > 0;
      }
      if (wake) room.notify_all();
      if (cancel.load()) throw ConversionCancelled();
      const auto start = std::chrono::steady_clock::now();
      // The lines no earlier recording wrote, moved together in place.
      LineBlock& lines = block.lines;
      size_t kept = 0, to = 0, from = 0, stamped = SIZE_MAX;
      for (size_t k = 0; k < lines.ends.size(); from = lines.ends[k++]) {
        if (repeats.concerns(block.places[k], following)) {
          const RepeatCheck::LineKey key =
              block.keys[k] ? block.keys[k]
                            : RepeatCheck::keyOf(std::string_view(lines.text)
                                                     .substr(from + block.nameBytes,
                                                             lines.ends[k] - 2 - from - block.nameBytes));
          if (repeats.repeated(key, block.places[k])) {
            ++r.repeated;
            continue;
          }
        }
        const size_t stampFrom = k ? block.stampEnds[k - 1] : 0;
        if (block.stampEnds[k] > stampFrom) {
          if (r.firstWritten.empty()) r.firstWritten = block.stamps.substr(stampFrom, block.stampEnds[k] - stampFrom);
          stamped = k;
        }
        ++r.lines;
        const size_t end = lines.ends[k];
        if (to != from) std::memmove(lines.text.data() + to, lines.text.data() + from, end - from);
        to += end - from;
        lines.ends[kept++] = to;
      }
      if (stamped != SIZE_MAX) {
        const size_t stampFrom = stamped ? block.stampEnds[stamped - 1] : 0;
        r.lastWritten.assign(block.stamps, stampFrom, block.stampEnds[stamped] - stampFrom);
      }
      lines.text.resize(to);
      lines.ends.resize(kept);
      reading = false;  // a failure to write is OUT's
      put(lines);
      reading = true;
      r.dropped += lines.dropped;
      r.outside += lines.outside;
      progress_.underWay.store(block.bytesDone);
      seconds += secondsSince(start);
      block.clear();
      {
        std::lock_guard lock(mutex);
        if (spare.size() < spareAtMost) {
          spare.push_back(std::move(block));
          block.clear();
        }
      }
    }
    if (p.opened) r.salvaged = p.salvaged;
    r.seconds += p.seconds + seconds;
    if (p.failure) std::rethrow_exception(p.failure);
    r.quality = p.quality;
    repeats.recordingDone(following);
    r.state = MergedRecording::State::merged;
    reading = false;
    progress_.mergedBytes += r.item.size;
    progress_.underWay.store(0);
    ++progress_.merged;
    bool wake;
    {
      std::lock_guard lock(mutex);
      writing = at + 1;
      wake = workersWaiting > 0;
    }
    if (wake) room.notify_all();
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
    TLQ_AT(mergeLines(cancel, at, reading, [&](const LineBlock& lines) { files->put(lines); }));
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
    {  // the library done with its folder before OUT goes in
      LibraryFolder library(file);
      settings.tmpdir = library.path();
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
      TLQ_AT(book.finishWithSheet(
          [&](Book& sheets) { writeMergedSheet(sheets, list, zones_); },
          [&](uint64_t bytes, double seconds) { progress_.finishing.start(file, bytes, seconds); }));
    }
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
