#include "batch/batch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>

#include "convert/convert.h"
#include "test_support.h"

namespace tlq {
namespace {

namespace fs = std::filesystem;
using testing::readFile;
using testing::recordingOf;

class BatchOfRecordings : public ::testing::Test {
 protected:
  BatchOfRecordings() : store(dir, ",", ".") {}

  std::string put(const std::string& name, const std::string& json) {
    fs::create_directories(fs::u8path(dir.file("in")));
    std::string path = dir.file("in/" + name);
    testing::writeFile(path, json);
    return path;
  }
  std::string singleTable(const std::string& recording) {
    std::string copy = dir.file("single.tlq");
    testing::writeFile(copy, readFile(recording));
    return readFile(mainConvert(copy));
  }
  size_t temporaryFiles() {
    size_t n = 0;
    for (const auto& e : fs::recursive_directory_iterator(fs::u8path(dir.path())))
      n += e.path().extension() == ".tmp";
    return n;
  }

  testing::TempDir dir;
  testing::SeparatorStore store;
};

TEST_F(BatchOfRecordings, EachLikeTheSingleConversionAndAFailureStopsOnlyItsOwn) {
  std::string a = put("a.tlq", recordingOf(30, 2));
  put("b.tlq", recordingOf(3000, 0, 2000));
  std::string c = put("c.tlq", recordingOf(5000));  // large enough for several threads
  std::string d = put("d.tlq", recordingOf(1, 1));
  for (unsigned threads : {1u, 2u, 4u}) {
    SCOPED_TRACE(threads);
    Batch batch(findRecordings({dir.file("in")}, {}), {',', '.', 0, threads});
    std::mutex mutex;
    std::vector<size_t> finished;
    size_t ticks = 0;
    std::atomic<bool> cancel{false};
    batch.run(
        cancel,
        [&](size_t i) {
          std::lock_guard lock(mutex);
          finished.push_back(i);
        },
        [&] { ++ticks; });
    std::sort(finished.begin(), finished.end());
    EXPECT_EQ(finished, (std::vector<size_t>{0, 1, 2, 3}));
    EXPECT_GE(ticks, 1u);
    EXPECT_EQ(batch.itemsDone(), 4u);
    EXPECT_EQ(batch.bytesDone(), batch.bytesTotal());
    const auto& results = batch.results();
    using State = BatchResult::State;
    EXPECT_EQ(results[0].state, State::converted);
    EXPECT_EQ(results[1].state, State::failed);
    EXPECT_EQ(testing::failureOf([&] { std::rethrow_exception(results[1].failure); }),
              "AssertionError: tlqconverter(190, 5) `header == 61441` ");
    EXPECT_EQ(results[2].state, State::converted);
    EXPECT_EQ(results[3].state, State::converted);
    EXPECT_EQ(results[0].lines, 30u);
    EXPECT_EQ(results[0].dropped, 2u);
    EXPECT_EQ(results[2].lines, 5000u);
    EXPECT_EQ(results[3].tables, std::vector<std::string>{batch.items()[3].table});
    for (const std::string& rec : {a, c, d}) EXPECT_EQ(readFile(rec.substr(0, rec.size() - 3) + "csv"), singleTable(rec));
    EXPECT_FALSE(testing::fileExists(dir.file("in/b.csv")));
    EXPECT_EQ(temporaryFiles(), 0u);
  }
}

TEST_F(BatchOfRecordings, CancelledRecordingsLeaveNoTemporaryFile) {
  std::string json = recordingOf(20000);
  for (int i = 0; i < 12; ++i) put("r" + std::to_string(i) + ".tlq", json);
  std::string whole = singleTable(dir.file("in/r0.tlq"));
  for (unsigned threads : {1u, 2u}) {
    SCOPED_TRACE(threads);
    Batch batch(findRecordings({dir.file("in")}, {}), {',', '.', 0, threads});
    std::atomic<bool> cancel{false};
    batch.run(
        cancel, [&](size_t) { cancel = true; }, [] {});  // stop once the first is done
    size_t converted = 0;
    for (size_t i = 0; i < batch.items().size(); ++i) {
      const BatchResult& r = batch.results()[i];
      std::string table = batch.items()[i].table;
      EXPECT_NE(r.state, BatchResult::State::failed);
      if (r.state == BatchResult::State::converted) {
        ++converted;
        EXPECT_EQ(readFile(table), whole);
        fs::remove(fs::u8path(table));
      } else {
        EXPECT_FALSE(testing::fileExists(table));
      }
    }
    EXPECT_GE(converted, 1u);
    EXPECT_LE(converted, batch.workers());  // those under way when it was stopped may finish
    EXPECT_EQ(batch.itemsDone(), converted);  // the progress counts no cancelled one as done
    EXPECT_EQ(temporaryFiles(), 0u);
  }
}

}  // namespace
}  // namespace tlq
