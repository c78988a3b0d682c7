// The quality of recordings as the user meets it: the batch's summary and
// log, the single conversion's lines on a terminal.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/batch_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::readFile;

// "2026-11-17T09:MM:SS" for seconds from 09:00:00 (zone appended).
std::string stampAt(int seconds, const char* zone = "") {
  char text[48];
  std::snprintf(text, sizeof text, "2026-11-17T%02d:%02d:%02d%s", 9 + seconds / 3600, seconds / 60 % 60, seconds % 60,
                zone);
  return text;
}

// An entry: the first inclinometer's payload (JSON-escaped) with its stamp
// (none for ""), a force and, where given, a second inclinometer.
std::string entry(const std::string& stamp, const std::string& inclino = "X=+01.234\\r\\nY=-00.567",
                  const std::string& force = "\\u0002+  12.25N\\u0003", const std::string& inclino2 = "") {
  std::string text = R"({"inclino":{"raw":")" + inclino + "\"" + (stamp.empty() ? "" : ",\"timestamp\":\"" + stamp + "\"") +
                     R"(},"force":{"raw":")" + force + "\"}";
  if (!inclino2.empty()) text += R"(,"inclino2":{"raw":")" + inclino2 + "\"}";
  return text + "}";
}

std::string recording(const std::vector<std::string>& entries) {
  std::string json = "{\"data\":[";
  for (size_t i = 0; i < entries.size(); ++i) json += (i ? ",\n" : "\n") + entries[i];
  return json + "\n]}";
}

// Ten stamps a minute apart: nothing to find.
std::string regular() {
  std::vector<std::string> e;
  for (int i = 0; i < 10; ++i) e.push_back(entry(stampAt(60 * i)));
  return recording(e);
}

// A minute apart, with: 1.5 intervals (no gap) after line 5, 1.6 after line
// 10, 10 intervals after line 15; line 18 repeats the stamp before it and
// line 22 is set back; lines 12 and 13 have no stamp; line 3 has no X,
// line 4 the unreadable Y line, line 6 a force that is no reading, line 7
// one of -999 (a reading); the second inclinometer's -999 pair on line 8.
std::string findings() {
  std::vector<std::string> e;
  int t = 0;
  for (int line = 1; line <= 25; ++line) {
    if (line > 1) t += line == 6 ? 90 : line == 11 ? 96 : line == 16 ? 600 : line == 18 ? 0 : line == 22 ? -120 : 60;
    std::string stamp = line == 12 || line == 13 ? "" : stampAt(t);
    if (line == 12 || line == 13) t -= 60;  // the stamps around them a minute apart
    std::string inclino = line == 3 ? "Y=-00.567" : line == 4 ? "X=+01.234\\r\\nZ" : "X=+01.234\\r\\nY=-00.567";
    std::string force = line == 6 ? "\\u0002 ???\\u0003" : line == 7 ? "\\u0002-  999N\\u0003" : "\\u0002+  12.25N\\u0003";
    e.push_back(entry(stamp, inclino, force, line == 8 ? "Y=+00.100" : "X=+00.100\\r\\nY=+00.200"));
  }
  return recording(e);
}

// Across the change to summer time, in zones: five minutes each time.
std::string zoned() {
  std::vector<std::string> e;
  for (const char* stamp : {"2026-03-29T01:50:00+01:00", "2026-03-29T01:55:00+01:00", "2026-03-29T03:00:00+02:00",
                            "2026-03-29T03:05:00.000+02:00"})
    e.push_back(entry(stamp));
  return recording(e);
}

class QualityRun : public BatchRun {};

