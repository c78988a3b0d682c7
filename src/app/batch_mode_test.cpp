// "--batch" as a user meets it: the console program in real processes, on
// trees of real files, compared with what the single conversion writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <regex>
#include <thread>

#include "app/batch_fixture.h"
#include "app/batch_text.h"
#include "convert/convert.h"
#include "test_support.h"

#ifndef _WIN32
#include <signal.h>
#endif

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::recordingOf;
using testing::writeFile;

TEST_F(BatchRun, TreeOfRecordingsAndFailures) {
  std::string a = put("data/run 1.tlq", recordingOf(40, 2));
  std::string b = put("data/Messung Höhe/Süd.TLQ", recordingOf(12));
  std::string c = put("data/deep/er/x.tlq", recordingOf(3, 1));
  put("data/broken/parse.tlq", "{\"data\":[{},");
  put("data/broken/half.tlq", recordingOf(3000, 0, 2500));  // more than one write before it
  put("data/broken/half.csv", "an older table\r\n");
  put("data/fake.tlq", "hello");
  put("data/notes.txt", "not a recording");
  std::string nowhere = dir.file("nowhere.tlq");

  auto r = batch({dir.file("data"), nowhere});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(r.err, "");

  // Each table as the single conversion writes it; none for a failure; the
  // older table untouched; no temporary file left.
  for (const std::string& rec : {a, b, c}) {
    std::string csv = rec.substr(0, rec.size() - 3) + "csv";
    EXPECT_EQ(readFile(csv), singleTable(rec)) << rec;
  }
  EXPECT_FALSE(testing::fileExists(dir.file("data/broken/parse.csv")));
  EXPECT_FALSE(testing::fileExists(dir.file("data/fake.csv")));
  EXPECT_FALSE(testing::fileExists(dir.file("data/notes.csv")));
  EXPECT_EQ(readFile(dir.file("data/broken/half.csv")), "an older table\r\n");
  EXPECT_EQ(filesNamed(".tmp"), std::vector<std::string>());

  // One report per failure, none opened; the summary lists the failures in
  // path order, then the totals.
  std::vector<std::string> files = reports();
  ASSERT_EQ(files.size(), 4u);
  for (const std::string& report : files) {
    std::string text = readFile(report);
    EXPECT_NE(text.find("\r\nCMD: "), std::string::npos);
    EXPECT_NE(r.out.find("(report: " + report + ")\n"), std::string::npos) << report << "\n" << r.out;
  }
  EXPECT_EQ(opened(false), "");
  std::vector<std::string> lines;
  for (size_t at = 0; at < r.out.size();) {
    size_t end = r.out.find('\n', at);
    lines.push_back(r.out.substr(at, end - at));
    at = end + 1;
  }
  ASSERT_EQ(lines.size(), 7u) << r.out;
  std::string data = dir.file("data");
  EXPECT_TRUE(lines[0].starts_with("failed: " + below(data, "broken/half.tlq") + ": AssertionError: ")) << lines[0];
  EXPECT_TRUE(lines[1].starts_with("failed: " + below(data, "broken/parse.tlq") + ": JsonParseError: ")) << lines[1];
  // Each recording that dropped entries for a failed CRC, with how many.
  EXPECT_EQ(lines[2], "dropped: " + below(data, "deep/er/x.tlq") + ": 1 entry for a failed CRC");
  EXPECT_TRUE(lines[3].starts_with("failed: " + below(data, "fake.tlq") + ": JsonParseError: ")) << lines[3];
  EXPECT_EQ(lines[4], "dropped: " + below(data, "run 1.tlq") + ": 2 entries for a failed CRC");
  // The system's reason after the message.
  EXPECT_TRUE(std::regex_match(lines[5], std::regex("failed: " + testing::regexEscaped(nowhere) +
                                                    ": IOError: cannot open: " + testing::regexEscaped(nowhere) +
                                                    " \\([A-Z][^()]+\\) \\(report: .*\\)")))
      << lines[5];
  EXPECT_TRUE(std::regex_match(lines[6], std::regex("3 recordings converted, 4 failed, 55 lines written, "
                                                    "3 entries dropped for a failed CRC, 2 recordings with findings, [0-9.]+ MB read in "
                                                    "[0-9.]+ s")))
      << lines[6];
}

