#include "batch/table_plan.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "batch/batch.h"
#include "batch/table_files.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::fileExists;
using testing::readFile;
using testing::recordingOf;

class PlanOfTables : public ::testing::Test {
 protected:
  std::string put(const std::string& name, const std::string& text) {
    fs::create_directories(fs::u8path(dir.file("in")));
    std::string path = dir.file("in/" + name);
    testing::writeFile(path, text);
    return path;
  }
  std::vector<BatchItem> found() { return findRecordings({dir.file("in")}, {}); }
  // The recordings of "in" converted as a batch does, with `settings`.
  std::vector<BatchResult> convertAll(const BatchSettings& settings) {
    Batch batch(found(), settings);
    std::atomic<bool> cancel{false};
    batch.run(cancel, [](size_t) {}, [] {});
    return batch.results();
  }
  static std::vector<std::string> pathsOf(const std::vector<StalePart>& parts) {
    std::vector<std::string> paths;
    for (const StalePart& part : parts) paths.push_back(part.path);
    return paths;
  }

  testing::TempDir dir;
};

TEST_F(PlanOfTables, ATableIsUpToDateOnlyAsItsCommitLeftItWithTheSameOptions) {
  std::string recording = put("a.tlq", recordingOf(30));
  ASSERT_EQ(convertAll({',', '.', 0, 1}).front().state, BatchResult::State::converted);
  const std::string table = found().front().table;
  std::vector<std::string> tables;
  EXPECT_TRUE(TablePlan(found(), {',', '.', 0, true}).upToDate(0, tables));
  EXPECT_EQ(tables, std::vector<std::string>{table});
  EXPECT_FALSE(TablePlan(found(), {',', '.', 0, false}).upToDate(0, tables));  // no --update
  EXPECT_FALSE(TablePlan(found(), {';', '.', 0, true}).upToDate(0, tables));
  EXPECT_FALSE(TablePlan(found(), {',', ',', 0, true}).upToDate(0, tables));
  EXPECT_FALSE(TablePlan(found(), {',', '.', 10, true}).upToDate(0, tables));
  EXPECT_FALSE(TablePlan(found(), {',', '.', 0, true, true}).upToDate(0, tables));  // a workbook is asked for

  // A split table is up to date with all its parts, in order.
  ASSERT_EQ(convertAll({',', '.', 10, 1}).front().tables.size(), 3u);
  tables.clear();
  EXPECT_TRUE(TablePlan(found(), {',', '.', 10, true}).upToDate(0, tables));
  EXPECT_EQ(tables, (std::vector<std::string>{table, tablePartPath(table, 2), tablePartPath(table, 3)}));
  // A part missing: the table is not whole.
  std::string third = readFile(tablePartPath(table, 3));
  fs::remove(fs::u8path(tablePartPath(table, 3)));
  EXPECT_FALSE(TablePlan(found(), {',', '.', 10, true}).upToDate(0, tables));
  // Put back by hand, it proves nothing.
  testing::writeFile(tablePartPath(table, 3), third);
  EXPECT_FALSE(TablePlan(found(), {',', '.', 10, true}).upToDate(0, tables));

  // A recording changed since its table was made.
  ASSERT_EQ(convertAll({',', '.', 0, 1}).front().state, BatchResult::State::converted);
  EXPECT_TRUE(TablePlan(found(), {',', '.', 0, true}).upToDate(0, tables));
  testing::writeFile(recording, recordingOf(31));
  EXPECT_FALSE(TablePlan(found(), {',', '.', 0, true}).upToDate(0, tables));
}

