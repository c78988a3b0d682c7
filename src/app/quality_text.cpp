#include "app/quality_text.h"

#include <algorithm>

#include "app/batch_text.h"

namespace tlq {

namespace {

std::string counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string salvagedLine(const std::string& path, const Salvage& salvage) {
  return displayText("salvaged: " + path + ": " + salvageText(salvage));
}

std::string secondsFigure(double seconds) {
  std::string text = fixedText(seconds, 3);
  if (text.find('.') != std::string::npos) {
    while (text.back() == '0') text.pop_back();
    if (text.back() == '.') text.pop_back();
  }
  return text;
}

std::string checkTotalsLine(const BatchTotals& t) {
  std::string line = t.cancelled ? "cancelled: " : "";
  line += counted(t.converted, "recording", "recordings") + " checked, " + std::to_string(t.withFindings) +
          " with findings, " + std::to_string(t.failed) + " failed";
  if (t.notConverted > 0) line += ", " + std::to_string(t.notConverted) + " not checked";
  line += ", " + counted(t.lines, "line", "lines") + " read, " + counted(t.dropped, "entry", "entries") +
          " dropped for a failed CRC, ";
  if (t.window) line += counted(t.outside, "line", "lines") + " outside the window, ";
  line += megabytes(t.bytesRead) + " MB read in " + secondsText(t.seconds) + " s";
  return line;
}

std::string checkSummaryMessage(const BatchTotals& t, size_t recordings) {
  if (recordings == 0 && !t.searchCut) return "No recordings (*.tlq) were found.";
  std::string text = t.cancelled          ? "The check was cancelled.\n\n"
                     : t.failed > 0       ? "Some recordings could not be read.\n\n"
                     : t.withFindings > 0 ? "Some recordings have findings.\n\n"
                                          : "No recording has a finding.\n\n";
  if (t.searchCut) text += "The search for recordings was cut short: only those found are counted.\n\n";
  text += std::to_string(t.converted) + " of " + counted(recordings, "recording", "recordings") + " checked, " +
          std::to_string(t.withFindings) + " with findings, " + std::to_string(t.failed) + " failed.\n" +
          counted(t.lines, "line", "lines") + " read, " + counted(t.dropped, "entry", "entries") +
          " dropped for a failed CRC.\n" + megabytes(t.bytesRead) + " MB read in " + secondsText(t.seconds) + " s.";
  return text;
}

std::string findingsCount(size_t recordings) { return counted(recordings, "recording", "recordings") + " with findings"; }

std::vector<std::string> findingLines(const std::string& path, const QualityFigures& f) {
  std::vector<std::string> lines;
  if (f.gaps > 0) {
    std::string line = "gaps: " + path + ": " + counted(f.gaps, "gap", "gaps") + ", " +
                       counted(f.samplesMissing, "sample", "samples") + " missing";
    if (f.longestGapSeconds)
      line += ", the longest " + secondsFigure(*f.longestGapSeconds) + " s from " + displayText(f.longestGapAt);
    lines.push_back(line);
  }
  if (f.notAfter > 0)
    lines.push_back("order: " + path + ": " + counted(f.notAfter, "time stamp", "time stamps") +
                    " not after the one before (first at line " + std::to_string(f.firstNotAfterLine.value_or(0)) +
                    ")");
  if (f.unreadableAny()) {
    std::string line = "unreadable: " + path + ": ";
    bool first = true;
    for (size_t g = 0; g < kSensorGroups; ++g) {
      if (!f.unreadable[g] || *f.unreadable[g] == 0) continue;
      line += (first ? "" : ", ") + std::string(sensorGroupName(static_cast<SensorGroup>(g))) + " " +
              counted(*f.unreadable[g], "line", "lines");
      first = false;
    }
    lines.push_back(line);
  }
  return lines;
}

const std::vector<const char*>& qualityLogColumns() {
  static const std::vector<const char*> kColumns = {
      "interval s",         "gaps",
      "samples missing",    "longest gap s",
      "longest gap at",     "stamps not after the one before",
      "first not after at line", "lines without a time stamp",
      "unreadable inclino1", "unreadable inclino2",
      "unreadable elasto",  "unreadable force"};
  return kColumns;
}

std::string qualityLogFields(const std::optional<QualityFigures>& figures, char separator, char decimal,
                             std::string (*field)(const std::string& text, char separator)) {
  const std::string sep(1, separator);
  if (!figures) {
    std::string empty;
    for (size_t i = 0; i < qualityLogColumns().size(); ++i) empty += sep;
    return empty;
  }
  const QualityFigures& f = *figures;
  auto seconds = [&](double s) {
    std::string text = fixedText(s, 3);
    std::replace(text.begin(), text.end(), '.', decimal);
    return field(text, separator);
  };
  auto count = [](uint64_t n) { return std::to_string(n); };
  const bool interval = f.intervalSeconds.has_value();
  std::string text;
  text += sep + (interval ? seconds(*f.intervalSeconds) : "");
  text += sep + (interval ? count(f.gaps) : "");
  text += sep + (interval ? count(f.samplesMissing) : "");
  text += sep + (f.longestGapSeconds ? seconds(*f.longestGapSeconds) : "");
  text += sep + (f.longestGapSeconds ? field(f.longestGapAt, separator) : "");
  text += sep + count(f.notAfter);
  text += sep + (f.firstNotAfterLine ? count(*f.firstNotAfterLine) : "");
  text += sep + count(f.withoutStamp);
  for (const auto& n : f.unreadable) text += sep + (n ? count(*n) : "");
  return text;
}

}  // namespace tlq
