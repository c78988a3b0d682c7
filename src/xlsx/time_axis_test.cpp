#include "xlsx/time_axis.h"

#include <gtest/gtest.h>

#include <cmath>

namespace tlq {
namespace {

constexpr double kDay = 46000;  // 2025-12-09
constexpr double kSecond = 1.0 / 86400;

double seconds(double days) { return std::round(days / kSecond * 1000) / 1000; }

// The ticks are round, the data inside them with at most a step to spare
// on each side, and about 6 to 10 of them.
void expectRound(double first, double last, double step, const char* format) {
  SCOPED_TRACE(std::to_string(seconds(last - first)) + " s");
  TimeAxis axis = timeAxisFor(first, last);
  EXPECT_DOUBLE_EQ(seconds(axis.majorUnit), step);
  EXPECT_EQ(axis.format, format);
  EXPECT_LE(axis.min, first + 1e-9);
  EXPECT_GE(axis.max, last - 1e-9);
  EXPECT_LT(first - axis.min, axis.majorUnit);
  EXPECT_LT(axis.max - last, axis.majorUnit);
  double ticks = std::round((axis.max - axis.min) / axis.majorUnit);
  EXPECT_LE(ticks, 11);
  double atStep = seconds(axis.min - std::floor(axis.min)) / step;
  EXPECT_NEAR(atStep, std::round(atStep), 1e-6);  // on a whole step of the day
}

TEST(TimeAxis, RoundStepsFromSecondsToWeeks) {
  expectRound(kDay + 0.5, kDay + 0.5 + 8 * kSecond, 1, "hh:mm:ss");
  expectRound(kDay + 0.5, kDay + 0.5 + 90 * kSecond, 10, "hh:mm:ss");
  expectRound(kDay + 0.5, kDay + 0.5 + 40 * 60 * kSecond, 300, "hh:mm");
  expectRound(kDay + 0.5, kDay + 0.5 + 2.5 * 3600 * kSecond, 900, "hh:mm");
  // Half past midnight to the end of the day: no sixth of it empty, hours.
  expectRound(kDay + 0.5 / 24, kDay + 23.9 / 24, 10800, "hh:mm");
  expectRound(kDay + 0.75, kDay + 1.25, 7200, "yyyy-mm-dd hh:mm");  // over midnight: the date in the labels
  expectRound(kDay + 0.3, kDay + 6.8, 86400, "yyyy-mm-dd");
  expectRound(kDay, kDay + 60, 604800, "yyyy-mm-dd");
}

TEST(TimeAxis, OneTimeGetsOneStep) {
  TimeAxis axis = timeAxisFor(kDay + 0.25, kDay + 0.25);
  EXPECT_GT(axis.max, axis.min);
  EXPECT_LE(axis.min, kDay + 0.25);
  EXPECT_GE(axis.max, kDay + 0.25);
}

}  // namespace
}  // namespace tlq
