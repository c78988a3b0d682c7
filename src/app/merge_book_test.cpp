// "--merge OUT.xlsx" as a user meets it: the console program in real
// processes, the workbook read back whole by openpyxl and held against the
// CSV merge of the same recordings.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <thread>

#include "app/merge_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

#ifndef _WIN32
// Reads the workbook (argv[1]) and the CSV merge (argv[2], ";" and ".")
// and prints "problem: ..." for each cell of the data sheets that is not
// the CSV's field (numbers as their value, date-times as the stamp's
// instant in UTC, texts with the workbook's escapes read back), and for
// each row of the sheet "recording" whose name, first and last stamp and
// data lines are not what the CSV's lines of that recording give; then
// "sheets: N" (the data sheets) and "sheet: NAME;LINES;REPEATED;DROPPED"
// for each of its rows.
constexpr const char* kCompare = R"(
import sys, csv, re, datetime, openpyxl
book = openpyxl.load_workbook(sys.argv[1], read_only=True)
with open(sys.argv[2], newline='', encoding='utf-8') as f:
    table = list(csv.reader(f, delimiter=';'))
header, lines = table[0], table[1:]
problems = []
def problem(text):
    if len(problems) < 20: problems.append(text)
def instant(text):
    t = datetime.datetime.fromisoformat(text)
    return t.astimezone(datetime.timezone.utc).replace(tzinfo=None) if t.tzinfo else t
def unescaped(text):
    return re.sub(r'_x([0-9A-Fa-f]{4})_', lambda m: chr(int(m.group(1), 16)), text)
def same(field, value):
    if value is None: return field == ''
    if isinstance(value, datetime.datetime): return field != '' and instant(field) == value
    if isinstance(value, (int, float)): return field != '' and float(field) == float(value)
    return unescaped(value) == field
names = [n for n in book.sheetnames if n == 'data' or re.fullmatch(r'data \d+', n)]
rows = []
for n in names:
    sheet = list(book[n].iter_rows(values_only=True))
    want = [h + ' (UTC)' if h == 'timestamp' else h for h in header]
    if list(sheet[0]) != want: problem(n + ': header ' + repr(sheet[0]))
    rows += sheet[1:]
if len(rows) != len(lines): problem('rows %d, lines %d' % (len(rows), len(lines)))
for i, (line, row) in enumerate(zip(lines, rows)):
    row = list(row) + [None] * (len(line) - len(row))
    for c, field in enumerate(line):
        if not same(field, row[c]): problem('line %d %s: %r for %r' % (i + 1, header[c], row[c], field))
own = {}
for line in lines:
    stamp = line[1]
    seen = own.setdefault(line[0], [None, None, 0])
    if stamp:
        seen[0] = seen[0] or stamp
        seen[1] = stamp
    seen[2] += 1
listed = list(book['recording'].iter_rows(values_only=True))
if list(listed[0]) != ['recording', 'first time stamp (UTC)', 'last time stamp (UTC)', 'data lines',
                       'repeated lines left out', 'dropped (failed CRC)']:
    problem('recording sheet header ' + repr(listed[0]))
for r in listed[1:]:
    first, last, count = own.get(r[0], [None, None, 0])
    if (r[1], r[2], r[3]) != (first and instant(first), last and instant(last), count):
        problem('recording sheet row ' + repr(r))
for p in problems: print('problem: ' + p)
print('sheets: %d' % len(names))
for r in listed[1:]: print('sheet: %s;%d;%d;%d' % (r[0], r[3], r[4], r[5]))
)";
#endif

class MergeBook : public MergeRun {
 protected:
  // The summary's figures of the recording `name`, as the sheet
  // "recording" lists them: "NAME;LINES;REPEATED;DROPPED".
  static std::string summaryRow(const std::string& out, const std::string& name) {
    const std::string head = "merged: " + name + ": ";
    size_t at = out.find(head);
    if (at == std::string::npos) return "(no line for " + name + ")";
    std::vector<std::string> figures = split(out.substr(at + head.size(), out.find('\n', at) - at - head.size()), ", ");
    auto number = [](const std::string& text) { return text.substr(0, text.find(' ')); };
    return name + ";" + number(figures.at(0)) + ";" + number(figures.at(1)) + ";" + number(figures.at(2));
  }
};