TEST_F(BatchRun, OutMirrorsTheTree) {
  std::string a = put("in/a.tlq", recordingOf(5));
  std::string b = put("in/sub/Ö b.tlq", recordingOf(6, 1));
  std::string loose = put("elsewhere/c.tlq", recordingOf(2));
  auto r = batch({"--out", dir.file("out/tables"), dir.file("in"), loose});
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_EQ(readFile(dir.file("out/tables/a.csv")), singleTable(a));
  EXPECT_EQ(readFile(dir.file("out/tables/sub/Ö b.csv")), singleTable(b));
  EXPECT_EQ(readFile(dir.file("out/tables/c.csv")), singleTable(loose));  // a file PATH: straight in
  EXPECT_FALSE(testing::fileExists(dir.file("in/a.csv")));
  EXPECT_TRUE(r.out.starts_with("dropped: " + below(dir.file("in"), "sub/Ö b.tlq") + ": 1 entry for a failed CRC\n"
                                "3 recordings converted, 0 failed, 13 lines written, 1 entry dropped"))
      << r.out;
}

TEST_F(BatchRun, SplitPartsJoinIntoTheWholeTable) {
  std::string rec = put("r.tlq", recordingOf(50, 3));
  std::string whole = singleTable(rec);
  std::string header = whole.substr(0, whole.find("\r\n") + 2);
  for (int rows : {7, 10, 50, 49}) {
    SCOPED_TRACE(rows);
    auto r = batch({"--split-rows=" + std::to_string(rows), rec});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    size_t parts = (50 + rows - 1) / rows;
    std::string joined;
    for (size_t k = 1; k <= parts; ++k) {
      std::string part = dir.file(k == 1 ? "r.csv" : "r_part" + std::to_string(k) + ".csv");
      std::string text = readFile(part);
      ASSERT_TRUE(text.starts_with(header)) << part;
      EXPECT_EQ(dataLines(text), k < parts ? size_t(rows) : 50 - (parts - 1) * rows) << part;
      joined += text.substr(header.size());
      fs::remove(fs::u8path(part));
    }
    EXPECT_EQ(header + joined, whole);
    EXPECT_FALSE(testing::fileExists(dir.file("r_part" + std::to_string(parts + 1) + ".csv")));
  }
}

TEST_F(BatchRun, PartNamedLikeAnotherTableFailsBeforeAnythingIsWritten) {
  put("run.tlq", recordingOf(10));
  std::string other = put("run_part2.tlq", recordingOf(4));
  put("run.csv", "an older table\r\n");
  auto r = batch({"--split-rows", "5", dir.path()});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.path(), "run.tlq") + ": IOError: cannot open: " +
                                below(dir.path(), "run_part2.csv") + " (it is the table of " +
                                below(dir.path(), "run_part2.tlq") + ")"))
      << r.out;
  EXPECT_EQ(readFile(dir.file("run.csv")), "an older table\r\n");
  EXPECT_EQ(readFile(dir.file("run_part2.csv")), singleTable(other));
  EXPECT_EQ(filesNamed(".tmp"), std::vector<std::string>());
}

TEST_F(BatchRun, TwoRecordingsWithOneTableName) {
  std::string lower = put("x.tlq", recordingOf(1));
  std::string upper = put("x.TLQ", recordingOf(2));
  if (fs::equivalent(fs::u8path(lower), fs::u8path(upper))) GTEST_SKIP() << "names differing in case are one file";
  auto r = batch({lower, upper});
  EXPECT_EQ(r.exitCode, 2);
  // The later in path order fails ("T" comes before "t").
  EXPECT_TRUE(r.out.starts_with("failed: " + lower + ": IOError: cannot open: " + dir.file("x.csv") +
                                " (it is the table of " + upper + " too)"))
      << r.out;
  EXPECT_EQ(readFile(dir.file("x.csv")), singleTable(upper));
}

