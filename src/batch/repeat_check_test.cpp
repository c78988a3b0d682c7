#include "batch/repeat_check.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

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
  // The lines let go are cleared out then, and no table grows for it (the
  // tables are more than half full here).
  RepeatCheck many;
  constexpr int64_t kLines = 80'000;
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(many.repeated(lineAt(s), at(s)));
  many.recordingDone(at(10));
  const size_t bytes = many.bytes();
  many.recordingDone(std::nullopt);
  EXPECT_LE(many.bytes(), bytes);
  EXPECT_EQ(many.held(), static_cast<size_t>(kLines - 10));
  EXPECT_FALSE(many.repeated(lineAt(5), at(5)));
  EXPECT_TRUE(many.repeated(lineAt(kLines - 1), at(kLines - 1)));
}

TEST(RepeatCheck, TheLastRecordingsLinesAreNotNoted) {
  RepeatCheck check;
  for (int64_t s = 0; s < 100; ++s) ASSERT_FALSE(check.repeated(lineAt(s), at(s)));
  check.recordingDone(at(50));
  check.lastRecording();
  const size_t bytes = check.bytes();
  EXPECT_TRUE(check.concerns(at(99), std::nullopt));
  EXPECT_FALSE(check.concerns(at(100), std::nullopt));
  EXPECT_TRUE(check.concerns(std::nullopt, std::nullopt));
  EXPECT_TRUE(check.repeated(lineAt(60), at(60)));
  EXPECT_FALSE(check.repeated(lineAt(40), at(40)));  // let go
  for (int64_t s = 100; s < 10'000; ++s) ASSERT_FALSE(check.repeated(lineAt(s), at(s)));
  EXPECT_EQ(check.bytes(), bytes);
  check.recordingDone(std::nullopt);
  EXPECT_EQ(check.held(), 50u);
}

TEST(RepeatCheck, GrowsPastItsFirstSizeAndKeepsEveryLine) {
  RepeatCheck check;
  constexpr int64_t kLines = 200'000;
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(check.repeated(lineAt(s), at(s)));
  EXPECT_GE(check.bytes(), static_cast<size_t>(kLines) * 16);
  check.recordingDone(at(0));
  EXPECT_EQ(check.held(), static_cast<size_t>(kLines));
  // At most 64 bytes a line held, however the growth fell.
  EXPECT_LE(check.bytes(), static_cast<size_t>(kLines) * 64);
  for (int64_t s = 0; s < kLines; ++s) ASSERT_TRUE(check.repeated(lineAt(s), at(s))) << s;
  for (int64_t s = 0; s < 1000; ++s) ASSERT_FALSE(check.repeated(lineAt(s, "2.5"), at(s))) << s;
}

TEST(RepeatCheck, LinesOfOneHashAreToldApartByTheirStamps) {
  RepeatCheck check;
  constexpr int64_t kLines = 5000;  // one chain, past the first size
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(s)));
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(s)));
  check.recordingDone(at(kLines / 2));
  EXPECT_EQ(check.held(), static_cast<size_t>(kLines / 2));
  // Those let go are not found; new ones of the chain take their slots.
  for (int64_t s = 0; s < kLines / 2; ++s) ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(s))) << s;
  for (int64_t s = kLines / 2; s < kLines; ++s) ASSERT_TRUE(check.repeated(RepeatCheck::LineKey{42}, at(s))) << s;
  for (int64_t s = kLines; s < kLines + 100; ++s) ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(s)));
  ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{43}, at(0)));
  ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, std::nullopt));
  check.recordingDone(at(kLines));
  for (int64_t s = 0; s < kLines; ++s) ASSERT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(s))) << s;
  for (int64_t s = kLines; s < kLines + 100; ++s) ASSERT_TRUE(check.repeated(RepeatCheck::LineKey{42}, at(s))) << s;
  EXPECT_FALSE(check.repeated(RepeatCheck::LineKey{43}, at(0)));
  EXPECT_TRUE(check.repeated(RepeatCheck::LineKey{42}, std::nullopt));
  // The same fields at another time are another line.
  EXPECT_FALSE(check.repeated(RepeatCheck::LineKey{42}, at(kLines + 100)));
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

namespace tlq {
namespace {

// Asking only about the lines that concern the check gives every line the
// verdict that asking about all of them gives: random campaigns of
// recordings whose stamps overlap, step back, repeat, or are missing, in
// merge order (by first stamp, those without any last).
TEST(RepeatCheck, LinesThatDoNotConcernItAreNoRepeats) {
  std::mt19937 random(20261210);
  for (int campaign = 0; campaign < 200; ++campaign) {
    struct Line {
      std::string text;
      std::optional<StampTime> stamp;
    };
    std::vector<std::vector<Line>> recordings;
    int64_t start = 0;
    const int count = 2 + static_cast<int>(random() % 6);
    for (int r = 0; r < count; ++r) {
      std::vector<Line> lines;
      const bool stampless = r == count - 1 && random() % 3 == 0;
      start += static_cast<int64_t>(random() % 40);
      int64_t t = start;
      const int length = 1 + static_cast<int>(random() % 40);
      for (int i = 0; i < length; ++i) {
        if (!stampless) t += static_cast<int64_t>(random() % 4) - (random() % 9 == 0 ? 6 : 0);
        std::optional<StampTime> stamp;
        if (!stampless && random() % 12 != 0) stamp = at(t);
        // Few values: lines come again, within a recording and across.
        const std::string value = std::to_string(random() % 3);
        lines.push_back({(stamp ? std::to_string(t) : "-") + ";" + value, stamp});
      }
      recordings.push_back(std::move(lines));
    }
    // In merge order: by the first stamp of each (those without any last).
    auto firstOf = [](const std::vector<Line>& lines) {
      for (const Line& line : lines)
        if (line.stamp) return line.stamp;
      return std::optional<StampTime>();
    };
    std::stable_sort(recordings.begin(), recordings.end(), [&](const auto& a, const auto& b) {
      const auto fa = firstOf(a), fb = firstOf(b);
      if (fa.has_value() != fb.has_value()) return fa.has_value();
      return fa && *fa < *fb;
    });
    RepeatCheck all, concerned;
    for (size_t r = 0; r < recordings.size(); ++r) {
      const std::optional<StampTime> next = r + 1 < recordings.size() ? firstOf(recordings[r + 1]) : std::nullopt;
      if (r + 1 == recordings.size()) concerned.lastRecording();
      for (const Line& line : recordings[r]) {
        const bool asked = concerned.concerns(line.stamp, next) && concerned.repeated(line.text, line.stamp);
        ASSERT_EQ(all.repeated(line.text, line.stamp), asked) << "campaign " << campaign << ", line " << line.text;
      }
      all.recordingDone(next);
      concerned.recordingDone(next);
    }
  }
}

}  // namespace
}  // namespace tlq
