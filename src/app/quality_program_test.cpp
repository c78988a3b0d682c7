// The quality of recordings as the user meets it: the batch's summary and
// log, the single conversion's lines on a terminal.
#include <gtest/gtest.h>

#include <cstdio>
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

}  // namespace
}  // namespace tlq
