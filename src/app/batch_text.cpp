#include "app/batch_text.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "app/quality_text.h"
#include "csv/csv.h"
#include "platform/folders.h"
#include "text.h"

namespace tlq {

namespace {

std::string fixed(double value, int decimals) {
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  return ec == std::errc() ? std::string(buf, end) : "?";
}

std::string counted(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

// "0:07", "12:34", "1:02:03".
std::string clockText(double seconds) {
  auto s = static_cast<uint64_t>(std::ceil(seconds));
  std::string mm = std::to_string(s / 60 % 60), ss = std::to_string(s % 60);
  if (ss.size() < 2) ss = "0" + ss;
  if (s < 3600) return std::to_string(s / 60) + ":" + ss;
  if (mm.size() < 2) mm = "0" + mm;
  return std::to_string(s / 3600) + ":" + mm + ":" + ss;
}

std::string fixedText(double value, int decimals) { return fixed(value, decimals); }

std::string megabytes(uint64_t bytes) { return fixed(static_cast<double>(bytes) / 1e6, 1); }

std::string secondsText(double seconds) { return fixed(seconds, 2); }

std::string progressLine(size_t done, size_t total, uint64_t bytesDone, uint64_t bytesTotal, double seconds) {
  std::string line = std::to_string(done) + "/" + std::to_string(total) + " recordings, " + megabytes(bytesDone) +
                     "/" + megabytes(bytesTotal) + " MB";
  if (bytesDone >= bytesTotal && done < total) return line + ", finishing";  // not "0:00 left": it is not done
  if (seconds >= 0.25 && bytesDone > 0) {
    double rate = static_cast<double>(bytesDone) / seconds;
    line += ", " + fixed(rate / 1e6, 1) + " MB/s, " +
            clockText(static_cast<double>(bytesTotal - std::min(bytesDone, bytesTotal)) / rate) + " left";
  }
  return line;
}

std::string mergeProgressLine(const std::string& pass, size_t done, size_t total, uint64_t bytesDone,
                              uint64_t bytesTotal, double passSeconds, std::optional<double> secondsLeft) {
  std::string line = pass + ": " + std::to_string(done) + "/" + std::to_string(total) + " recordings, " +
                     megabytes(bytesDone) + "/" + megabytes(bytesTotal) + " MB";
  if (bytesDone >= bytesTotal && done < total) return line + ", finishing";  // not "0:00 left": it is not done
  if (passSeconds >= 0.25 && bytesDone > 0) line += ", " + fixed(static_cast<double>(bytesDone) / passSeconds / 1e6, 1) + " MB/s";
  if (secondsLeft) line += ", " + clockText(*secondsLeft) + " left";
  return line;
}

std::string phaseLine(const std::string& name, const std::string& phase, uint64_t done, uint64_t total,
                      std::optional<double> secondsLeft) {
  std::string line = name + ": " + phase + ", " + megabytes(done) + "/" + megabytes(total) + " MB";
  if (secondsLeft) line += ", " + clockText(*secondsLeft) + " left";
  return line;
}

namespace {

// ", 2 stale parts not removed", ", 1 stale part removed": what the
// totals say of them.
std::string staleCounts(const BatchTotals& t) {
  std::string text;
  if (t.staleKept > 0) text += ", " + counted(t.staleKept, "stale part", "stale parts") + " not removed";
  if (t.staleRemoved > 0) text += ", " + counted(t.staleRemoved, "stale part", "stale parts") + " removed";
  return text;
}

}  // namespace

std::string totalsLine(const BatchTotals& t) {
  std::string line = t.cancelled ? "cancelled: " : "";
  line += counted(t.converted, "recording", "recordings") + " converted, ";
  if (t.upToDate > 0) line += std::to_string(t.upToDate) + " up to date, ";
  line += std::to_string(t.failed) + " failed";
  if (t.notConverted > 0) line += ", " + std::to_string(t.notConverted) + " not converted";
  line += staleCounts(t);
  line += ", " + counted(t.lines, "line", "lines") + " written, " +
          counted(t.dropped, "entry", "entries") + " dropped for a failed CRC, ";
  if (t.window) line += counted(t.outside, "line", "lines") + " outside the window, ";
  if (t.withFindings > 0) line += findingsCount(t.withFindings) + ", ";
  line += megabytes(t.bytesRead) + " MB read in " + secondsText(t.seconds) + " s";
  return line;
}

std::string summaryMessage(const BatchTotals& t, size_t recordings) {
  if (recordings == 0 && !t.searchCut) return "No recordings (*.tlq) were found.";
  std::string text = t.cancelled   ? "The conversion was cancelled.\n\n"
                     : t.failed > 0 ? "Some recordings could not be converted.\n\n"
                                    : "The recordings were converted.\n\n";
  if (t.searchCut) text += "The search for recordings was cut short: only those found are counted.\n\n";
  text += std::to_string(t.converted) + " of " + counted(recordings, "recording", "recordings") + " converted, ";
  if (t.upToDate > 0) text += std::to_string(t.upToDate) + " up to date, ";
  text += std::to_string(t.failed) + " failed";
  if (t.notConverted > 0) text += ", " + std::to_string(t.notConverted) + " not converted";
  text += staleCounts(t);
  text += ".\n" + counted(t.lines, "line", "lines") + " written, " + counted(t.dropped, "entry", "entries") +
          " dropped for a failed CRC.\n" +
          (t.withFindings > 0 ? findingsCount(t.withFindings) + " (gaps, time stamps out of order, unreadable readings or dropped entries).\n" : "") +
          megabytes(t.bytesRead) + " MB read in " + secondsText(t.seconds) + " s.";
  return text;
}

std::string withReason(const std::string& message, const std::string& reason) {
  return reason.empty() ? message : message + " (" + reason + ")";
}

std::string failureLine(const std::string& path, const std::string& kind, const std::string& message,
                        const std::string& reason, const std::string& report, const std::string& noReport) {
  return "failed: " + path + ": " + kind + ": " + withReason(message, reason) +
         (report.empty() ? " (no report: " + noReport + ")" : " (report: " + report + ")");
}

namespace {

constexpr char kHex[] = "0123456789abcdef";

std::string escapedByte(unsigned char b) {
  if (b == '\n') return "\\n";
  if (b == '\r') return "\\r";
  if (b == '\t') return "\\t";
  return std::string("\\x") + kHex[b >> 4] + kHex[b & 15];
}

}  // namespace

std::string displayText(std::string_view text) {
  // Where a backslash is part of a name, it is doubled: a name holding a
  // backslash and "n" then differs from one holding a line feed. Under
  // Windows it separates folders, and no name holds a control character.
  const bool doubleBackslash = !isPathSeparator('\\');
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    auto c = static_cast<unsigned char>(text[i]);
    size_t n = utf8Length(text.data() + i, text.data() + text.size());
    // C1 controls (U+0080 to U+009F) steer terminals as C0 ones do.
    bool c1 = n == 2 && c == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0;
    if (n > 1 && !c1) {
      out.append(text.substr(i, n));
      i += n;
      continue;
    }
    if (n == 1 && c >= 0x20 && c != 0x7F) {
      if (c == '\\' && doubleBackslash) out += '\\';
      out += static_cast<char>(c);
      ++i;
      continue;
    }
    for (size_t k = 0; k < (c1 ? 2 : 1); ++k, ++i) out += escapedByte(static_cast<unsigned char>(text[i]));
  }
  return out;
}

std::string logField(std::string_view text, char separator) {
  std::string field;
  quoteString(CsvFormat{{}, separator, '.'}, text, field);
  return field;
}

}  // namespace tlq
