#include "convert/merge.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <thread>

#include "convert/convert.h"
#include "convert/table_files.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/folders.h"
#include "platform/system.h"

namespace tlq {

namespace {

// FNV-1a over the bytes: the second hash of a line, independent of the
// library's.
uint64_t fnv1a(std::string_view text) {
  uint64_t h = 14695981039346656037ull;
  for (char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= 1099511628211ull;
  }
  return h;
}

// Where a stamp at or after `next` stands, or one without a place in time:
// it may come again in the next recording.
bool mayComeAgain(const std::optional<StampTime>& stamp, const std::optional<StampTime>& next) {
  return !next || !stamp || *stamp >= *next;
}

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

bool RepeatCheck::repeated(std::string_view line, const std::optional<StampTime>& stamp) {
  Key key{std::hash<std::string_view>{}(line), fnv1a(line)};
  if (earlier_.count(key)) return true;
  current_.emplace_back(key, stamp);
  return false;
}

void RepeatCheck::recordingDone(const std::optional<StampTime>& next) {
  if (next)
    for (auto i = earlier_.begin(); i != earlier_.end();)
      i = mayComeAgain(i->second, next) ? std::next(i) : earlier_.erase(i);
  for (const auto& [key, stamp] : current_)
    if (mayComeAgain(stamp, next)) earlier_.emplace(key, stamp);
  current_.clear();
  current_.shrink_to_fit();
}

Merge::Merge(std::vector<BatchItem> items, std::string out, const MergeSettings& settings)
    : out_(std::move(out)), settings_(settings) {
  recordings_.reserve(items.size());
  for (BatchItem& item : items) {
    MergedRecording r;
    r.name = slashed(item.relative.empty() ? item.path : item.relative);
    r.item = std::move(item);
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
        r.state = MergedRecording::State::planned;
      } catch (const ConversionCancelled&) {
        r.state = MergedRecording::State::cancelled;
      } catch (...) {
        r.state = MergedRecording::State::failed;
        r.failure = handledFailure();
      }
      TraceFrame::forgetUnwound();
      r.seconds = secondsSince(start);
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

bool Merge::writeCsv(const std::atomic<bool>& cancel) {
  TLQ_OP("writeMerge");
  std::vector<std::string> names = columns_.names();
  std::vector<std::string> header = names;
  header.insert(header.begin(), "recording");
  const CsvFormat format = newCsvFormat(header, settings_.listSeparator, settings_.decimalSeparator);
  const CsvFormat fields = newCsvFormat(names, settings_.listSeparator, settings_.decimalSeparator);
  std::optional<TableFiles> files;
  RepeatCheck repeats;
  size_t at = 0;
  bool reading = false;  // a failure now is the recording's, not OUT's
  try {
    std::string folder = folderOf(linkTarget(out_));
    if (!folder.empty() && !makeFolders(folder)) {
      std::string reason = lastSystemError();
      throw IoError("cannot open: " + out_).withReason(reason);
    }
    TLQ_AT(requireReplaceable(out_));  // at once, not after the work
    files.emplace(out_, makeHeader(format) + "\r\n", settings_.splitRows);
    LineBlock out;
    std::string line, field;
    for (; at < recordings_.size(); ++at) {
      MergedRecording& r = recordings_[at];
      const auto start = std::chrono::steady_clock::now();
      reading = true;
      TLQ_OP("mergeRecording");
      ConversionControl control{0, &cancel, nullptr, true};
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
      std::string name;
      quoteString(format, r.name, name);
      name += format.listSeparator;
      TLQ_AT(table.convertCsvRows(control, [&](RowBlock& rows) {
        out.clear();
        for (size_t row = 0; row < rows.rows(); ++row) {
          line.clear();
          makeLine(fields, rows, row, from, line);
          const Cell& stamp = rows.cell(row, stampColumn);
          std::string_view stampText = stamp.kind == CellKind::empty ? std::string_view() : rows.textOf(stamp);
          if (repeats.repeated(line, stamp.kind == CellKind::empty ? std::nullopt : orderOf(stampText))) {
            ++r.repeated;
            continue;
          }
          if (!stampText.empty()) {
            if (r.firstWritten.empty()) r.firstWritten = stampText;
            r.lastWritten = stampText;
          }
          out.text += name;
          out.text += line;
          out.text += "\r\n";
          out.ends.push_back(out.text.size());
        }
        files->put(out);
        r.lines += out.ends.size();
        r.dropped += rows.dropped;
        r.outside += rows.outside;
      }));
      TLQ_AT(table.recording().requireUnreplaced());
      std::optional<StampTime> next;
      if (at + 1 < recordings_.size() && recordings_[at + 1].firstStamp)
        next = orderOf(*recordings_[at + 1].firstStamp);
      repeats.recordingDone(next);
      r.state = MergedRecording::State::merged;
      r.seconds += secondsSince(start);
      reading = false;
    }
    TLQ_AT(files->finish());
    for (const std::string& part : files->parts()) {
      std::string recording = recordingAt(part);
      if (!recording.empty()) throw IoError("cannot open: " + part + " (it is the recording " + recording + ")");
    }
    if (cancel.load()) throw ConversionCancelled();
    TLQ_AT(files->commit());
    parts_ = files->parts();
    swept_ = files->swept();
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
