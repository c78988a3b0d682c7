// "--merge" as a user meets it: the console program in real processes, on
// campaign folders of real recordings, checked against the single tables.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <functional>
#include <set>
#include <thread>

#include "app/merge_fixture.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;

TEST_F(MergeRun, DifferentSensorGroupsGoUnderTheCampaignsColumns) {
  put("site/a.tlq", campaign(0, 50));
  put("site/b.tlq", campaign(50, 50, {true, false}));
  put("site/c.tlq", campaign(100, 50, {false, true}));
  std::string out = dir.file("campaign.csv");
  auto r = merge({out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = linesOf(readFile(out));
  EXPECT_EQ(lines.front(),
            "recording;timestamp;inclino1_raw;inclino1_x;inclino1_y;inclino2_raw;inclino2_x;inclino2_y;elasto_raw;"
            "elasto_raw_a;elasto_raw_b;elasto_a_um;elasto_b_um;force_raw;force_kg");
  std::vector<std::string> want =
      expected({{"a.tlq", dir.file("site/a.tlq")}, {"b.tlq", dir.file("site/b.tlq")}, {"c.tlq", dir.file("site/c.tlq")}},
               lines.front());
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), want);
  EXPECT_EQ(lines.size(), 151u);
  EXPECT_NE(r.out.find("merged: b.tlq: 50 lines, 0 repeated lines left out, 0 entries dropped for a failed CRC\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("3 recordings merged into " + out + ": 150 lines written, 0 repeated lines left out, "),
            std::string::npos)
      << r.out;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

TEST_F(MergeRun, OverlappingDownloadsGiveEachEntryOnceAndKeepAChangedOne) {
  // The second download holds the first one's last 100 entries again, one
  // of them changed (which stays); a third holds the same as the second
  // once more, a repeat within a recording of its own stays.
  put("site/d1.tlq", campaign(0, 300));
  put("site/d2.tlq", campaign(200, 300, {}, "", 1, true, 250));
  std::string d3 = campaign(450, 100);
  d3.insert(d3.size() - 2, "," + campaign(549, 1).substr(9, campaign(549, 1).size() - 11));
  put("site/d3.tlq", d3);
  std::string out = dir.file("out/campaign.csv");
  std::string log = dir.file("merge-log.csv");
  auto r = merge({"--log", log, out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = linesOf(readFile(out));
  size_t repeated = 0;
  std::vector<std::string> want = expected(
      {{"d1.tlq", dir.file("site/d1.tlq")}, {"d2.tlq", dir.file("site/d2.tlq")}, {"d3.tlq", dir.file("site/d3.tlq")}},
      lines.front(), &repeated);
  EXPECT_EQ(repeated, 99u + 50u);
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), want);
  EXPECT_EQ(lines.size(), 1u + 300 + 201 + 51);
  EXPECT_NE(r.out.find("merged: d2.tlq: 201 lines, 99 repeated lines left out, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("merged: d3.tlq: 51 lines, 50 repeated lines left out, "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(": 552 lines written, 149 repeated lines left out, "), std::string::npos) << r.out;
  std::string logText = readFile(log);
  EXPECT_NE(logText.find("repeated lines left out\r\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find("d2.tlq;" + out + ";merged;201;0;"), std::string::npos) << logText;
  EXPECT_NE(logText.find(";99\r\n"), std::string::npos) << logText;
}

TEST_F(MergeRun, RecordingsGoInTimeOrderWhereverTheyAreWithThoseWithoutStampsLast) {
  put("site/b/later.tlq", campaign(0, 20, {}, "", 3));
  put("site/a/x/earlier.tlq", campaign(0, 20, {}, "", 2));
  put("site/0-none.tlq", campaign(0, 20, {}, "", 1, false));
  // As instants: 08:00 at +02:00 is 06:00 UTC, before 08:00 UTC that day.
  put("site/c/zoned-late.tlq", campaign(0, 20, {}, "Z", 1));
  put("site/c/zoned-early.tlq", campaign(0, 20, {}, "+02:00", 1));
  std::string out = dir.file("campaign.csv");
  auto dry = merge({"--dry-run", out, dir.file("site")});
  ASSERT_EQ(dry.exitCode, 0) << dry.out << dry.err;
  EXPECT_EQ(dry.out,
            "would merge: c/zoned-early.tlq (from 2026-03-01T08:00:00+02:00)\n"
            "would merge: c/zoned-late.tlq (from 2026-03-01T08:00:00Z)\n"
            "would merge: a/x/earlier.tlq (from 2026-03-02T08:00:00)\n"
            "would merge: b/later.tlq (from 2026-03-03T08:00:00)\n"
            "would merge: 0-none.tlq (no time stamp)\n"
            "would write: " + out + " from 5 recordings\n");
  EXPECT_FALSE(testing::fileExists(out));
  auto r = merge({out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> lines = linesOf(readFile(out));
  std::vector<std::string> want = expected({{"c/zoned-early.tlq", dir.file("site/c/zoned-early.tlq")},
                                            {"c/zoned-late.tlq", dir.file("site/c/zoned-late.tlq")},
                                            {"a/x/earlier.tlq", dir.file("site/a/x/earlier.tlq")},
                                            {"b/later.tlq", dir.file("site/b/later.tlq")},
                                            {"0-none.tlq", dir.file("site/0-none.tlq")}},
                                           lines.front());
  EXPECT_EQ(std::vector<std::string>(lines.begin() + 1, lines.end()), want);
  EXPECT_EQ(lines.size(), 101u);
  // A recording named as a PATH of its own is named by its file name.
  r = merge({out, dir.file("site/b/later.tlq"), dir.file("site/a")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  lines = linesOf(readFile(out));
  EXPECT_TRUE(lines[1].starts_with("x/earlier.tlq;2026-03-02T08:00:00;")) << lines[1];
  EXPECT_TRUE(lines[21].starts_with("later.tlq;2026-03-03T08:00:00;")) << lines[21];
}

TEST_F(MergeRun, AFailingRecordingLeavesNoOutAndKeepsTheOlderOne) {
  put("site/a.tlq", campaign(0, 30));
  put("site/b.tlq", campaign(30, 30, {}, "", 1, true, -1, 45));
  put("site/c.tlq", campaign(60, 30));
  std::string out = dir.file("campaign.csv");
  auto r = merge({out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_FALSE(testing::fileExists(out));
  EXPECT_NE(r.out.find("failed: " + below(dir.file("site"), "b.tlq") + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(out + " not written: 1 of 3 recordings failed"), std::string::npos) << r.out;
  testing::writeFile(out, "older\r\n");
  r = merge({out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(readFile(out), "older\r\n");
  EXPECT_NE(r.out.find(out + " not written (the older one is kept): 1 of 3 recordings failed"), std::string::npos)
      << r.out;
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  // A recording that is no JSON fails the merge before anything is written.
  put("site/b.tlq", "{\"data\":[");
  r = merge({out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_EQ(readFile(out), "older\r\n");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

// The recordings are converted ahead of the one being written: a later one
// that fails at once while a long earlier one is still being written is not
// the failure told when the earlier one fails too, and fails the merge when
// the earlier one is whole.
TEST_F(MergeRun, TheFirstFailureInMergeOrderIsTheOneToldWhileLaterOnesAreAhead) {
  const int longOne = 20000;
  put("site/a.tlq", campaign(0, longOne, {}, "", 1, true, -1, longOne - 1));  // fails at its last entry
  put("site/b.tlq", campaign(longOne, 30, {}, "", 1, true, -1, longOne + 1));  // at its second
  put("site/c.tlq", campaign(longOne + 30, 30));
  const std::string a = below(dir.file("site"), "a.tlq"), b = below(dir.file("site"), "b.tlq");
  std::string out = dir.file("campaign.csv");
  testing::writeFile(out, "older\r\n");
  for (int round = 0; round < 3; ++round) {
    auto r = merge({out, dir.file("site")});
    EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
    EXPECT_NE(r.out.find("failed: " + a + ": "), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find(b), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(out + " not written (the older one is kept): 1 of 3 recordings failed"), std::string::npos)
        << r.out;
    EXPECT_EQ(readFile(out), "older\r\n");
    EXPECT_EQ(leftovers(), std::vector<std::string>());
  }
  // The long one whole: the later failure, met long before the writer came
  // to it, fails the merge, after the long one was merged.
  put("site/a.tlq", campaign(0, longOne));
  std::string log = dir.file("merge.log");
  auto r = merge({"--log", log, out, dir.file("site")});
  EXPECT_EQ(r.exitCode, 2) << r.out << r.err;
  EXPECT_NE(r.out.find("merged: a.tlq: " + std::to_string(longOne) + " lines, 0 repeated lines left out"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("failed: " + b + ": "), std::string::npos) << r.out;
  EXPECT_NE(r.out.find(out + " not written (the older one is kept): 1 of 3 recordings failed"), std::string::npos)
      << r.out;
  EXPECT_EQ(readFile(out), "older\r\n");
  // The log tells the same: the one after the failure was not merged.
  std::vector<std::string> logged = linesOf(readFile(log));
  ASSERT_EQ(logged.size(), 4u) << readFile(log);
  EXPECT_NE(logged[1].find(";merged;"), std::string::npos) << logged[1];
  EXPECT_NE(logged[2].find(";failed;"), std::string::npos) << logged[2];
  EXPECT_NE(logged[3].find(";not merged;"), std::string::npos) << logged[3];
  EXPECT_EQ(leftovers(), std::vector<std::string>());
}

TEST_F(MergeRun, SplitRowsGivesSeveralWholeParts) {
  put("site/a.tlq", campaign(0, 100));
  put("site/b.tlq", campaign(100, 100, {true, false}));
  put("site/c.tlq", campaign(200, 100));
  std::string out = dir.file("campaign.csv");
  auto r = merge({"--split-rows", "120", out, dir.file("site")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  std::vector<std::string> all;
  std::string header;
  for (const char* name : {"campaign.csv", "campaign_part2.csv", "campaign_part3.csv"}) {
    std::vector<std::string> lines = linesOf(readFile(dir.file(name)));
    if (header.empty()) header = lines.front();
    EXPECT_EQ(lines.front(), header) << name;
    all.insert(all.end(), lines.begin() + 1, lines.end());
  }
  EXPECT_FALSE(testing::fileExists(dir.file("campaign_part4.csv")));
  EXPECT_EQ(all.size(), 300u);
  EXPECT_EQ(all, expected({{"a.tlq", dir.file("site/a.tlq")},
                           {"b.tlq", dir.file("site/b.tlq")},
                           {"c.tlq", dir.file("site/c.tlq")}},
                          header));
}

TEST_F(MergeRun, CommandLineMistakesAreUsageErrors) {
  put("site/a.tlq", campaign(0, 3));
  std::string site = dir.file("site");
  for (std::vector<std::string> args :
       {std::vector<std::string>{dir.file("out.txt"), site}, {dir.file("out.csv")}, {"--out", dir.path(), dir.file("o.csv"), site},
        {"--update", dir.file("o.csv"), site}, {"--delete-stale-parts", dir.file("o.csv"), site},
        {"--split-rows", "5", dir.file("o.xlsx"), site}, {dir.file("site/a.tlq"), site}}) {
    auto r = merge(args);
    EXPECT_EQ(r.exitCode, 2) << args[0];
    EXPECT_NE(r.err.find("Usage: tlqconverter --merge OUT"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
  }
  EXPECT_EQ(filesNamed(".csv"), std::vector<std::string>());
  // Any case of the extension.
  auto r = merge({dir.file("OUT.CSV"), site});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_TRUE(testing::fileExists(dir.file("OUT.CSV")));
}


// The lines of `csv` whose time stamp (their first field, or the second
// after "recording") `keep` takes.
std::vector<std::string> linesWhere(const std::string& csv, const std::function<bool(int)>& keep) {
  std::vector<std::string> lines = linesOf(csv), kept = {lines.front()};
  for (size_t i = 1; i < lines.size(); ++i)
    if (keep(static_cast<int>(i - 1))) kept.push_back(lines[i]);
  return kept;
}

TEST_F(MergeRun, WindowKeepsStampsFromFromAndBeforeTo) {
  // Entry i is at 08:00:00 + i seconds.
  std::string plain = put("w/plain.tlq", campaign(0, 120));
  std::string zoned = put("w/zoned.tlq", campaign(0, 120, {}, "+02:00"));
  std::string whole = singleTable(plain), wholeZoned = singleTable(zoned);
  auto r = run({"--from", "2026-03-01T08:00:30", "--to", "2026-03-01T08:01", plain}, {{"TLQCONVERTER_QUIET_SECONDS", "9"}});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(linesOf(readFile(dir.file("w/plain.csv"))), linesWhere(whole, [](int i) { return i >= 30 && i < 60; }));
  // A bound with a zone is an instant for stamps with one: 06:00:30Z is
  // 08:00:30+02:00.
  r = run({"--from", "2026-03-01T06:00:30Z", "--to", "2026-03-01T08:01:00+02:00", zoned});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(linesOf(readFile(dir.file("w/zoned.csv"))),
            linesWhere(wholeZoned, [](int i) { return i >= 30 && i < 60; }));
  // Without a zone, the stamps as written.
  r = run({"--to", "2026-03-01T08:00:10.5", zoned});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(linesOf(readFile(dir.file("w/zoned.csv"))), linesWhere(wholeZoned, [](int i) { return i <= 10; }));
  // A window that leaves no line out gives the table as it is.
  r = run({"--from", "2026-03-01", "--to", "2026-03-02", plain});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(readFile(dir.file("w/plain.csv")), whole);
  // The workbook keeps to it too.
  r = run({"--xlsx", "--from", "2026-03-01T08:01:00", plain});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(testing::workbookProblems(dir.file("w/plain.xlsx")), "");
}

TEST_F(MergeRun, WindowLeavesOutLinesWithoutStampsAndSaysHowMany) {
  put("w/a.tlq", campaign(0, 100));
  put("w/none.tlq", campaign(0, 10, {}, "", 1, false));
  std::string log = dir.file("log.csv");
  auto r = batch({"--from", "2026-03-01T08:01", "--log", log, dir.file("w")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(dataLines(readFile(dir.file("w/a.csv"))), 40u);
  EXPECT_EQ(dataLines(readFile(dir.file("w/none.csv"))), 0u);
  EXPECT_NE(r.out.find("40 lines written, 0 entries dropped for a failed CRC, 70 lines outside the window, "),
            std::string::npos)
      << r.out;
  std::string logText = readFile(log);
  EXPECT_NE(logText.find(";unreadable force;lines outside the window\r\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find(";60\r\n"), std::string::npos) << logText;
  EXPECT_NE(logText.find(";10\r\n"), std::string::npos) << logText;
  // The merge: the window's lines of each recording.
  std::string out = dir.file("campaign.csv");
  r = merge({"--to", "2026-03-01T08:00:50", out, dir.file("w")});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(dataLines(readFile(out)), 50u);
  EXPECT_NE(r.out.find("merged: a.tlq: 50 lines, 0 repeated lines left out, 0 entries dropped for a failed CRC, "
                       "50 lines outside the window\n"),
            std::string::npos)
      << r.out;
  EXPECT_NE(r.out.find("merged: none.tlq: 0 lines, 0 repeated lines left out, 0 entries dropped for a failed CRC, "
                       "10 lines outside the window\n"),
            std::string::npos)
      << r.out;
}

TEST_F(MergeRun, AWindowThatDoesNotReadIsAUsageError) {
  std::string a = put("w/a.tlq", campaign(0, 5));
  for (std::vector<std::string> args : {std::vector<std::string>{"--from", "March", a}, {"--to", "2026-03-01T8:00", a},
                                        {"--from", "2026-02-30", a}, {"--from", "2026-03-01", "--from", "2026-03-02", a}}) {
    auto single = run(args);
    EXPECT_EQ(single.exitCode, 2) << args[1];
    EXPECT_NE(single.err.find("Usage: tlqconverter"), std::string::npos) << single.err;
    auto many = batch(args);
    EXPECT_EQ(many.exitCode, 2) << args[1];
    EXPECT_NE(many.err.find("Usage: tlqconverter --batch"), std::string::npos) << many.err;
  }
  auto r = batch({"--update", "--from", "2026-03-01", a});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_NE(r.err.find("--update does not go with --from or --to"), std::string::npos) << r.err;
  EXPECT_EQ(filesNamed(".csv"), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}

// A table of a window holds part of its recording: a later --update
// without a window converts the recording again, whichever mode wrote it.
TEST_F(MergeRun, AWindowsTableIsNotTakenForUpToDate) {
  std::string a = put("w/a.tlq", campaign(0, 100));
  struct Way {
    std::string name;
    bool workbook, batchRun;
  };
  for (const Way& way : {Way{"single", false, false}, Way{"batch", false, true}, Way{"single --xlsx", true, false},
                         Way{"batch --xlsx", true, true}}) {
    std::vector<std::string> args = {"--from", "2026-03-01T08:01", a};
    if (way.workbook) args.insert(args.begin(), "--xlsx");
    auto r = way.batchRun ? batch(args) : run(args);
    ASSERT_EQ(r.exitCode, 0) << way.name << r.out << r.err;
    std::string table = dir.file(way.workbook ? "w/a.xlsx" : "w/a.csv");
    ASSERT_TRUE(fileExists(table)) << way.name;
    if (!way.workbook) {
      EXPECT_EQ(dataLines(readFile(table)), 40u) << way.name;
    }
    std::vector<std::string> update = {"--update", a};
    if (way.workbook) update.insert(update.begin(), "--xlsx");
    r = batch(update);
    ASSERT_EQ(r.exitCode, 0) << way.name << r.out << r.err;
    EXPECT_TRUE(r.out.starts_with("1 recording converted, 0 failed, 100 lines written")) << way.name << ": " << r.out;
    if (way.workbook) {
      EXPECT_EQ(testing::workbookProblems(table), "") << way.name;
    } else {
      EXPECT_EQ(readFile(table), singleTable(a)) << way.name;
    }
    // The whole table it wrote then proves itself.
    r = batch(update);
    EXPECT_TRUE(r.out.starts_with("0 recordings converted, 1 up to date, 0 failed")) << way.name << ": " << r.out;
  }
}

#ifndef _WIN32
TEST_F(MergeRun, CtrlCMidMergeLeavesTheOlderOut) {
  std::string big = testing::recordingOf(60000);
  for (int i = 0; i < 30; ++i) put("big/r" + std::to_string(100 + i) + ".tlq", big);
  fs::create_directories(fs::u8path(dir.file("out")));
  std::string out = dir.file("out/campaign.csv");
  testing::writeFile(out, "older\r\n");
  testing::RunningProcess merging({TLQ_CONSOLE_PROGRAM, "--merge", out, dir.file("big")},
                                  {{"TMP", tmp}, {"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}});
  // Once the merged table is under way.
  for (int i = 0; i < 6000 && filesNamed(".tmp", dir.file("out")).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(filesNamed(".tmp", dir.file("out")).size(), 1u);
  ::kill(merging.pid(), SIGINT);
  auto r = merging.wait();
  EXPECT_EQ(r.exitCode, 130) << r.out << r.err;
  EXPECT_NE(r.out.find("cancelled: " + out + " not written (the older one is kept)"), std::string::npos) << r.out;
  EXPECT_EQ(readFile(out), "older\r\n");
  EXPECT_EQ(leftovers(), std::vector<std::string>());
  EXPECT_TRUE(reports().empty());
}
#endif

}  // namespace
}  // namespace tlq
