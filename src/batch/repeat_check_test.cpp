#include "batch/repeat_check.h"

#include <gtest/gtest.h>

#include <string>

namespace tlq {
namespace {

constexpr int64_t kSecond = 1'000'000'000;

// The stamp `seconds` after midnight of day 46000 (2025-12-09).
StampTime at(int64_t seconds) { return {46000 + seconds / 86400, seconds % 86400 * kSecond}; }

std::string lineAt(int64_t seconds, const std::string& value = "1.5") {
  return std::to_string(seconds) + ";" + value;
}

TEST(RepeatCheck, OnlyAnEarlierRecordingsLineIsARepeat) {
  RepeatCheck check;
  EXPECT_FALSE(check.repeated("a;1", at(10)));
  EXPECT_FALSE(check.repeated("a;1", at(10)));  // the recording's own, twice
  EXPECT_FALSE(check.repeated("b;2", at(11)));
  check.recordingDone(at(10));
  EXPECT_TRUE(check.repeated("a;1", at(10)));
  EXPECT_TRUE(check.repeated("b;2", at(11)));
  EXPECT_FALSE(check.repeated("a;1 ", at(10)));
  EXPECT_FALSE(check.repeated("c;3", at(12)));
  EXPECT_FALSE(check.repeated("c;3", at(12)));
  check.recordingDone(at(11));
  EXPECT_TRUE(check.repeated("c;3", at(12)));
  EXPECT_FALSE(check.repeated("a;1", at(10)));  // let go: before the last recording's first stamp
}

TEST(RepeatCheck, LinesBeforeTheNextFirstStampAreLetGoThoseAtItStay) {
  RepeatCheck check;
  for (int64_t s = 0; s < 10; ++s) EXPECT_FALSE(check.repeated(lineAt(s), at(s)));
  EXPECT_FALSE(check.repeated("no stamp", std::nullopt));
  check.recordingDone(at(5));
  EXPECT_EQ(check.held(), 6u);  // 5 to 9 and the one without a stamp
  for (int64_t s = 0; s < 5; ++s) EXPECT_FALSE(check.repeated(lineAt(s), at(s))) << s;
  for (int64_t s = 5; s < 10; ++s) EXPECT_TRUE(check.repeated(lineAt(s), at(s))) << s;
  EXPECT_TRUE(check.repeated("no stamp", std::nullopt));
  // The lines 0 to 4 came again in this recording: they are its own now,
  // and let go with it where the next recording starts after them.
  check.recordingDone(at(7));
  for (int64_t s = 0; s < 7; ++s) EXPECT_FALSE(check.repeated(lineAt(s), at(s))) << s;
  for (int64_t s = 7; s < 10; ++s) EXPECT_TRUE(check.repeated(lineAt(s), at(s))) << s;
  // A stamp in the same second but a nanosecond earlier is let go.
  RepeatCheck fine;
  EXPECT_FALSE(fine.repeated("x", StampTime{46000, 7}));
  EXPECT_FALSE(fine.repeated("y", StampTime{46000, 8}));
  fine.recordingDone(StampTime{46000, 8});
  EXPECT_FALSE(fine.repeated("x", StampTime{46000, 7}));
  EXPECT_TRUE(fine.repeated("y", StampTime{46000, 8}));
}

TEST(RepeatCheck, WithoutANextStampNothingIsLetGoFromThenOn) {
  RepeatCheck check;
  EXPECT_FALSE(check.repeated(lineAt(100), at(100)));
  check.recordingDone(at(50));
  // Out of order: before the first stamp of its own recording.
  EXPECT_FALSE(check.repeated(lineAt(20), at(20)));
  check.recordingDone(std::nullopt);
  EXPECT_TRUE(check.repeated(lineAt(20), at(20)));
  EXPECT_TRUE(check.repeated(lineAt(100), at(100)));
  check.recordingDone(std::nullopt);
  EXPECT_TRUE(check.repeated(lineAt(20), at(20)));
}

TEST(RepeatCheck, GrowsPastItsFirstSizeAndKeepsEveryLine) {
  RepeatCheck check;
  constexpr int64_t kLines = 200'000;
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(check.repeated(lineAt(s), at(s)));
  EXPECT_GE(check.bytes(), static_cast<size_t>(kLines) * 24);
  check.recordingDone(at(0));
  EXPECT_EQ(check.held(), static_cast<size_t>(kLines));
  // At most 64 bytes a line held, however the growth fell.
  EXPECT_LE(check.bytes(), static_cast<size_t>(kLines) * 64);
  for (int64_t s = 0; s < kLines; ++s) ASSERT_TRUE(check.repeated(lineAt(s), at(s))) << s;
  for (int64_t s = 0; s < 1000; ++s) ASSERT_FALSE(check.repeated(lineAt(s, "2.5"), at(s))) << s;
}

TEST(RepeatCheck, ManyLinesOfTheSameFirstHash) {
  RepeatCheck check;
  constexpr uint32_t kLines = 5000;  // one chain, past the first size
  for (uint32_t b = 0; b < kLines; ++b) ASSERT_FALSE(check.repeated({42, b}, at(b)));
  for (uint32_t b = 0; b < kLines; ++b) ASSERT_FALSE(check.repeated({42, b}, at(b)));
  check.recordingDone(at(kLines / 2));
  EXPECT_EQ(check.held(), kLines / 2);
  // Those let go are not found; new ones of the chain take their slots.
  for (uint32_t b = 0; b < kLines / 2; ++b) ASSERT_FALSE(check.repeated({42, b}, at(b))) << b;
  for (uint32_t b = kLines / 2; b < kLines; ++b) ASSERT_TRUE(check.repeated({42, b}, at(b))) << b;
  for (uint32_t b = kLines; b < kLines + 100; ++b) ASSERT_FALSE(check.repeated({42, b}, at(b)));
  ASSERT_FALSE(check.repeated({43, 0}, at(0)));
  check.recordingDone(at(kLines));
  for (uint32_t b = 0; b < kLines; ++b) ASSERT_FALSE(check.repeated({42, b}, at(b))) << b;
  for (uint32_t b = kLines; b < kLines + 100; ++b) ASSERT_TRUE(check.repeated({42, b}, at(b))) << b;
  EXPECT_FALSE(check.repeated({43, 0}, at(0)));
}

TEST(RepeatCheck, ACampaignOfDownloadsHoldsOnlyTheirOverlap) {
  // Recordings one after another, each holding the previous one's last 100
  // entries again: the table holds one recording and the overlap, however
  // many came before.
  RepeatCheck check;
  constexpr int64_t kEach = 1000;
  for (int64_t r = 0; r < 300; ++r) {
    const int64_t start = r * (kEach - 100);
    for (int64_t s = start; s < start + kEach; ++s)
      ASSERT_EQ(check.repeated(lineAt(s), at(s)), r > 0 && s < start + 100) << r << " " << s;
    check.recordingDone(at(start + kEach - 100));
    ASSERT_EQ(check.held(), 100u);
    ASSERT_LE(check.bytes(), (kEach + 100) * 64u);
  }
}

}  // namespace
}  // namespace tlq
