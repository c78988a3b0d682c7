#include "convert/convert.h"

#include <algorithm>
#include <limits>
#include <optional>
#include <string_view>
#include <thread>
#include <vector>

#include "convert/ordered_work.h"
#include "convert/recording.h"
#include "convert/table_files.h"
#include "csv/csv.h"
#include "error.h"
#include "platform/file.h"
#include "platform/system.h"
#include "sensors/force_elasto.h"
#include "sensors/frames.h"
#include "sensors/inclino.h"
#include "sensors/pattern.h"
#include "text.h"

namespace tlq {
namespace {

constexpr size_t kAbsent = static_cast<size_t>(-1);

// Where each column of the file stands; kAbsent for a group left out.
struct Columns {
  struct Inclino {
    size_t raw = kAbsent, x = kAbsent, y = kAbsent;
  };
  size_t timestamp = kAbsent;
  Inclino inclino1, inclino2;
  size_t elastoRaw = kAbsent, elastoRawA = kAbsent, elastoRawB = kAbsent;
  size_t elastoA = kAbsent, elastoB = kAbsent;
  size_t forceRaw = kAbsent, forceKg = kAbsent;
  std::vector<std::string> names;

  Columns(bool withInclino2, bool withElasto) {
    timestamp = add("timestamp");
    inclino1 = {add("inclino1_raw"), add("inclino1_x"), add("inclino1_y")};
    if (withInclino2) inclino2 = {add("inclino2_raw"), add("inclino2_x"), add("inclino2_y")};
    if (withElasto) {
      elastoRaw = add("elasto_raw");
      elastoRawA = add("elasto_raw_a");
      elastoRawB = add("elasto_raw_b");
      elastoA = add("elasto_a_um");
      elastoB = add("elasto_b_um");
    }
    forceRaw = add("force_raw");
    forceKg = add("force_kg");
  }

 private:
  size_t add(const char* name) {
    names.emplace_back(name);
    return names.size() - 1;
  }
};

enum class CrcRule { dropOnBadCrc, keepDq7 };

// Turns entries into CSV lines, gathered in the caller's buffer.
class EntryConverter {
 public:
  EntryConverter(const Columns& columns, const CsvFormat& format)
      : columns_(columns), format_(format), row_(columns.names.size()) {}