TEST_F(PlanOfTables, StalePartsAreListedAndOnlyThisProgramsUntouchedOnesRemoved) {
  put("a.tlq", recordingOf(30));
  put("a_part5.txt", "another file's name: its table would be a_part5.csv");
  ASSERT_EQ(convertAll({',', '.', 10, 1}).front().tables.size(), 3u);
  const std::string table = found().front().table;
  const std::string byHand = tablePartPath(table, 4), owned = tablePartPath(table, 5);
  testing::writeFile(byHand, readFile(tablePartPath(table, 3)));
  testing::writeFile(owned, readFile(tablePartPath(table, 3)));
  const std::vector<std::string> stale = {tablePartPath(table, 2), tablePartPath(table, 3), byHand};

  // Listed only.
  std::vector<StalePart> planned = TablePlan(found(), {',', '.', 0}).plannedStaleParts(0);
  EXPECT_EQ(pathsOf(planned), stale);
  for (const StalePart& part : planned) EXPECT_FALSE(part.removed) << part.path;
  // A split table's parts are known once the recording is read.
  EXPECT_TRUE(TablePlan(found(), {',', '.', 10}).plannedStaleParts(0).empty());

  // Planned with --delete-stale-parts: the parts of the commit would go, the
  // one written by hand stays.
  planned = TablePlan(found(), {',', '.', 0, false, false, true}).plannedStaleParts(0);
  ASSERT_EQ(pathsOf(planned), stale);
  EXPECT_TRUE(planned[0].removed);
  EXPECT_TRUE(planned[1].removed);
  EXPECT_FALSE(planned[2].removed);
  EXPECT_EQ(planned[2].kept, "it was changed, or not written with the table");
  for (const std::string& path : stale) EXPECT_TRUE(fileExists(path)) << path;  // a plan removes nothing

  // The conversion removes them as planned, after its commit.
  BatchSettings deleting{',', '.', 0, 1};
  deleting.deleteStaleParts = true;
  std::vector<BatchResult> results = convertAll(deleting);
  ASSERT_EQ(results.front().state, BatchResult::State::converted);
  ASSERT_EQ(pathsOf(results.front().stale), stale);
  EXPECT_TRUE(results.front().stale[0].removed);
  EXPECT_TRUE(results.front().stale[1].removed);
  EXPECT_FALSE(results.front().stale[2].removed);
  EXPECT_FALSE(fileExists(stale[0]));
  EXPECT_FALSE(fileExists(stale[1]));
  EXPECT_TRUE(fileExists(byHand));
  EXPECT_TRUE(fileExists(owned));  // never listed: another file's table
}

TEST_F(PlanOfTables, APartThatIsAnotherRecordingOrItsTableIsRefused) {
  std::string a = put("a.tlq", recordingOf(3));
  std::string recording = put("a_part2.csv", recordingOf(3));  // given as a PATH: a recording
  std::string other = put("a_part3.tlq", recordingOf(3));
  TablePlan plan(findRecordings({a, recording, other}, {}), {',', '.', 1});
  const std::string table = plan.items().front().table;
  EXPECT_EQ(testing::failureOf([&] { plan.refuseClash(0, tablePartPath(table, 2)); }),
            "IOError: cannot open: " + tablePartPath(table, 2) + " (it is the recording " + recording + ")");
  EXPECT_EQ(testing::failureOf([&] { plan.refuseClash(0, tablePartPath(table, 3)); }),
            "IOError: cannot open: " + tablePartPath(table, 3) + " (it is the table of " + other + ")");
  EXPECT_EQ(testing::failureOf([&] { plan.refuseClash(0, tablePartPath(table, 4)); }), "no error");
}

TEST_F(PlanOfTables, WouldOverwriteNamesTheRecordingTheTableOrThePart) {
  std::string a = put("a.tlq", recordingOf(3));
  put("b.tlq", recordingOf(3));
  TablePlan plan(found(), {',', '.', 0});
  const std::string tableA = plan.items()[0].table, tableB = plan.items()[1].table;
  EXPECT_EQ(plan.wouldOverwrite(plan.items()[0].path), plan.items()[0].path);
  EXPECT_EQ(plan.wouldOverwrite(tableB), tableB);
  EXPECT_EQ(plan.wouldOverwrite(tablePartPath(tableA, 7)), tablePartPath(tableA, 7));
  EXPECT_EQ(plan.wouldOverwrite(dir.file("in/a.log")), "");
  EXPECT_EQ(plan.wouldOverwrite(dir.file("in/../in/b.csv")), tableB);
  // A workbook is never split.
  EXPECT_EQ(TablePlan(found(), {',', '.', 0, false, true}).wouldOverwrite(tablePartPath(tableA, 7)), "");
#ifndef _WIN32
  fs::create_symlink(fs::u8path(a), fs::u8path(dir.file("log.txt")));
  EXPECT_EQ(plan.wouldOverwrite(dir.file("log.txt")), plan.items()[0].path);
  // A part that is a link to the log's file.
  fs::create_symlink(fs::u8path(dir.file("elsewhere.txt")), fs::u8path(tablePartPath(tableA, 2)));
  EXPECT_EQ(TablePlan(found(), {',', '.', 0}).wouldOverwrite(dir.file("elsewhere.txt")), tablePartPath(tableA, 2));
#endif
}

}  // namespace
}  // namespace tlq