#ifndef _WIN32
TEST_F(MergeBook, EveryCellIsTheCsvMergesFieldAndTheRecordingSheetListsEachRecording) {
  // Downloads across summer time (two offsets: the workbook shows UTC),
  // the second holding the first one's last 100 entries again (one
  // changed), the third with more sensor groups (in UTC after the second's
  // first stamp), one without time stamps, and sheets of 200 rows so that
  // the data goes on over further sheets.
  put("site/d1.tlq", campaign(0, 300, {}, "+01:00"));
  put("site/later/d2.tlq", campaign(200, 300, {}, "+01:00", 1, true, 250));
  put("site/d3.tlq", campaign(4100, 50, {true, true}, "+02:00"));
  put("site/none.tlq", campaign(0, 5, {}, "", 1, false));
  const std::map<std::string, std::string> env = {{"TLQCONVERTER_SHEET_ROWS", "200"}};
  const std::vector<std::string> separators = {"--list-separator", ";", "--decimal-separator", "."};
  std::vector<std::string> args = separators;
  args.push_back(dir.file("out/campaign.csv"));
  args.push_back(dir.file("site"));
  auto csv = merge(args, env);
  ASSERT_EQ(csv.exitCode, 0) << csv.out << csv.err;
  args = separators;
  std::string out = dir.file("out/campaign.xlsx");
  args.push_back(out);
  args.push_back(dir.file("site"));
  auto book = merge(args, env);
  ASSERT_EQ(book.exitCode, 0) << book.out << book.err;
  EXPECT_NE(book.out.find("4 recordings merged into " + out + ": 556 lines written, 99 repeated lines left out, "),
            std::string::npos)
      << book.out;
  EXPECT_EQ(testing::workbookProblems(out), "");
  auto compared = testing::runProcess({"/usr/bin/python3", "-c", kCompare, out, dir.file("out/campaign.csv")});
  ASSERT_EQ(compared.exitCode, 0) << compared.err;
  EXPECT_EQ(compared.out.find("problem: "), std::string::npos) << compared.out;
  EXPECT_NE(compared.out.find("sheets: 3\n"), std::string::npos) << compared.out;
  std::string sheet;
  for (const char* name : {"d1.tlq", "later/d2.tlq", "d3.tlq", "none.tlq"})
    sheet += "sheet: " + summaryRow(book.out, name) + "\n";
  EXPECT_NE(compared.out.find(sheet), std::string::npos) << compared.out << "\nwanted:\n" << sheet;
  EXPECT_NE(sheet.find("later/d2.tlq;201;99;0"), std::string::npos) << sheet;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  // Nothing but the two tables in OUT's folder: the library's temporary
  // files are gone too.
  std::vector<std::string> inOut;
  for (const auto& e : fs::directory_iterator(fs::u8path(dir.file("out"))))
    inOut.push_back(testing::utf8(e.path().filename()));
  std::sort(inOut.begin(), inOut.end());
  EXPECT_EQ(inOut, (std::vector<std::string>{"campaign.csv", "campaign.xlsx"}));
}
#endif

TEST_F(MergeBook, AFailingRecordingLeavesTheOlderWorkbook) {
  put("site/a.tlq", campaign(0, 30));
  put("site/b.tlq", campaign(30, 30, {}, "", 1, true, -1, 45));
  put("site/c.tlq", campaign(60, 30));
  std::string out = dir.file("campaign.xlsx");
  testing::writeFile(out, "older");
  auto r = merge({out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(readFile(out), "older");
  EXPECT_NE(r.out.find("failed: " + below(dir.file("site"), "b.tlq") + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(out + " not written (the older one is kept): 1 of 3 recordings failed"), std::string::npos)
      << r.out;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  std::vector<std::string> left;
  for (const auto& e : fs::directory_iterator(fs::u8path(dir.path())))
    if (e.is_regular_file() && e.path().filename() != "registry.reg") left.push_back(testing::utf8(e.path().filename()));
  EXPECT_EQ(left, std::vector<std::string>{"campaign.xlsx"});
  // Mended, the merge replaces it.
  put("site/b.tlq", campaign(30, 30));
  r = merge({out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(testing::workbookProblems(out), "");
}

TEST_F(MergeBook, IntervalMeasuresEachRecordingAndTheSummaryAndLogTellTheFindings) {
  // A recording with 10 entries missing after its 30th.
  std::string gap = campaign(0, 30), more = campaign(40, 30);
  gap.insert(gap.size() - 2, "," + more.substr(9, more.size() - 11));
  put("site/a.tlq", gap);
  put("site/b.tlq", campaign(70, 30));
  std::string log = dir.file("log.csv");
  for (const char* table : {"campaign.csv", "campaign.xlsx"}) {
    auto r = merge({"--interval", "1", "--log", log, dir.file(table), dir.file("site")});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("gaps: a.tlq: 1 gap, 10 samples missing, the longest 11 s from " + stampOf(29, "")),
              std::string::npos)
        << r.out;
    EXPECT_EQ(r.out.find("gaps: b.tlq"), std::string::npos) << r.out;
    std::string logText = readFile(log);
    EXPECT_NE(logText.find(";interval s;gaps;samples missing;"), std::string::npos) << logText;
    EXPECT_NE(logText.find(";1,000;1;10;11,000;" + stampOf(29, "") + ";"), std::string::npos) << logText;
  }
}

#ifndef _WIN32
TEST_F(MergeBook, CtrlCMidMergeLeavesTheOlderWorkbook) {
  std::string big = testing::recordingOf(60000);
  for (int i = 0; i < 30; ++i) put("big/r" + std::to_string(100 + i) + ".tlq", big);
  fs::create_directories(fs::u8path(dir.file("out")));
  std::string out = dir.file("out/campaign.xlsx");
  testing::writeFile(out, "older");
  testing::RunningProcess merging({TLQ_CONSOLE_PROGRAM, "--merge", out, dir.file("big")},
                                  {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  // Once the workbook is under way (the plan before it takes long under a
  // thread sanitizer on a busy machine: a state waited for, not a time).
  for (int i = 0; i < 36000 && filesNamed(".tmp", dir.file("out")).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_FALSE(filesNamed(".tmp", dir.file("out")).empty());
  ::kill(merging.pid(), SIGINT);
  auto r = merging.wait();
  EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
  EXPECT_NE(r.out.find("cancelled: " + out + " not written (the older one is kept)"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out), "older");
  std::vector<std::string> inOut;
  for (const auto& e : fs::directory_iterator(fs::u8path(dir.file("out"))))
    inOut.push_back(testing::utf8(e.path().filename()));
  EXPECT_EQ(inOut, std::vector<std::string>{"campaign.xlsx"});
  EXPECT_TRUE(reports().empty());
}
#endif

}  // namespace
}  // namespace tlq
