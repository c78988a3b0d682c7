// --salvage as the user meets it: recordings cut short, converted by the
// program in processes (the single conversion, --batch, --check, --merge,
// workbooks), and what the summary, the log and the workbook say of them.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "app/batch_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

using testing::readFile;

// Their paths and the terminal are spelled as POSIX has them; the reading
// itself is the portable core's, whose tests run everywhere.
#ifndef _WIN32
std::string entry(int minute) {
  return R"({"inclino":{"raw":"X=+01.234\r\nY=-00.567","timestamp":"2026-11-17T09:)" +
         std::string(minute < 10 ? "0" : "") + std::to_string(minute) +
         R"(:00"},"force":{"raw":"\u0002+  12.25N\u0003"}})";
}

// A recording of `count` entries a minute apart.
std::string whole(int count) {
  std::string json = "{\"data\":[";
  for (int i = 0; i < count; ++i) json += (i ? ",\n" : "\n") + entry(i);
  return json + "\n]}";
}

// Ten entries, cut in the middle of the eighth: what the logger left when
// the power went.
std::string cutShort() {
  std::string json = whole(10);
  return json.substr(0, json.find(entry(7)) + 40);
}

class SalvageRun : public BatchRun {
 protected:
  // The fault's message, as the conversion without --salvage reports it.
  std::string faultOf(const std::string& recording) {
    auto c = run({"--check", recording}, {}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(c.exitCode, 2) << c.out;
    const std::string head = "failed: " + recording + ": JsonParseError: ";
    EXPECT_TRUE(c.out.starts_with(head)) << c.out;
    return c.out.substr(head.size(), c.out.find(" (report: ") - head.size());
  }

  std::string salvagedLine(const std::string& recording, int entries) {
    return "salvaged: " + recording + ": " + std::to_string(entries) + " entries before the fault (" +
           faultOf(recording) + "); the rest is lost\n";
  }
};

// The batch converts what came before the fault and says so, on one thread
// and on several alike; without --salvage the recording fails as before and
// no table is written.
TEST_F(SalvageRun, TheBatchConvertsUpToTheFaultAndSaysSo) {
  const std::string rec = put("b/cut.tlq", cutShort());
  put("b/whole.tlq", whole(3));
  const std::string told = salvagedLine(rec, 7);
  EXPECT_NE(told.find("invalid JSON at line 9, column 41: "), std::string::npos) << told;

  auto r = batch({dir.file("b")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: " + rec + ": JsonParseError: ")) << r.out;
  EXPECT_FALSE(testing::fileExists(dir.file("b/cut.csv")));

  const std::string log = dir.file("log.csv");
  r = batch({"--salvage", "--log", log, dir.file("b")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with(told + "2 recordings converted, 0 failed, 10 lines written, 0 entries dropped for a "
                                       "failed CRC, 1 recording with findings, "))
      << r.out;
  EXPECT_EQ(readFile(dir.file("b/cut.csv")), singleTable(put("ref/seven.tlq", whole(7))));
  EXPECT_EQ(readFile(rec), cutShort());  // never modified
  const std::string text = readFile(log);
  EXPECT_NE(text.find("\r\n" + rec + ";" + dir.file("b/cut.csv") + ";salvaged;7;0;"), std::string::npos) << text;
  EXPECT_NE(text.find("\r\n" + dir.file("b/whole.tlq") + ";" + dir.file("b/whole.csv") + ";converted;3;0;"),
            std::string::npos)
      << text;

  // On four threads, the same table; --update takes no salvaged table for
  // whole: it is converted and told again.
  const std::string table = readFile(dir.file("b/cut.csv"));
  r = batch({"--salvage", "--update", rec}, {{"TLQCONVERTER_THREADS", "4"}});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with(told)) << r.out;
  EXPECT_EQ(readFile(dir.file("b/cut.csv")), table);
  EXPECT_TRUE(leftovers().empty());
}

// Cut in the header, before the entries: nothing to salvage, the error as
// without --salvage.
TEST_F(SalvageRun, AHeaderCutShortFailsAsBefore) {
  const std::string rec = put("h/head.tlq", "{\"meta\":{\"site\":\"Bridge");
  auto plain = batch({rec});
  auto salvaged = batch({"--salvage", rec});
  EXPECT_EQ(salvaged.exitCode, 2);
  auto failure = [](const std::string& out) { return out.substr(0, out.find(" (report: ")); };
  EXPECT_EQ(failure(salvaged.out), failure(plain.out));
  EXPECT_TRUE(salvaged.out.starts_with("failed: " + rec + ": JsonParseError: invalid JSON at line 1, column 24"))
      << salvaged.out;
  EXPECT_FALSE(testing::fileExists(dir.file("h/head.csv")));
}

// --check: a salvaged recording is a finding (exit 1), in the totals and in
// the log; the recording that cannot be read without it is 2.
TEST_F(SalvageRun, CheckTakesASalvagedRecordingForAFinding) {
  const std::string rec = put("c/cut.tlq", cutShort());
  const std::string told = salvagedLine(rec, 7);
  const std::string log = dir.file("check.csv");
  auto r = run({"--check", "--salvage", "--log", log, rec}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(r.out.starts_with(told + "1 recording checked, 1 with findings, 0 failed, 7 lines read, ")) << r.out;
  EXPECT_NE(readFile(log).find("\r\n" + rec + ";;salvaged;7;0;"), std::string::npos) << readFile(log);
  EXPECT_EQ(filesNamed(".csv"), std::vector<std::string>{log});
  EXPECT_TRUE(reports().size() == 1u);  // the one of faultOf's check, none for the finding
}

// --merge: the salvaged recording's lines go into OUT, in their place, with
// its line in the summary and its outcome in the log.
TEST_F(SalvageRun, TheMergeTakesTheLinesBeforeTheFault) {
  std::string later = whole(3);
  for (char c : {'0', '1', '2'}) later.replace(later.find("T09:0" + std::string(1, c)), 6, "T10:0" + std::string(1, c));
  put("m/a cut.tlq", cutShort());
  put("m/b later.tlq", later);
  const std::string out = dir.file("campaign.csv"), log = dir.file("merge.csv");
  auto r = run({"--merge", out, dir.file("m")}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_FALSE(testing::fileExists(out));
  r = run({"--merge", out, "--salvage", "--log", log, dir.file("m")}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_NE(r.out.find("merged: a cut.tlq: 7 lines, 0 repeated lines left out, 0 entries dropped for a failed CRC\n" +
                       salvagedLine(below(dir.file("m"), "a cut.tlq"), 7) + "merged: b later.tlq: 3 lines"),
            std::string::npos)
      << r.out;
  const std::string merged = readFile(out);
  EXPECT_EQ(dataLines(merged), 10u);
  const std::string own = singleTable(put("ref/seven.tlq", whole(7)));
  // Each of the seven lines of its own table, behind its name.
  for (size_t at = own.find("\r\n") + 2; at < own.size(); at = own.find("\r\n", at) + 2)
    EXPECT_NE(merged.find("\r\na cut.tlq;" + own.substr(at, own.find("\r\n", at) - at) + "\r\n"), std::string::npos);
  EXPECT_NE(readFile(log).find("\r\na cut.tlq;" + out + ";salvaged;7;0;"), std::string::npos) << readFile(log);
  EXPECT_NE(readFile(log).find("\r\nb later.tlq;" + out + ";merged;3;0;"), std::string::npos) << readFile(log);
}

// The workbook's sheet "recording" has a row "salvaged" with the summary's
// tail; the single conversion and the batch write it alike.
TEST_F(SalvageRun, TheWorkbookSaysItWasSalvaged) {
  const std::string rec = put("w/cut.tlq", cutShort());
  const std::string told = salvagedLine(rec, 7);
  const std::string tail = told.substr(("salvaged: " + rec + ": ").size());
  auto rows = [](const std::string& workbook) {
    return testing::runProcess({"/usr/bin/python3", "-c",
                                "import sys, openpyxl\n"
                                "sheet = openpyxl.load_workbook(sys.argv[1])['recording']\n"
                                "for row in sheet.iter_rows(values_only=True):\n"
                                "    if row[0] in ('samples', 'data lines', 'salvaged'): print(row[0], '|', row[1])\n",
                                workbook});
  };
  auto r = run({"--salvage", "--xlsx", rec}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(testing::workbookProblems(dir.file("w/cut.xlsx")), "");
  auto sheet = rows(dir.file("w/cut.xlsx"));
  EXPECT_EQ(sheet.out, "samples | 7\ndata lines | 7\nsalvaged | " + tail) << sheet.err;
  std::filesystem::remove(std::filesystem::u8path(dir.file("w/cut.xlsx")));
  r = batch({"--xlsx", "--salvage", rec});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with(told)) << r.out;
  EXPECT_EQ(rows(dir.file("w/cut.xlsx")).out, sheet.out);
  // A whole recording has no such row.
  const std::string fine = put("w/fine.tlq", whole(2));
  EXPECT_EQ(run({"--salvage", "--xlsx", fine}, {}, TLQ_CONSOLE_PROGRAM).exitCode, 0);
  EXPECT_EQ(rows(dir.file("w/fine.xlsx")).out, "samples | 2\ndata lines | 2\n");
}

// The single conversion: exit 0 and, on a terminal, the salvaged line
// before the line of the table written; without --salvage the failure as
// before.
TEST_F(SalvageRun, TheSingleConversionTellsItOnATerminal) {
  const std::string rec = put("s/cut.tlq", cutShort());
  const std::string told = salvagedLine(rec, 7);
  std::map<std::string, std::string> env = {{"TMP", tmp},           {"TLQ_PROBE_LOG", openerLog},
                                            {"DISPLAY", ""},        {"WAYLAND_DISPLAY", ""},
                                            {"PATH", bin + ":" + getEnv("PATH").value_or("/usr/bin:/bin")}};
  auto r = testing::RunningProcess({TLQ_CONVERTER_EXE, "--salvage", rec}, env, true).wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string line = "tlqconverter: " + told;
  line.replace(line.size() - 1, 1, "\r\n");
  EXPECT_NE(r.err.find(line + "CSV written to: " + dir.file("s/cut.csv") + " (7 lines)"), std::string::npos) << r.err;
  EXPECT_EQ(readFile(dir.file("s/cut.csv")), singleTable(put("ref/seven.tlq", whole(7))));
  auto plain = run({"--salvage", rec});  // no terminal: nothing said
  EXPECT_EQ(plain.exitCode, 0);
  EXPECT_EQ(plain.err, "");
  plain = run({rec}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(plain.exitCode, 2);
  EXPECT_TRUE(plain.err.starts_with("tlqconverter: invalid JSON at line 9, column 41: ")) << plain.err;
  EXPECT_EQ(readFile(rec), cutShort());
}

// Where it does not apply, --salvage is a usage error.
TEST_F(SalvageRun, WhereItDoesNotApplyItIsAUsageError) {
  const std::string rec = put("u/cut.tlq", cutShort());
  for (const auto& [args, message] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"--salvage", "--install"}, "--salvage does not go with --install (it converts no recording)"},
           {{"--salvage", "--uninstall"}, "--salvage does not go with --uninstall (it converts no recording)"},
           {{"--salvage", "--help"}, "--salvage does not go with --help (it converts no recording)"},
           {{"--salvage", "--batch", rec}, "--salvage goes after --batch, among its options"},
           {{"--salvage", "--unknown"}, "--salvage takes a recording, not the switch \"--unknown\""},
           {{"--batch", "--salvage=yes", rec}, "--salvage takes no value"},
           {{"--batch", "--salvage", "--salvage", rec}, "--salvage is given twice"}}) {
    auto r = run(args, {}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 2) << args[1];
    EXPECT_TRUE(r.err.starts_with("tlqconverter: " + message + "\n")) << r.err;
  }
  EXPECT_FALSE(testing::fileExists(dir.file("u/cut.csv")));
}
#endif

}  // namespace
}  // namespace tlq
