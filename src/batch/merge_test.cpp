#include "batch/merge.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>

#include "app/merge_fixture.h"
#include "batch/find_recordings.h"
#include "error.h"
#include "test_support.h"

namespace tlq {
namespace {

// The kind and message of what a recording failed with.
std::string failureOf(const MergedRecording& r) {
  if (!r.failure) return "no failure";
  return testing::failureOf([&] { std::rethrow_exception(r.failure); });
}

// A recording written again between the plan and the write is read and
// checked again, not taken as the plan found it: a text that broke fails
// the merge, other readings are merged as they are now.
TEST(MergeReadAgain, ARecordingChangedAfterThePlanIsCheckedAgain) {
  testing::TempDir dir;
  const std::string a = dir.file("a.tlq"), b = dir.file("b.tlq"), out = dir.file("campaign.csv");
  const auto when = std::filesystem::file_time_type(std::chrono::seconds(1'700'000'000));
  std::atomic<bool> cancel{false};
  testing::writeFile(a, campaign(0, 50));
  for (bool broken : {true, false}) {
    testing::writeFile(b, campaign(50, 50));
    std::filesystem::last_write_time(b, when);
    Merge merge(findRecordings({dir.path()}, FindOptions()), out, MergeSettings());
    ASSERT_TRUE(merge.plan(cancel));
    std::string now = campaign(50, 50, {}, "", 1, true, 60);
    if (broken) now.back() = ']';  // the same size, no longer JSON
    testing::writeFile(b, now);
    std::filesystem::last_write_time(b, when + std::chrono::seconds(1));
    EXPECT_EQ(merge.writeCsv(cancel), !broken);
    const MergedRecording& second = merge.recordings().at(1);
    ASSERT_EQ(second.name, "b.tlq");
    if (broken) {
      EXPECT_EQ(failureOf(second), "JsonParseError: invalid JSON at line 51, column 118: expected ',' or '}', found ']'");
      EXPECT_FALSE(testing::fileExists(out));
    } else {
      EXPECT_EQ(failureOf(second), "no failure");
      EXPECT_NE(testing::readFile(out).find("b.tlq,2026-03-01T08:01:00,X=+01.999 Y=-12.060,1.999,"), std::string::npos)
          << testing::readFile(out).substr(0, 2000);
    }
  }
}

}  // namespace
}  // namespace tlq