TEST_F(QualityRun, TheSummaryAndTheLogAgreeOnEveryFigure) {
  put("q/a regular.tlq", regular());
  put("q/b findings.tlq", findings());
  put("q/c one.tlq", recording({entry(stampAt(0)), entry("")}));
  put("q/d zoned.tlq", zoned());
  std::string log = dir.file("log.csv");
  auto r = batch({"--log", log, dir.file("q")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string b = below(dir.file("q"), "b findings.tlq");
  EXPECT_EQ(r.out.substr(0, r.out.rfind('\n', r.out.size() - 2) + 1),
            "gaps: " + b + ": 2 gaps, 10 samples missing, the longest 600 s from " + stampAt(786) + "\n" +
                "order: " + b + ": 2 time stamps not after the one before (first at line 18)\n" +
                "unreadable: " + b + ": inclino1 2 lines, inclino2 1 line, force 1 line\n")
      << r.out;
  EXPECT_NE(r.out.find("4 recordings converted, 0 failed, 41 lines written, 0 entries dropped for a failed CRC, "
                       "1 recording with findings, "),
            std::string::npos)
      << r.out;
  auto lines = [](const std::string& text) {
    std::vector<std::string> all;
    for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
      all.push_back(text.substr(at, end - at));
    return all;
  };
  std::vector<std::string> all = lines(readFile(log));
  ASSERT_EQ(all.size(), 5u);
  EXPECT_TRUE(all[0].ends_with(";stale parts removed;interval s;gaps;samples missing;longest gap s;longest gap at;"
                               "stamps not after the one before;first not after at line;lines without a time stamp;"
                               "unreadable inclino1;unreadable inclino2;unreadable elasto;unreadable force"))
      << all[0];
  // The fixture's separators are ";" and ",".
  auto quality = [](const std::string& line) {
    size_t at = 0;
    for (int i = 0; i < 12; ++i) at = line.find(';', at) + 1;
    return line.substr(at - 1);
  };
  EXPECT_EQ(quality(all[1]), ";60,000;0;0;;;0;;0;0;;;0");
  EXPECT_EQ(quality(all[2]), ";60,000;2;10;600,000;" + stampAt(786) + ";2;18;2;2;1;;1");
  EXPECT_EQ(quality(all[3]), ";;;;;;0;;1;0;;;0");  // one stamp: no interval
  EXPECT_EQ(quality(all[4]), ";300,000;0;0;;;0;;0;0;;;0");

  // --interval instead of the median; up to date: nothing read, nothing told.
  r = batch({"--interval", "30", "--log", log, dir.file("q/a regular.tlq")});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(r.out.starts_with("gaps: " + dir.file("q/a regular.tlq") +  // as it was given
                                ": 9 gaps, 9 samples missing, the longest 60 s from " + stampAt(0) + "\n"))
      << r.out;
  EXPECT_EQ(quality(lines(readFile(log))[1]), ";30,000;9;9;60,000;" + stampAt(0) + ";0;;0;0;;;0");
  r = batch({"--update", "--log", log, dir.file("q/a regular.tlq")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(quality(lines(readFile(log))[1]), ";;;;;;;;;;;;");
  for (const char* bad : {"0", "-1", "1,5", "x", ""}) {
    r = batch({"--interval", bad, dir.file("q")});
    EXPECT_EQ(r.exitCode, 2) << bad;
    EXPECT_TRUE(r.err.starts_with("tlqconverter: --interval takes ")) << r.err;
  }
  // The tables are what they were without the measurement.
  EXPECT_EQ(readFile(dir.file("q/b findings.csv")), singleTable(dir.file("q/b findings.tlq")));
}

// A pseudo-terminal, as POSIX has it.
#ifndef _WIN32
TEST_F(QualityRun, TheSingleConversionTellsItsFindingsOnATerminal) {
  std::string rec = put("s/run.tlq", findings());
  std::map<std::string, std::string> env = {{"TMP", tmp},           {"TLQ_PROBE_LOG", openerLog},
                                            {"DISPLAY", ""},        {"WAYLAND_DISPLAY", ""},
                                            {"PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin")}};
  auto r = testing::RunningProcess({TLQ_CONVERTER_EXE, rec}, env, true).wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.err.find("tlqconverter: gaps: " + rec + ": 2 gaps, 10 samples missing, the longest 600 s from " +
                       stampAt(786) + "\r\n"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("tlqconverter: order: " + rec + ": 2 time stamps not after the one before (first at line 18)"),
            std::string::npos);
  EXPECT_NE(r.err.find("tlqconverter: unreadable: " + rec + ": inclino1 2 lines, inclino2 1 line, force 1 line"),
            std::string::npos);
  r = testing::RunningProcess({TLQ_CONVERTER_EXE, "--interval", "600", rec}, env, true).wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.err.find("tlqconverter: gaps: "), std::string::npos) << r.err;
  auto plain = run({rec});  // no terminal: nothing said
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.err, "");
}
#endif

// The console program (under Windows the console twin) checks: its exit code
// tells, the log has the quality columns, and no table is written.
TEST_F(QualityRun, CheckWritesNothingAndTellsByItsExitCode) {
  std::string a = put("c/a regular.tlq", regular());
  std::string b = put("c/b findings.tlq", findings());
  std::string ok = put("o/ok.tlq", regular());
  std::string crc = put("d/crc.tlq", testing::recordingOf(4, 1));
  auto check = [&](std::vector<std::string> args) {
    args.insert(args.begin(), "--check");
    return run(args, {}, TLQ_CONSOLE_PROGRAM);
  };
  // No finding: 0; the totals count the recordings checked.
  auto r = check({dir.file("o")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("1 recording checked, 0 with findings, 0 failed, 10 lines read, ")) << r.out;
  // A finding: 1, with the lines the batch shows, and the log.
  std::string log = dir.file("check.csv");
  r = check({"--log", log, dir.file("c")});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  const std::string shown = below(dir.file("c"), "b findings.tlq");
  EXPECT_TRUE(r.out.starts_with("gaps: " + shown + ": 2 gaps, 10 samples missing, the longest 600 s from " +
                                stampAt(786) + "\norder: " + shown +
                                ": 2 time stamps not after the one before (first at line 18)\nunreadable: " + shown +
                                ": inclino1 2 lines, inclino2 1 line, force 1 line\n"
                                "2 recordings checked, 1 with findings, 0 failed, 35 lines read, "))
      << r.out;
  std::string text = readFile(log);
  EXPECT_NE(text.find("\r\n" + below(dir.file("c"), "a regular.tlq") + ";;checked;10;0;"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n" + shown + ";;checked;25;0;"), std::string::npos) << text;
  EXPECT_NE(text.find(";60,000;2;10;600,000;" + stampAt(786) + ";2;18;2;2;1;;1\r\n"), std::string::npos) << text;
  // Entries dropped for a failed CRC are a finding too.
  r = check({crc});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.starts_with("dropped: " + crc + ": 1 entry for a failed CRC\n1 recording checked, 1 with findings"))
      << r.out;
  // A recording that cannot be read: 2, its failure with a report.
  std::string broken = put("e/broken.tlq", "{\"data\":[");
  r = check({dir.file("e"), dir.file("o")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.file("e"), "broken.tlq") + ": JsonParseError: ")) << r.out;
  EXPECT_NE(r.out.find("(report: "), std::string::npos);
  EXPECT_EQ(reports().size(), 1u);  // that failure's report, none for a finding
  // --interval as for the batch; what writes a table is refused.
  r = check({"--interval", "120", dir.file("c")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(r.out.starts_with("gaps: " + shown + ": 1 gap, 4 samples missing, the longest 600 s")) << r.out;
  // A window measures only its lines: here the line before the longest gap
  // and the one after it, the gap alone (by the interval given: by their
  // own, two stamps have none).
  r = check({"--log", log, "--interval", "60", "--from", stampAt(786), "--to", stampAt(1387), dir.file("c")});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("gaps: " + shown + ": 1 gap, 9 samples missing, the longest 600 s from " + stampAt(786) +
                                "\n2 recordings checked, 1 with findings, 0 failed, 2 lines read, 0 entries dropped for a "
                                "failed CRC, 33 lines outside the window, "))
      << r.out;
  EXPECT_NE(readFile(log).find("\r\n" + shown + ";;checked;2;0;"), std::string::npos) << readFile(log);
  r = check({"--from", stampAt(1386), "--to", stampAt(1446), dir.file("c")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with("2 recordings checked, 0 with findings, 0 failed, 1 line read, ")) << r.out;
  for (std::vector<std::string> bad : std::vector<std::vector<std::string>>{
           {"--out", dir.file("x"), ok}, {"--xlsx", ok}, {"--split-rows", "2", ok}, {"--update", ok}, {"--dry-run", ok},
           {"--interval", "1,5", ok}, {}}) {
    r = check(bad);
    EXPECT_EQ(r.exitCode, 2) << (bad.empty() ? "" : bad[0]);
    EXPECT_TRUE(r.err.starts_with("tlqconverter: ")) << r.err;
  }
  // Nothing written but the log and the report.
  std::vector<std::string> tables = filesNamed(".csv");
  ASSERT_EQ(tables.size(), 1u);
  EXPECT_TRUE(std::filesystem::equivalent(std::filesystem::u8path(tables[0]), std::filesystem::u8path(log))) << tables[0];
  EXPECT_TRUE(filesNamed(".xlsx").empty());
  EXPECT_TRUE(filesNamed(".tmp").empty());
  EXPECT_EQ(readFile(b), findings());
  EXPECT_EQ(readFile(broken), "{\"data\":[");
}

// The workbook's figures read back by openpyxl, a Python of the system's.
#ifndef _WIN32
// What openpyxl reads of a workbook, a line a row: "Q" and the quality
// section of the sheet "recording" (label, value), "R" its ranges (column,
// least, greatest, mean), "G" the sheet "gaps", "P" the sheet "plot
// inclino1". Numbers as Python writes them, date-times in ISO 8601, "" for
// an empty cell.
std::vector<std::vector<std::string>> workbookRows(const std::string& path) {
  auto r = testing::runProcess({"/usr/bin/python3", "-c",
                                "import sys, datetime, openpyxl\n"
                                "book = openpyxl.load_workbook(sys.argv[1])\n"
                                "def f(v):\n"
                                "    if v is None: return ''\n"
                                "    if isinstance(v, datetime.datetime): return v.isoformat()\n"
                                "    if isinstance(v, float) and v.is_integer(): return str(int(v))\n"
                                "    return str(v)\n"
                                "rows = list(book['recording'].iter_rows(values_only=True))\n"
                                "at = [r[0] for r in rows].index('quality')\n"
                                "kind = 'Q'\n"
                                "for row in rows[at + 1:]:\n"
                                "    if row[0] is None: continue\n"
                                "    if row[0] == 'column': kind = 'R'; continue\n"
                                "    print('\\t'.join([kind] + [f(v) for v in (row[:2] if kind == 'Q' else row[:4])]))\n"
                                "for name, kind in (('gaps', 'G'), ('plot inclino1', 'P')):\n"
                                "    for row in book[name].iter_rows(min_row=2, values_only=True):\n"
                                "        print('\\t'.join([kind] + [f(v) for v in row]))\n",
                                path});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::vector<std::vector<std::string>> rows;
  for (size_t at = 0, end; (end = r.out.find('\n', at)) != std::string::npos; at = end + 1) {
    std::vector<std::string> fields;
    std::string line = r.out.substr(at, end - at);
    for (size_t from = 0;;) {
      size_t tab = line.find('\t', from);
      fields.push_back(line.substr(from, tab - from));
      if (tab == std::string::npos) break;
      from = tab + 1;
    }
    rows.push_back(fields);
  }
  return rows;
}

std::vector<std::string> fieldsOf(const std::string& line, char separator = ';') {
  std::vector<std::string> fields;
  for (size_t from = 0;;) {
    size_t at = line.find(separator, from);
    fields.push_back(line.substr(from, at - from));
    if (at == std::string::npos) return fields;
    from = at + 1;
  }
}

// A figure of the log (decimal comma) and the sheet's cell alike: the same
// number, or the same text.
bool sameFigure(std::string logged, const std::string& cell) {
  std::replace(logged.begin(), logged.end(), ',', '.');
  if (logged.empty() || cell.empty()) return logged == cell;
  char* end = nullptr;
  const double a = std::strtod(logged.c_str(), &end);
  if (*end) return logged == cell;
  const double b = std::strtod(cell.c_str(), &end);
  return !*end && a == b;
}

// The log's quality columns, the sheet "recording" and the sheet "gaps" of
// one conversion say the same; the plot breaks at each gap.
TEST_F(QualityRun, TheWorkbookAgreesWithTheLogOnEveryFigure) {
  put("w/b findings.tlq", findings());
  put("w/a regular.tlq", regular());
  const std::string log = dir.file("log.csv");
  auto r = batch({"--xlsx", "--log", log, dir.file("w")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::string text = readFile(log);
  std::vector<std::string> lines;
  for (size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
    lines.push_back(text.substr(at, end - at));
  ASSERT_EQ(lines.size(), 3u);
  std::vector<std::string> header = fieldsOf(lines[0]);
  const size_t first = std::find(header.begin(), header.end(), "interval s") - header.begin();
  ASSERT_EQ(header.size(), first + 12) << lines[0];
  for (size_t l = 1; l < lines.size(); ++l) {
    std::vector<std::string> logged = fieldsOf(lines[l]);
    ASSERT_EQ(logged.size(), header.size());
    const bool withFindings = logged[0].ends_with("findings.tlq");
    const std::string book = dir.file(withFindings ? "w/b findings.xlsx" : "w/a regular.xlsx");
    std::vector<std::vector<std::string>> rows = workbookRows(book);
    std::vector<std::vector<std::string>> figures, ranges, gaps, plot;
    for (const auto& row : rows)
      (row[0] == "Q" ? figures : row[0] == "R" ? ranges : row[0] == "G" ? gaps : plot).push_back(row);
    ASSERT_EQ(figures.size(), 12u) << book;
    for (size_t k = 0; k < 12; ++k) {
      EXPECT_EQ(figures[k][1], header[first + k]);
      EXPECT_TRUE(sameFigure(logged[first + k], figures[k][2]))
          << header[first + k] << ": " << logged[first + k] << " logged, " << figures[k][2] << " on the sheet";
    }
    // Every value column's range, of its readings alone.
    ASSERT_EQ(ranges.size(), withFindings ? 5u : 3u);  // the second inclinometer's x and y
    EXPECT_EQ(ranges[0], (std::vector<std::string>{"R", "inclino1_x", "1.234", "1.234", ranges[0][4]}));
    EXPECT_NEAR(std::stod(ranges[0][4]), 1.234, 1e-12);
    if (!withFindings) {
      EXPECT_EQ(gaps.size(), 0u);  // the sheet is there, with its header row
      for (const auto& row : plot) EXPECT_NE(row.at(1), "") << "an empty plot row without a gap";
      EXPECT_EQ(plot.size(), 10u);
      continue;
    }
    // force: that of 12.25 N on every line but line 6 (no reading) and
    // line 7 (-999, a reading).
    EXPECT_EQ(ranges[4][1], "force_kg");
    EXPECT_EQ(ranges[4][2], "-999");
    EXPECT_NEAR(std::stod(ranges[4][4]), (23 * std::stod(ranges[4][3]) - 999) / 24, 1e-9);
    EXPECT_EQ(gaps, (std::vector<std::vector<std::string>>{{"G", stampAt(570), stampAt(666), "96", "1"},
                                                          {"G", stampAt(786), stampAt(1386), "600", "9"}}));
    // Lines 12 and 13 have no place on the time axis; an empty row before
    // the first stamp after each gap (lines 11 and 16).
    ASSERT_EQ(plot.size(), 25u);
    std::vector<std::string> xs;
    for (const auto& row : plot) xs.push_back(row.size() > 1 ? row[1] : "");
    EXPECT_EQ(xs[9], stampAt(570));
    EXPECT_EQ(xs[10], "");
    EXPECT_EQ(xs[11], stampAt(666));
    EXPECT_EQ(xs[13], stampAt(786));
    EXPECT_EQ(xs[14], "");
    EXPECT_EQ(xs[15], stampAt(1386));
    EXPECT_EQ(std::count(xs.begin(), xs.end(), ""), 2);
  }
}

// A recording large enough that its charts show each bucket's least and
// greatest: the line still breaks at a gap inside a bucket, and only there.
TEST_F(QualityRun, AReducedChartBreaksAtTheGapAlone) {
  for (bool gap : {false, true}) {
    std::vector<std::string> e;
    for (int line = 1; line <= 3000; ++line) {
      int t = line + (gap && line > 1501 ? 3600 : 0);  // a second apart, an hour missing after line 1501
      e.push_back(entry(stampAt(t), "X=+0" + std::to_string(line % 10) + ".234\\r\\nY=-00.567"));
    }
    const std::string rec = put(gap ? "r/gap.tlq" : "r/none.tlq", recording(e));
    auto r = run({"--xlsx", rec});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    std::vector<std::string> xs;
    for (const auto& row : workbookRows(dir.file(gap ? "r/gap.xlsx" : "r/none.xlsx")))
      if (row[0] == "P") xs.push_back(row.size() > 1 ? row[1] : "");
    ASSERT_GT(xs.size(), 1000u);
    EXPECT_LT(xs.size(), 3000u);  // reduced
    const auto empty = std::find(xs.begin(), xs.end(), "");
    if (!gap) {
      EXPECT_EQ(empty, xs.end());
      continue;
    }
    ASSERT_NE(empty, xs.end());
    EXPECT_EQ(std::count(xs.begin(), xs.end(), ""), 1);
    EXPECT_EQ(*(empty - 1), stampAt(1501));
    // The bucket of lines 1501 to 1503 keeps its first and last.
    EXPECT_EQ(*(empty + 1), stampAt(1503 + 3600));
  }
}

#endif
}  // namespace
}  // namespace tlq
