#include "batch/table_proof.h"

#include <gtest/gtest.h>

#include "test_support.h"

namespace tlq {
namespace {

using testing::writeFile;

class TableProof : public ::testing::Test {
 protected:
  // Writes the parts (of the given contents) and puts them in as one commit.
  void commit(const std::vector<std::string>& texts, const TableBasis& made) {
    parts.clear();
    for (size_t k = 0; k < texts.size(); ++k) {
      parts.push_back(dir.file("t_part" + std::to_string(k + 1) + ".csv"));
      writeFile(parts.back(), texts[k]);
    }
    ASSERT_TRUE(stampCommit(parts, made));
  }
  std::vector<std::pair<uint64_t, PathInfo>> named(size_t from = 1) {
    std::vector<std::pair<uint64_t, PathInfo>> all;
    for (size_t k = from; k < parts.size(); ++k) all.emplace_back(k + 1, pathInfo(parts[k]));
    return all;
  }
  std::optional<std::vector<size_t>> proven(const TableBasis& asked) {
    return provenParts(pathInfo(parts[0]), named(), asked);
  }

  testing::TempDir dir;
  std::vector<std::string> parts;
  TableBasis basis{ticksOfSeconds(1'700'000'000) + 123, 4567, 2, ';', ',', false};
};

TEST_F(TableProof, ACommitProvesItsPartsAndWhatTheyAreMadeFrom) {
  commit({"h\r\n1\r\n2\r\n", "h\r\n3\r\n4\r\n", "h\r\n5\r\n"}, basis);
  EXPECT_EQ(proven(basis), (std::vector<size_t>{0, 1}));
  // One time for all, within the second before it was set, not after.
  int64_t time = pathInfo(parts[0]).modified;
  for (const std::string& part : parts) EXPECT_EQ(pathInfo(part).modified, time);
  EXPECT_TRUE(sameCommit(pathInfo(parts[2]), pathInfo(parts[0])));
  // Made otherwise: another split, other separators, a workbook, another
  // recording.
  std::vector<TableBasis> others(7, basis);
  others[0].splitRows = 0;
  others[1].splitRows = 3;
  others[2].listSeparator = ',';
  others[3].decimalSeparator = '.';
  others[4].workbook = true;
  others[5].recordingModified += ticksOfSeconds(1) / 10'000'000;
  others[6].recordingSize += 1;
  for (size_t k = 0; k < others.size(); ++k) EXPECT_FALSE(proven(others[k])) << k;
}

TEST_F(TableProof, ATableMissingAPartOrChangedProvesNothing) {
  commit({"h\r\n1\r\n2\r\n", "h\r\n3\r\n4\r\n", "h\r\n5\r\n6\r\n"}, basis);
  PathInfo first = pathInfo(parts[0]);
  auto all = named();
  // The last part gone: the first two alone are not the table.
  EXPECT_FALSE(provenParts(first, {all[0]}, basis));
  // A part in between gone.
  EXPECT_FALSE(provenParts(first, {all[1]}, basis));
  // Only the first.
  EXPECT_FALSE(provenParts(first, {}, basis));
  // A part changed, its time kept: its size tells.
  int64_t time = pathInfo(parts[2]).modified;
  writeFile(parts[2], "h\r\n5\r\n6\r\n7\r\n");
  ASSERT_TRUE(setModified(parts[2], time));
  EXPECT_FALSE(proven(basis));
  // A part written again: no part of this commit, so one is missing.
  writeFile(parts[2], "h\r\n5\r\n6\r\n");
  EXPECT_FALSE(sameCommit(pathInfo(parts[2]), first));
  EXPECT_FALSE(proven(basis));
  ASSERT_TRUE(setModified(parts[2], time));
  EXPECT_EQ(proven(basis), (std::vector<size_t>{0, 1}));
}

// A file system that keeps coarser times (FAT's two seconds, exFAT's ten
// milliseconds, a microsecond) cuts the commit's time: nothing is proven.
TEST_F(TableProof, TimesCutToACoarserStepProveNothing) {
  const int64_t second = ticksOfSeconds(1);
  for (int64_t step : {2 * second, second, second / 100, second / 1'000'000}) {
    commit({"h\r\n1\r\n"}, basis);
    EXPECT_TRUE(proven(basis));
    int64_t time = pathInfo(parts[0]).modified;
    ASSERT_TRUE(setModified(parts[0], time - (time % step + step) % step));
    EXPECT_FALSE(proven(basis)) << step;
  }
}

// A part that a later commit left beside its table: known as this program's
// untouched file by the later commit's time, once marked.
TEST_F(TableProof, AStalePartIsMarkedAsLeftByTheNextCommit) {
  commit({"h\r\n1\r\n", "h\r\n2\r\n", "h\r\n3\r\n"}, basis);
  std::string stale = parts[2];
  PathInfo older = pathInfo(parts[0]);
  EXPECT_TRUE(sameCommit(pathInfo(stale), older));
  EXPECT_FALSE(leftByCommit(pathInfo(stale), older));
  TableBasis unsplit = basis;
  unsplit.splitRows = 0;
  writeFile(parts[0], "h\r\n1\r\n2\r\n");
  ASSERT_TRUE(stampCommit({parts[0]}, unsplit));
  PathInfo newer = pathInfo(parts[0]);
  EXPECT_FALSE(sameCommit(pathInfo(stale), newer));
  ASSERT_TRUE(leaveStale(stale, newer));
  EXPECT_TRUE(leftByCommit(pathInfo(stale), newer));
  EXPECT_FALSE(sameCommit(pathInfo(stale), newer));
  // It is no part of the table, which is whole without it.
  EXPECT_EQ(provenParts(newer, {{3, pathInfo(stale)}}, unsplit), std::vector<size_t>());
  // A file whose time is not a commit's marks nothing.
  writeFile(dir.file("mine.csv"), "h\r\n");
  ASSERT_TRUE(setModified(dir.file("mine.csv"), ticksOfSeconds(1'700'000'000)));
  EXPECT_FALSE(leaveStale(stale, pathInfo(dir.file("mine.csv"))));
  EXPECT_FALSE(sameCommit(pathInfo(dir.file("mine.csv")), pathInfo(dir.file("mine.csv"))));
}

}  // namespace
}  // namespace tlq
