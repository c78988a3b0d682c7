#include "app/batch_log.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/log_file.h"
#include "app/quality_text.h"
#include "batch/batch.h"
#include "batch/merge.h"
#include "error.h"
#include "platform/console.h"
#include "text.h"

namespace tlq {

namespace {

// A field of the log's quality columns.
std::string qualityLogField(const std::string& text, char separator) { return logField(utf8Text(text), separator); }

// One recording's line of the log, its fields as they are written.
struct LogLine {
  std::string recording;
  std::vector<std::string> tables;
  const char* outcome = "";
  uint64_t lines = 0, dropped = 0, bytesRead = 0;
  std::optional<double> seconds;                 // none: an empty field
  const RecordingFailure* failure = nullptr;     // none: empty fields
  std::vector<std::string> staleKept, staleRemoved;
  const std::optional<QualityFigures>* quality = nullptr;  // none: empty fields
  std::optional<uint64_t> repeated, outside;     // the merge's column, the window's
};

// The header: the columns every log has, the quality columns, then those of
// the merge and of the window where they are.
std::string logHeader(char separator, bool repeated, bool window) {
  const std::string sep(1, separator);
  std::vector<const char*> columns = {"recording",  "tables",     "outcome", "data lines",
                                      "entries dropped for a failed CRC", "bytes read", "seconds",
                                      "error kind", "error message", "report", "stale parts",
                                      "stale parts removed"};
  for (const char* column : qualityLogColumns()) columns.push_back(column);
  if (repeated) columns.push_back("repeated lines left out");
  if (window) columns.push_back("lines outside the window");
  std::string text = "\xEF\xBB\xBF";
  for (const char* column : columns) text += (text.size() == 3 ? "" : sep) + column;
  return text + "\r\n";
}

std::string logLine(const LogLine& line, char separator, char decimal) {
  const std::string sep(1, separator);
  auto field = [&](std::string_view text) { return logField(utf8Text(text), separator); };
  auto list = [](const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names) text += (text.empty() ? "" : "\n") + name;
    return text;
  };
  std::string seconds;
  if (line.seconds) {
    seconds = fixedText(*line.seconds, 3);
    std::replace(seconds.begin(), seconds.end(), '.', decimal);
  }
  static const RecordingFailure none;
  const RecordingFailure& f = line.failure ? *line.failure : none;
  return field(line.recording) + sep + field(list(line.tables)) + sep + line.outcome + sep +
         std::to_string(line.lines) + sep + std::to_string(line.dropped) + sep + std::to_string(line.bytesRead) +
         sep + field(seconds) + sep + field(f.kind) + sep +
         field(f.kind.empty() ? "" : withReason(f.message, f.reason)) + sep +
         field(f.report.empty() ? f.noReport : f.report) + sep + field(list(line.staleKept)) + sep +
         field(list(line.staleRemoved)) +
         qualityLogFields(line.quality ? *line.quality : std::nullopt, separator, decimal, qualityLogField) +
         (line.repeated ? sep + std::to_string(*line.repeated) : "") +
         (line.outside ? sep + std::to_string(*line.outside) : "") + "\r\n";
}

const char* outcomeOf(BatchResult::State state) {
  switch (state) {
    case BatchResult::State::converted: return "converted";
    case BatchResult::State::failed: return "failed";
    case BatchResult::State::upToDate: return "up to date";
    case BatchResult::State::waiting:
    case BatchResult::State::cancelled: break;
  }
  return "cancelled";
}

// The batch's outcome: that of the state, "checked" for a recording --check
// read, "salvaged" for one whose text broke, converted up to the fault.
const char* outcome(const BatchResult& result, bool checked) {
  if (result.state != BatchResult::State::converted) return outcomeOf(result.state);
  return result.salvaged ? "salvaged" : checked ? "checked" : "converted";
}

const char* outcomeOf(MergedRecording::State state) {
  switch (state) {
    case MergedRecording::State::merged: return "merged";
    case MergedRecording::State::failed: return "failed";
    case MergedRecording::State::waiting:
    case MergedRecording::State::planned: return "not merged";
    case MergedRecording::State::cancelled: break;
  }
  return "cancelled";
}

// The merge's outcome; "salvaged" for a recording whose text broke, merged
// up to the fault.
const char* outcomeOf(const MergedRecording& r) {
  if (r.state == MergedRecording::State::merged && r.salvaged) return "salvaged";
  return outcomeOf(r.state);
}

}  // namespace

std::string batchLogText(const Batch& batch, const std::vector<RecordingFailure>& failures,
                         const std::vector<std::string>& cutShort, char separator, char decimal, bool checked,
                         bool window) {
  std::string text = logHeader(separator, false, window);
  for (size_t i = 0; i < batch.items().size(); ++i) {
    const BatchResult& result = batch.results()[i];
    const BatchItem& item = batch.items()[i];
    const bool read = result.state == BatchResult::State::converted || result.state == BatchResult::State::failed;
    LogLine line;
    line.recording = item.path;
    line.tables = result.tables;
    line.outcome = outcome(result, checked);
    line.lines = result.lines;
    line.dropped = result.dropped;
    line.bytesRead = read ? item.size : 0;
    line.seconds = result.seconds;
    line.failure = &failures[i];
    for (const StalePart& part : result.stale) (part.removed ? line.staleRemoved : line.staleKept).push_back(part.path);
    line.quality = &result.quality;
    if (window) line.outside = result.outside;
    text += logLine(line, separator, decimal);
  }
  for (const std::string& path : cutShort) {
    LogLine line;
    line.recording = path;
    line.outcome = "search cut short";
    if (window) line.outside = 0;
    text += logLine(line, separator, decimal);
  }
  return text;
}

std::string mergeLogText(const Merge& merge, const std::vector<RecordingFailure>& failures, bool window,
                         char separator, char decimal) {
  std::string text = logHeader(separator, true, window);
  for (size_t i = 0; i < merge.recordings().size(); ++i) {
    const MergedRecording& r = merge.recordings()[i];
    const bool merged = r.state == MergedRecording::State::merged;
    LogLine line;
    line.recording = r.name;
    if (merged) line.tables = merge.parts();
    line.outcome = outcomeOf(r);
    line.lines = r.lines;
    line.dropped = r.dropped;
    line.bytesRead = r.item.size;
    line.seconds = r.seconds;
    line.failure = &failures[i];
    if (merged) line.quality = &r.quality;
    line.repeated = r.repeated;
    if (window) line.outside = r.outside;
    text += logLine(line, separator, decimal);
  }
  return text;
}

bool writeLogOrTell(const std::string& path, const std::string& text) {
  try {
    writeLog(path, text);
    return true;
  } catch (const Error& e) {
    TraceFrame::forgetUnwound();
    writeText(stderr, "tlqconverter: cannot write the log: " + displayText(path) + " (" +
                          displayText(withReason(e.message(), e.reason())) + ")\n");
    return false;
  }
}

}  // namespace tlq