  // Appends the entry's line to `lines`, or counts it dropped for a failed
  // CRC; nothing for an entry that fails.
  void convert(const RecordingEntry& entry, LineBlock& lines) {
    TLQ_OP("convertEntry");
    if (!entry.isObject) throw ValueError(where(entry) + " is not a JSON object");
    row_.clear();
    if (const JsonField* raw = rawOf(entry, entry.inclino, "inclino")) {
      if (entry.inclino.timestamp.present()) row_.setText(columns_.timestamp, entry.inclino.timestamp.textOf());
      if (!TLQ_AT(putInclino(raw->textOf(), columns_.inclino1, CrcRule::dropOnBadCrc))) {
        ++lines.dropped;
        return;
      }
    }
    if (const JsonField* raw = rawOf(entry, entry.inclino2, "inclino2")) {
      if (!TLQ_AT(putInclino(raw->textOf(), columns_.inclino2, CrcRule::keepDq7))) {
        ++lines.dropped;
        return;
      }
    }
    if (const JsonField* raw = rawOf(entry, entry.force, "force")) TLQ_AT(putForce(raw->textOf()));
    if (const JsonField* raw = rawOf(entry, entry.dlen, "dlen")) TLQ_AT(putElasto(raw->textOf(), entry.dlen));

    makeLine(format_, row_, lines.text);
    lines.text += "\r\n";
    lines.ends.push_back(lines.text.size());
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

  // Fills one inclinometer's three columns; false when the entry is dropped
  // for a failed CRC.
  bool putInclino(std::string_view raw, const Columns::Inclino& cols, CrcRule rule) {
    double x = 0, y = 0;
    switch (detectInclinoType(raw)) {
      case InclinoType::inclinoText: {
        // The lines joined: every CR LF becomes a space.
        std::string& text = row_.text(cols.raw);
        const char* end = raw.data() + raw.size();
        for (const char* p = raw.data();;) {
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
        toCsvField(frame, row_.csvText(cols.raw));
        x = frame.A_deg;
        y = frame.B_deg;
        break;
      }
      case InclinoType::inclinoRk: {
        RkInclino frame = parse_rk_inclino(raw);
        if (!frame.CRC_OK) return false;
        toCsvField(frame, row_.csvText(cols.raw));
        x = frame.X_deg;
        y = frame.Y_deg;
        break;
      }
    }
    row_.setNumber(cols.x, roundTo3(x));
    row_.setNumber(cols.y, roundTo3(y));
    return true;
  }

  void putForce(std::string_view raw) {
    // The display line without its unit letters.
    std::string& text = row_.text(columns_.forceRaw);
    const char* end = raw.data() + raw.size();
    for (const char* p = raw.data();;) {
      const char* unit = findAnyOf(p, end, 'N', 'M');
      text.append(p, unit);
      if (unit == end) break;
      p = unit + 1;
    }
    row_.setNumber(columns_.forceKg, parseForce(raw));
  }

  void putElasto(std::string_view raw, const SensorObject& dlen) {
    row_.setText(columns_.elastoRaw, raw);
    auto [a, b] = parseElasto(raw);
    row_.setNumber(columns_.elastoRawA, a);
    row_.setNumber(columns_.elastoRawB, b);
    if (!dlen.val1.present()) throw KeyError("key not found: val1");
    row_.setNumber(columns_.elastoA, dlen.val1.numberOf());
    if (!dlen.val2.present()) throw KeyError("key not found: val2");
    row_.setNumber(columns_.elastoB, dlen.val2.numberOf());
  }

  const Columns& columns_;
  const CsvFormat& format_;
  CsvRow row_;
  PatternScratch patternScratch_;  // for the decoders' patterns, on this converter's thread
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

// Hands the lines of every entry to `take`, in order: converted on this
// thread, or in ranges of entries on worker threads, each range into a block
// of its own, taken strictly in entry order. Either way a failure at entry k
// leaves the lines of the entries before k taken, and nothing after.
void convertEntries(const Recording& recording, const Columns& columns, const CsvFormat& format,
                    const ConversionControl& control, const std::function<void(LineBlock&)>& take) {
  unsigned threads = control.threads ? control.threads : threadCount(recording.size());
  std::vector<EntryRange> ranges;
  if (threads > 1)
    ranges = control.pieceBytes ? recording.ranges(control.pieceBytes) : conversionRanges(recording, threads);
  auto handOver = [&](LineBlock& lines, uint64_t bytesDone) {
    if (!control.linesHiddenUntilTheEnd || bytesDone == recording.size()) recording.requireUnchanged();
    take(lines);
    lines.clear();
    if (control.bytesDone) control.bytesDone->store(bytesDone, std::memory_order_relaxed);
  };
  if (ranges.size() < 2) {
    EntryConverter converter(columns, format);
    LineBlock lines;
    bool handing = false;
    const uint64_t entries = std::max<uint64_t>(recording.entries(), 1);
    try {
      recording.forEachEntry([&](const RecordingEntry& entry) {
        stopIfCancelled(control);
        converter.convert(entry, lines);
        if (lines.text.size() < kLinesPerWrite) return;
        handing = true;
        handOver(lines, recording.size() * (entry.index + 1) / entries);
        handing = false;
      });
    } catch (const ConversionCancelled&) {
      throw;
    } catch (...) {
      if (!handing) handOver(lines, 0);  // the lines before the failing entry
      throw;
    }
    handOver(lines, recording.size());
    return;
  }
  runInOrder<LineBlock>(
      ranges.size(), threads,
      [&](size_t i, LineBlock& lines) {
        stopIfCancelled(control);
        // The lines take about one and a half times the entries' text.
        size_t end = i + 1 < ranges.size() ? ranges[i + 1].offset : recording.size();
        lines.text.reserve((end - ranges[i].offset) * 2);
        EntryConverter converter(columns, format);
        recording.forEachEntry([&](const RecordingEntry& entry) { converter.convert(entry, lines); }, ranges[i]);
      },
      [&, taken = size_t{0}](LineBlock& lines) mutable {
        ++taken;
        handOver(lines, taken < ranges.size() ? ranges[taken].offset : recording.size());
      });
}

}  // namespace

RecordingTable::RecordingTable(const std::string& path, const ConversionControl& control)
    : recording_(path, [&control](size_t bytes) { return control.threads ? control.threads : threadCount(bytes); }) {
  inclino2_ = recording_.hasInclino2();
  elasto_ = recording_.hasElasto();
  columns_ = Columns(inclino2_, elasto_).names;
}

void RecordingTable::convert(const CsvFormat& format, const ConversionControl& control,
                             const std::function<void(LineBlock&)>& take) const {
  convertEntries(recording_, Columns(inclino2_, elasto_), format, control, take);
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

std::string mainConvert(const std::string& path) {
  TLQ_OP("mainConvert");
  std::string csvPath = csvPathFor(path);
  RecordingTable table = TLQ_AT(RecordingTable(path, {}));
  CsvFormat format = TLQ_AT(newCsvFormat(table.columns()));
  TLQ_AT(refuseToOverwrite(table.recording(), csvPath));
  OutputFile out = TLQ_AT(OutputFile(csvPath));
  try {
    TLQ_AT(out.write(makeHeader(format) + "\r\n"));
    TLQ_AT(table.convert(format, {}, [&](LineBlock& lines) { out.write(lines.text); }));
    TLQ_AT(table.recording().requireUnreplaced());
    TLQ_AT(out.close());
  } catch (...) {
    // The lines before the failure stay, dated before the recording, so that
    // a batch's --update never takes them for its whole table.
    out.abandon();
    datePartialTable(csvPath, path);
    throw;
  }
  return csvPath;
}

}  // namespace tlq
