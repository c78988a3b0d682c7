#include "sensors/force_elasto.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace tlq {
namespace {

constexpr double kg(double newtons) { return newtons * 1000.0 / 9.8084; }

TEST(ParseForce, FramedDecimalsAreConvertedToKilograms) {
  EXPECT_EQ(parseForce("\x02-  1.23N\x03"), -kg(1.23));              // form 1
  EXPECT_NEAR(parseForce("\x02-  1.23N\x03"), -125.403, 1e-3);
  EXPECT_EQ(parseForce("+ 1.23N\x03\x02"), kg(1.23));                 // form 2
  EXPECT_EQ(parseForce("  1.23M\x03\x02"), kg(1.23));                 // blank sign, unit M
  EXPECT_EQ(parseForce("\x02-\t12.00N\x03trailing"), -kg(12.0));
}

TEST(ParseForce, WholeNumbersAreTakenUnconverted) {
  EXPECT_EQ(parseForce("- 150M\x03\x02"), -150.0);      // form 3 decides
  EXPECT_EQ(parseForce("\x02 150N\x03"), 150.0);        // form 3, STX as the sign
  EXPECT_EQ(parseForce("\x02- 150N\x03"), -150.0);      // form 4
  EXPECT_EQ(parseForce("+ 7N?"), 7.0);
}

TEST(ParseForce, UnknownLinesGiveNaN) {
  for (const char* line : {"", "- 1.5N\x03", "-150N\x03\x02", "- 150N", "\x02- 150\x03", "ERR", "- 1.234N\x03\x02"})
    EXPECT_TRUE(std::isnan(parseForce(line))) << line;
}

// Hundreds of digits pass a double's range, at once or once converted from
// newtons: an infinity, as an ordinary float parser gives.
TEST(ParseForce, ValuesPastADoublesRangeAreInfinite) {
  std::string digits(400, '9');
  EXPECT_EQ(parseForce("- " + digits + "M\x03\x02"), -std::numeric_limits<double>::infinity());
  EXPECT_EQ(parseForce("\x02+ 1" + std::string(306, '0') + ".00N\x03"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(parseElasto("A=" + digits + " 1 B=7").first, std::numeric_limits<double>::infinity());
}

TEST(ParseForce, OnlyAMinusSignNegates) {
  EXPECT_GT(parseForce("x 150N.."), 0.0);
  EXPECT_LT(parseForce("- 150N.."), 0.0);
}

TEST(ParseElasto, BothPartsAreIndependent) {
  EXPECT_EQ(parseElasto("A=123 x B=456"), std::make_pair(123.0, 456.0));
  auto [a, b] = parseElasto("A=123 and nothing more");
  EXPECT_EQ(a, 123.0);
  EXPECT_TRUE(std::isnan(b));
  auto [a2, b2] = parseElasto("junk B=456");
  EXPECT_TRUE(std::isnan(a2));
  EXPECT_EQ(b2, 456.0);
}

TEST(ParseElasto, LineEndings) {
  EXPECT_EQ(parseElasto("A=123 x B=456\n"), std::make_pair(123.0, 456.0));
  // "." takes the CR and "$" the final LF for A; B's digits must end the line.
  auto [a, b] = parseElasto("A=123 x B=456\r\n");
  EXPECT_EQ(a, 123.0);
  EXPECT_TRUE(std::isnan(b));
  auto [a2, b2] = parseElasto("A=12");
  EXPECT_TRUE(std::isnan(a2));
  EXPECT_TRUE(std::isnan(b2));
}

}  // namespace
}  // namespace tlq