// cmd leaves "*" and "?" to the program under Windows; a POSIX shell has
// expanded them already, so there a star is part of a name.
TEST_F(BatchRun, WildcardsInAPath) {
  put("w/2026-01/a.tlq", recordingOf(1));
  put("w/2026-02/b.TLQ", recordingOf(2));
  put("w/2025-12/c.tlq", recordingOf(3));
  auto r = batch({dir.file("w/2026-*")});
#ifdef _WIN32
  EXPECT_EQ(r.exitCode, 0) << r.out;
  EXPECT_TRUE(r.out.starts_with("2 recordings converted, 0 failed, 3 lines written")) << r.out;
  EXPECT_TRUE(testing::fileExists(dir.file("w/2026-02/b.csv")));
  EXPECT_FALSE(testing::fileExists(dir.file("w/2025-12/c.csv")));
#else
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: " + dir.file("w/2026-*") + ": IOError: cannot open: ")) << r.out;
#endif
}

TEST_F(BatchRun, ARecordingNamedTwiceIsConvertedOnce) {
  std::string rec = put("d/a.tlq", recordingOf(2));
  auto r = batch({dir.file("d"), rec, dir.file("d/../d/a.tlq")});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 2 lines written, 0 entries dropped")) << r.out;
}

TEST_F(BatchRun, HelpVersionAndUsageErrors) {
  for (const char* help : {"--help", "-h"}) {
    auto r = run({help}, {}, TLQ_CONSOLE_PROGRAM);
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_NE(r.out.find("tlqconverter --batch [--xlsx] [--out DIR] [--split-rows N] [--update]\n"),
              std::string::npos);
    for (const char* option : {"--split-rows 1048575", "--update ", "--dry-run ", "--log FILE ", "--list-separator C",
                               "--delete-stale-parts\n", "--xlsx RECORDING", "\"Open as workbook\""})
      EXPECT_NE(r.out.find(option), std::string::npos) << option;
    EXPECT_EQ(r.err, "");
  }
  auto version = run({"--version", "more"}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out, "tlqconverter " TLQ_VERSION "\n");
  EXPECT_TRUE(reports().empty());

  for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
           {}, {"--out", "o"}, {"--bogus", "x"}, {"--split-rows", "0", "x"}, {"--split-rows=-3", "x"},
           {"--split-rows", "1e3", "x"}, {"--split-rows", "99999999999999999999", "x"}, {"x", "--out"},
           {"--out", "a", "--out", "b", "x"}}) {
    auto r = batch(args);
    EXPECT_EQ(r.exitCode, 2) << args.size();
    EXPECT_EQ(r.out, "");
    EXPECT_TRUE(r.err.starts_with("tlqconverter: ")) << r.err;
    EXPECT_TRUE(r.err.ends_with("Try \"tlqconverter --help\" for more.\n")) << r.err;
  }
  EXPECT_TRUE(reports().empty());

  // Only the exact first arguments are switches: anything else is a path.
  auto upper = run({"--HELP"}, {}, TLQ_CONSOLE_PROGRAM);
  EXPECT_EQ(upper.exitCode, 2);
  EXPECT_EQ(reports().size(), 1u);
  // After "--", an argument that looks like an option is a path.
  fs::remove(fs::u8path(reports()[0]));
  auto dashed = batch({"--", "--out"});
  EXPECT_EQ(dashed.exitCode, 2);
  EXPECT_TRUE(dashed.out.starts_with("failed: --out: IOError: cannot open: --out")) << dashed.out;
}

// Arguments in a usage message are shown as the summary shows names: they
// cannot steer the terminal, and a backslash and "n" is no line feed.
TEST_F(BatchRun, UsageErrorsShowArgumentsEscaped) {
  auto r = batch({"--x\x1b]0;pwned\x07", "d"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.err.starts_with("tlqconverter: unknown option \"--x\\x1b]0;pwned\\x07\"\nUsage: ")) << r.err;
  EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
  writeFile(dir.file("f\xc2\x9b" "2J"), "a file");  // a C1 control, CSI
  r = batch({"--out", dir.file("f\xc2\x9b" "2J"), "d"});
  EXPECT_TRUE(r.err.starts_with("tlqconverter: --out is not a folder: " + displayText(dir.file("")) + "f\\xc2\\x9b2J\n"))
      << r.err;
#ifndef _WIN32
  auto literal = batch({"--a\\nb"}), feed = batch({"--a\nb"});
  EXPECT_TRUE(literal.err.starts_with("tlqconverter: unknown option \"--a\\\\nb\"\n")) << literal.err;
  EXPECT_TRUE(feed.err.starts_with("tlqconverter: unknown option \"--a\\nb\"\n")) << feed.err;
#endif
  EXPECT_TRUE(reports().empty());
}

// Folders without a recording: said in words, as the desktop says it.
TEST_F(BatchRun, NoRecordingsFound) {
  put("e/notes.txt", "not a recording");
  for (const char* plan : {"--update", "--dry-run"}) {
    auto r = batch({plan, dir.file("e")});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.out, "No recordings (*.tlq) were found.\n");
  }
}

