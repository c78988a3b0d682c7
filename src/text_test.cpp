#include "text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

namespace tlq {
namespace {

std::string printf16g(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.16g", v);
  return buf;
}

std::string floatText(double v) {
  std::string s;
  appendFloat(s, v);
  return s;
}

TEST(FloatText, MatchesPrintfForRandomDoubles) {
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> exponent(-320, 308);
  for (int i = 0; i < 20000; ++i) {
    double v = std::ldexp(unit(rng), exponent(rng) * 3 / 3);
    if (i % 3 == 0) v = std::round(unit(rng) * 1e6) / 1000.0;  // angles and counts
    std::string expected = printf16g(v);
    if (expected.find_first_not_of("-0123456789") == std::string::npos) expected += ".0";
    ASSERT_EQ(floatText(v), expected) << "for " << expected;
  }
}

TEST(FloatText, AppendsPointZeroOnlyToIntegers) {
  EXPECT_EQ(floatText(3.0), "3.0");
  EXPECT_EQ(floatText(-90.0), "-90.0");
  EXPECT_EQ(floatText(0.0), "0.0");
  EXPECT_EQ(floatText(-0.0), "-0.0");
  EXPECT_EQ(floatText(1e-05), "1e-05");
  EXPECT_EQ(floatText(1.5e20), "1.5e+20");
  EXPECT_EQ(floatText(1e16), "1e+16");
  EXPECT_EQ(floatText(1234567890123456.0), "1234567890123456.0");
  EXPECT_EQ(floatText(30.000000000000004), "30.0");
  EXPECT_EQ(floatText(-0.567), "-0.5669999999999999");
}

TEST(FloatText, SpecialValues) {
  EXPECT_EQ(floatText(std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(floatText(-std::numeric_limits<double>::quiet_NaN()), "nan");
  EXPECT_EQ(floatText(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(floatText(-std::numeric_limits<double>::infinity()), "-inf");
}

TEST(RoundTo3, RoundsTheExactBinaryValue) {
  EXPECT_EQ(roundTo3(1.23456), 1.235);
  EXPECT_EQ(roundTo3(-12.3456), -12.346);
  EXPECT_EQ(roundTo3(1.0005), 1.0);     // 1.000499999999999989...
  EXPECT_EQ(roundTo3(0.0005), 0.001);   // 0.000500000000000000010...
  EXPECT_EQ(roundTo3(2.5e-4), 0.0);     // 0.000250000000000000005... rounds down at 3 places
  EXPECT_EQ(roundTo3(-0.0004), -0.0);
  EXPECT_TRUE(std::signbit(roundTo3(-0.0004)));
  EXPECT_EQ(roundTo3(1e300), 1e300);
  EXPECT_TRUE(std::isnan(roundTo3(std::nan(""))));
  EXPECT_EQ(roundTo3(-std::numeric_limits<double>::infinity()), -std::numeric_limits<double>::infinity());
}

TEST(RoundTo3, AgreesWithPrintfAndStrtod) {
  std::mt19937_64 rng(11);
  std::uniform_real_distribution<double> angle(-100.0, 100.0);
  std::uniform_int_distribution<int> thousandths(-100000, 100000);
  auto reference = [](double v) {
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    return std::strtod(buf, nullptr);
  };
  for (int i = 0; i < 100000; ++i) {
    double v = angle(rng);
    if (i % 4 == 1) v = (thousandths(rng) + 0.5) / 1000.0;  // ties and near-ties
    if (i % 4 == 2) v = std::nextafter((thousandths(rng) + 0.5) / 1000.0, i % 8 < 4 ? 1e9 : -1e9);
    if (i % 4 == 3) v = std::ldexp(angle(rng), static_cast<int>(rng() % 80) - 40);
    double expected = reference(v);
    double got = roundTo3(v);
    ASSERT_EQ(std::signbit(got), std::signbit(expected)) << v;
    ASSERT_EQ(got, expected) << std::hexfloat << v;
  }
}

TEST(ParseDecimal, SignedAndUnsigned) {
  EXPECT_EQ(parseDecimal("+01.234"), 1.234);
  EXPECT_EQ(parseDecimal("-00.567"), -0.567);
  EXPECT_EQ(parseDecimal("150"), 150.0);
  EXPECT_EQ(parseDecimal(std::string(400, '9')), std::numeric_limits<double>::infinity());
}

TEST(CsvPath, ReplacesOrAddsTheExtension) {
  EXPECT_EQ(csvPathFor("C:\\rec\\test 1.tlq"), "C:\\rec\\test 1.csv");
  EXPECT_EQ(csvPathFor("C:\\rec\\run.2\\test"), "C:\\rec\\run.2\\test.csv");
  EXPECT_EQ(csvPathFor("/data/run.2/test"), "/data/run.2/test.csv");
  EXPECT_EQ(csvPathFor("a.b.tlq"), "a.b.csv");
  EXPECT_EQ(csvPathFor(""), ".csv");
  EXPECT_EQ(csvPathFor(".tlq"), ".tlq.csv");  // the first character is never examined
  EXPECT_EQ(csvPathFor("x."), "x.csv");
  EXPECT_EQ(csvPathFor("dir/.hidden"), "dir/.csv");
}

}  // namespace
}  // namespace tlq
