#include "sensors/tilt.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdio>
#include <limits>

#ifdef TLQ_HAVE_MPFR
#include <mpfr.h>
#endif

#include "test_support.h"

namespace tlq {
namespace {

// Digests of the bit patterns of all 65,536 results, for acc = -32768 to
// 32767 in that order. Taken on Linux, where the test below proves every
// arcsine correctly rounded; a platform that gives other bits fails here.
constexpr uint64_t kArcsineDigest = 0x7c36cfd2e500b3b6;
constexpr uint64_t kDegreesDigest = 0x338ffad7b27bbd27;

double argumentOf(int acc) { return acc * 0.000030517578125; }

uint64_t bitsOf(double v) { return std::bit_cast<uint64_t>(v); }

TEST(Tilt, DocumentedValues) {
  EXPECT_EQ(tiltDegrees(-32768), -90.0);
  EXPECT_EQ(tiltDegrees(16384), 30.000000000000004);
  EXPECT_EQ(bitsOf(tiltDegrees(0)), bitsOf(0.0));
  EXPECT_NEAR(tiltDegrees(32767), 89.5524, 1e-4);
  EXPECT_EQ(asinCorrectlyRounded(1.0), 1.5707963267948966);
  EXPECT_EQ(asinCorrectlyRounded(-1.0), -1.5707963267948966);
  EXPECT_EQ(bitsOf(asinCorrectlyRounded(-0.0)), bitsOf(-0.0));
  EXPECT_TRUE(std::isnan(asinCorrectlyRounded(1.0000000000000002)));
  EXPECT_TRUE(std::isnan(asinCorrectlyRounded(-2.0)));
  EXPECT_TRUE(std::isnan(asinCorrectlyRounded(std::numeric_limits<double>::quiet_NaN())));
}

TEST(Tilt, OddAndRising) {
  for (int acc = 1; acc <= 32767; ++acc) {
    double d = tiltDegrees(static_cast<int16_t>(acc));
    ASSERT_EQ(tiltDegrees(static_cast<int16_t>(-acc)), -d) << acc;
    ASSERT_GT(d, tiltDegrees(static_cast<int16_t>(acc - 1))) << acc;
  }
}

// The same bits on every platform: the Windows suite runs this too.
TEST(Tilt, EveryAccelerationGivesThePinnedBits) {
  testing::Digest arcsines, degrees;
  int libraryDiffers = 0;
  for (int acc = -32768; acc <= 32767; ++acc) {
    double x = argumentOf(acc);
    double y = asinCorrectlyRounded(x);
    arcsines.add(y);
    degrees.add(tiltDegrees(static_cast<int16_t>(acc)));
    // The cached degrees are the formula on the correctly rounded arcsine.
    ASSERT_EQ(bitsOf(tiltDegrees(static_cast<int16_t>(acc))), bitsOf(y / 3.141592653589793 * 180.0)) << acc;
    libraryDiffers += bitsOf(std::asin(x)) != bitsOf(y);
  }
  std::printf("this platform's asin differs from the correctly rounded arcsine for %d of 65536 inputs\n",
              libraryDiffers);
  EXPECT_EQ(arcsines.value(), kArcsineDigest) << std::hex << arcsines.value();
  EXPECT_EQ(degrees.value(), kDegreesDigest) << std::hex << degrees.value();
}

#ifdef TLQ_HAVE_MPFR

// MPFR rounds correctly to the precision of its target: 53 bits, so the
// reference is the double nearest to the true arcsine.
double mpfrArcsine(double x) {
  mpfr_t in, out;
  mpfr_inits2(53, in, out, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(in, x, MPFR_RNDN);
  mpfr_asin(out, in, MPFR_RNDN);
  double result = mpfr_get_d(out, MPFR_RNDN);
  mpfr_clears(in, out, static_cast<mpfr_ptr>(nullptr));
  return result;
}

TEST(Tilt, ArcsineIsCorrectlyRoundedForEveryAcceleration) {
  for (int acc = -32768; acc <= 32767; ++acc) {
    double x = argumentOf(acc);
    ASSERT_EQ(bitsOf(asinCorrectlyRounded(x)), bitsOf(mpfrArcsine(x))) << "acc " << acc;
  }
}

TEST(Tilt, ArcsineIsCorrectlyRoundedForOtherArguments) {
  testing::SplitMix64 rng(2026);
  for (int i = 0; i < 200000; ++i) {
    // 53 random bits, scaled down by up to 2^-40 now and then.
    double x = static_cast<double>(rng.next() >> 11) * 0x1p-53;
    if (i % 4 == 0) x = std::ldexp(x, -static_cast<int>(rng.below(41)));
    if (i % 2) x = -x;
    ASSERT_EQ(bitsOf(asinCorrectlyRounded(x)), bitsOf(mpfrArcsine(x))) << std::hexfloat << x;
  }
}

#endif

}  // namespace
}  // namespace tlq