#ifndef _WIN32
// Started from the desktop (no terminal, a graphical session): the progress
// dialog and the closing message are zenity's, and a summary of the failures
// is opened like a report. A stub stands in for zenity.
class DesktopBatch : public BatchRun {
 protected:
  void SetUp() override {
    BatchRun::SetUp();
    writeFile(bin + "/zenity", "#!/bin/sh\nprintf '%s\\n' \"$*\" >>'" + dir.file("zenity.log") +
                                   "'\ncase \"$1\" in --progress)\n  [ -z \"$CANCEL\" ] || exit 1\n  cat >>'" +
                                   dir.file("zenity.in") + "' ;;\nesac\n");
    fs::permissions(bin + "/zenity", fs::perms::owner_all);
  }
  testing::ProcessResult fromDesktop(std::vector<std::string> args, std::map<std::string, std::string> env = {}) {
    env.emplace("DISPLAY", ":42");
    return batch(args, env);
  }
  // The stub's log once it holds `lines` lines (the message is not waited for).
  std::string zenityLog(size_t lines) {
    for (int i = 0; i < 200; ++i) {
      std::string log = testing::fileExists(dir.file("zenity.log")) ? readFile(dir.file("zenity.log")) : "";
      if (static_cast<size_t>(std::count(log.begin(), log.end(), '\n')) >= lines) return log;
      std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    return "";
  }
};

TEST_F(DesktopBatch, ProgressDialogMessageAndTheFailuresOpened) {
  std::string good = put("d/a.tlq", recordingOf(3));
  put("d/b.tlq", "{");
  auto r = fromDesktop({dir.file("d")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: ")) << r.out;  // standard output has the summary too
  std::string log = zenityLog(2);
  EXPECT_TRUE(log.starts_with("--progress --title=tlqconverter: converting recordings to CSV ")) << log;
  EXPECT_NE(log.find("\n--warning --no-markup --title=tlqconverter --text=Some recordings could not be converted."
                     "\n\n1 of 2 recordings converted, 1 failed."),
            std::string::npos)
      << log;
  std::string fed = readFile(dir.file("zenity.in"));
  EXPECT_TRUE(fed.find(" of 2 recordings to CSV: " + below(dir.file("d"), "a.tlq") + "\n") != std::string::npos ||
              fed.find(" of 2 recordings to CSV: " + below(dir.file("d"), "b.tlq") + "\n") != std::string::npos)
      << fed;
  EXPECT_TRUE(fed.starts_with("# Converting ")) << fed;
  EXPECT_TRUE(fed.ends_with("\n100\n")) << fed;
  // The failures, in a file opened like a report; the report itself is not.
  std::string summary = opened();
  EXPECT_NE(summary.find("tlqconverter_summary_"), std::string::npos) << summary;
  // With a byte-order mark, for editors that do not guess.
  EXPECT_EQ(readFile(summary.substr(0, summary.find('\n'))).find("\xEF\xBB\xBF" "failed: " + below(dir.file("d"), "b.tlq")),
            0u);
  EXPECT_EQ(readFile(good.substr(0, good.size() - 3) + "csv"), singleTable(good));
}

// The dialog names the recording started last with its number in the batch
// (several are under way at once), and says what is written.
TEST_F(DesktopBatch, TheDialogCountsTheRecordingItNamesAndSaysWhatItWrites) {
  std::vector<std::string> names;
  for (int i = 0; i < 12; ++i) names.push_back(put("n/r" + std::to_string(10 + i) + ".tlq", recordingOf(20000)));
  for (bool workbooks : {false, true}) {
    SCOPED_TRACE(workbooks);
    fs::remove(fs::u8path(dir.file("zenity.in")));
    std::vector<std::string> args = {dir.file("n")};
    if (workbooks) args.insert(args.begin(), "--xlsx");
    auto r = fromDesktop(args, {{"TLQCONVERTER_THREADS", "1"}});
    EXPECT_EQ(r.exitCode, 0) << r.out;
    std::string fed = readFile(dir.file("zenity.in"));
    std::regex line(R"(# Converting (\d+) of 12 recordings to ([^:]+): ([^\n]*)\n)");
    size_t lines = 0;
    for (auto it = std::sregex_iterator(fed.begin(), fed.end(), line); it != std::sregex_iterator(); ++it, ++lines) {
      EXPECT_EQ((*it)[2].str(), workbooks ? "workbooks" : "CSV") << (*it)[0];
      size_t k = std::stoul((*it)[1]);
      ASSERT_TRUE(k >= 1 && k <= 12) << (*it)[0];
      EXPECT_EQ((*it)[3].str(), names[k - 1]) << (*it)[0];
    }
    EXPECT_GE(lines, 3u) << fed;
  }
}

// --quiet, as a timer or an autostart script runs it (no terminal, a
// graphical session): no window, no message box, no file opened; the
// summary on standard output as on a terminal. On a terminal, no progress
// line either.
TEST_F(DesktopBatch, QuietShowsNothingAndOpensNothing) {
  std::string good = put("q/a.tlq", recordingOf(3));
  put("q/b.tlq", "{");
  auto r = fromDesktop({"--update", "--quiet", dir.file("q")});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_TRUE(r.out.starts_with("failed: " + below(dir.file("q"), "b.tlq") + ": JsonParseError: ")) << r.out;
  EXPECT_NE(r.out.find("\n1 recording converted, 1 failed, 3 lines written, "), std::string::npos) << r.out;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(readFile(good.substr(0, good.size() - 3) + "csv"), singleTable(good));
  EXPECT_EQ(opened(false), "");
  EXPECT_FALSE(testing::fileExists(dir.file("zenity.log"))) << readFile(dir.file("zenity.log"));
  EXPECT_EQ(reports().size(), 1u);  // written, not opened

  for (int i = 0; i < 20; ++i) put("t/r" + std::to_string(i) + ".tlq", recordingOf(4000));
  auto onTerminal = testing::RunningProcess({TLQ_CONSOLE_PROGRAM, "--batch", "--quiet", dir.file("t")},
                                            {{"TMP", tmp}, {"DISPLAY", ":42"}, {"PATH", bin + ":/usr/bin:/bin"}}, true)
                        .wait();
  EXPECT_EQ(onTerminal.exitCode, 0) << onTerminal.out;
  EXPECT_EQ(onTerminal.err, "");
  EXPECT_TRUE(onTerminal.out.starts_with("20 recordings converted, 0 failed, 80000 lines written")) << onTerminal.out;
  EXPECT_FALSE(testing::fileExists(dir.file("zenity.log")));
}

TEST_F(DesktopBatch, CancelInTheDialogStopsTheBatch) {
  std::string big = recordingOf(40000);
  for (int i = 0; i < 20; ++i) put("big/r" + std::to_string(i) + ".tlq", big);
  auto r = fromDesktop({dir.file("big")}, {{"CANCEL", "1"}});  // Cancel pressed at once
  EXPECT_EQ(r.exitCode, 130) << r.out;
  EXPECT_TRUE(r.out.starts_with("cancelled: ")) << r.out;
  EXPECT_EQ(filesNamed(".tmp"), std::vector<std::string>());
  EXPECT_LT(filesNamed(".csv", dir.file("big")).size(), 20u);
  EXPECT_NE(zenityLog(2).find("\n--warning --no-markup --title=tlqconverter --text=The conversion was cancelled."),
            std::string::npos);
}

// A terminal gets one progress line, rewritten in place; a log gets none.
TEST_F(BatchRun, ProgressLineOnlyOnATerminal) {
  for (int i = 0; i < 30; ++i) put("t/r" + std::to_string(i) + ".tlq", recordingOf(4000));
  std::vector<std::string> args = {TLQ_CONSOLE_PROGRAM, "--batch", dir.file("t")};
  std::map<std::string, std::string> env = {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
  auto onTerminal = testing::RunningProcess(args, env, true).wait();
  EXPECT_EQ(onTerminal.exitCode, 0) << onTerminal.out;
  EXPECT_NE(onTerminal.err.find("\r30/30 recordings, "), std::string::npos) << onTerminal.err;
  EXPECT_EQ(onTerminal.err.find('\n'), std::string::npos);  // one line, cleared at the end
  EXPECT_TRUE(onTerminal.err.ends_with("\r")) << onTerminal.err;
  EXPECT_TRUE(onTerminal.out.starts_with("30 recordings converted")) << onTerminal.out;

  auto logged = testing::RunningProcess(args, env).wait();
  EXPECT_EQ(logged.err, "");
  EXPECT_EQ(logged.out.substr(0, 30), onTerminal.out.substr(0, 30));
}

// A workbook's rows are half its work, the library's compression the other
// half: the line does not say all is done (or "0:00 left") while it is not.
TEST_F(BatchRun, TheProgressOfWorkbooksIsNotDoneBeforeTheEnd) {
  put("w/r.tlq", recordingOf(150000));
  auto r = testing::RunningProcess({TLQ_CONSOLE_PROGRAM, "--batch", "--xlsx", dir.file("w")},
                                   {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}}, true)
               .wait();
  EXPECT_EQ(r.exitCode, 0) << r.out;
  std::regex line(R"(\r(\d+)/(\d+) recordings, ([0-9.]+)/([0-9.]+) MB[^\r]*)");
  size_t lines = 0;
  for (auto it = std::sregex_iterator(r.err.begin(), r.err.end(), line); it != std::sregex_iterator(); ++it) {
    if ((*it)[1] == (*it)[2]) continue;  // done
    ++lines;
    EXPECT_LT(std::stod((*it)[3]), std::stod((*it)[4])) << (*it)[0];
    EXPECT_EQ((*it)[0].str().find("0:00 left"), std::string::npos) << (*it)[0];
  }
  EXPECT_GT(lines, 3u) << r.err;
}

// Ctrl-C (SIGINT), SIGTERM or SIGHUP in the middle of a large batch: the recordings
// under way stop, their temporary files go, the tables already written stay
// whole, and the summary says so.
TEST_F(BatchRun, InterruptStopsCleanly) {
  std::string big = recordingOf(60000);
  for (int i = 0; i < 40; ++i) put("big/r" + std::to_string(i) + ".tlq", big);
  std::string whole = singleTable(dir.file("big/r0.tlq"));
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(signal);
    testing::RunningProcess batch({TLQ_CONSOLE_PROGRAM, "--batch", dir.file("big")},
                                  {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
    // Once the first tables are there (a slow build on a loaded machine
    // may take seconds).
    for (int i = 0; i < 3000 && filesNamed(".csv", dir.file("big")).size() < 3; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    auto sent = std::chrono::steady_clock::now();
    ::kill(batch.pid(), signal);
    auto r = batch.wait();
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
    EXPECT_EQ(r.exitCode, 128 + signal) << r.out << r.err;
    EXPECT_TRUE(r.out.starts_with("cancelled: ")) << r.out;
    EXPECT_NE(r.out.find(" not converted, "), std::string::npos) << r.out;
    EXPECT_EQ(filesNamed(".tmp"), std::vector<std::string>());
    std::vector<std::string> tables = filesNamed(".csv", dir.file("big"));
    EXPECT_GE(tables.size(), 3u);
    EXPECT_LT(tables.size(), 40u);
    for (const std::string& t : tables) {
      EXPECT_EQ(readFile(t), whole) << t;
      fs::remove(fs::u8path(t));
    }
    EXPECT_TRUE(reports().empty());
  }
}
#endif

}  // namespace
}  // namespace tlq
