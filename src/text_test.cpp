#include "text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <limits>
#include <random>

#ifdef TLQ_HAVE_MPFR
#include <mpfr.h>
#endif

#include "sensors/tilt.h"
#include "test_support.h"

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

// The quick path against the standard library's correctly rounded parse, on
// decimals of every length and point position it takes (and some it does
// not), with leading and trailing zeros.
TEST(ParseDecimal, ShortDecimalsAsFromChars) {
  std::mt19937_64 rng(11);
  int taken = 0;
  for (int i = 0; i < 2000000; ++i) {
    uint64_t r = rng();
    std::string text(r % 4, '0');  // leading zeros
    for (int n = 1 + static_cast<int>(r >> 2 & 15); n > 0; --n) text += static_cast<char>('0' + rng() % 10);
    text.append(r >> 6 & 3, '0');  // trailing zeros
    if (r >> 8 & 7) text.insert(text.begin() + static_cast<std::ptrdiff_t>((r >> 12) % (text.size() + 1)), '.');
    double quick = -1, exact = -2;
    bool isShort = parseShortDecimal(text, quick);
    auto res = std::from_chars(text.data(), text.data() + text.size(), exact);
    if (!isShort) continue;
    ++taken;
    ASSERT_EQ(res.ptr, text.data() + text.size()) << text;
    ASSERT_EQ(std::bit_cast<uint64_t>(quick), std::bit_cast<uint64_t>(exact)) << text;
  }
  EXPECT_GT(taken, 1000000);
  double untouched = 3;
  for (const char* other : {"", ".", "1..2", "1e5", "-1", "+1", "1234567890123456", "0.00000000000000000000001"})
    EXPECT_FALSE(parseShortDecimal(other, untouched)) << other;
  EXPECT_EQ(untouched, 3);
  // Leading zeros, also after the point, are no significant digits.
  for (const char* taken : {"0000000000000000000001.5", "0.000000000000000000001", "000", "7.", ".5", "0.10"}) {
    double quick = -1, exact = -2;
    EXPECT_TRUE(parseShortDecimal(taken, quick)) << taken;
    std::from_chars(taken, taken + std::strlen(taken), exact);
    EXPECT_EQ(quick, exact) << taken;
  }
}

TEST(ParseDecimal, SignedAndUnsigned) {
  EXPECT_EQ(parseDecimal("+01.234"), 1.234);
  EXPECT_EQ(parseDecimal("-00.567"), -0.567);
  EXPECT_EQ(parseDecimal("150"), 150.0);
  EXPECT_EQ(parseDecimal(std::string(400, '9')), std::numeric_limits<double>::infinity());
}

// ---- The same digits on every platform -------------------------------------
//
// Number text, rounding and parsing use the standard library's charconv
// (linked into the program, independent of the C library), std::round and
// IEEE arithmetic. The tests below pin digests of their results on a million
// values drawn with integer arithmetic alone, so every platform checks the
// same values; where glibc or MPFR is at hand each result is also compared
// with an exact reference (glibc's printf and strtod are exact).

// Values of every kind the output holds, and the ties of both roundings.
double drawValue(testing::SplitMix64& rng, int i) {
  uint64_t r = rng.next();
  int64_t sign = r & 1 ? -1 : 1;
  switch (i % 8) {
    case 0: {  // any finite double
      uint64_t bits = r;
      if ((bits >> 52 & 0x7FF) == 0x7FF) bits ^= 1ull << 62;
      double v;
      std::memcpy(&v, &bits, sizeof v);
      return v;
    }
    case 1: return sign * static_cast<double>(r >> 1 & 0x3FFFFFFF) / 1000.0;  // rounded values
    case 2: {  // dq7 angles
      int64_t a = (r >> 8 & 0xFFF) - (r >> 20 & 0xFFF);
      return static_cast<double>(a * static_cast<int64_t>(r >> 32 & 0xFFFF)) / 10000.0 / 1000.0;
    }
    case 3: return tiltDegrees(static_cast<int16_t>(r >> 16));
    case 4: return sign * static_cast<double>(r >> 1 & 0xFFFFF) / 100.0 * 1000.0 / 9.8084;  // forces
    case 5: {  // "%.16g" ties: 17 significant digits, the last a 5
      if (r & 2) return sign * (static_cast<double>(1000000000000000 + (r >> 2) % 8000000000000000) + 0.5);
      unsigned j = 2 + (r >> 2) % 15;  // binary places, each adding one decimal
      uint64_t low = 1;
      for (unsigned k = 0; k < 16 - j; ++k) low *= 10;  // the whole part has 17 - j digits
      uint64_t whole = low + (r >> 8) % (9 * low), odd = (r >> 40) % (uint64_t{1} << (j - 1)) * 2 + 1;
      return sign * std::ldexp(static_cast<double>(whole << j | odd), -static_cast<int>(j));
    }
    case 6: return sign * static_cast<double>((r >> 1 & 0xFFFFFF) | 1) / 16.0;  // "%.3f" ties
    default: {  // near the ties, and plain fractions
      double v = sign * static_cast<double>(r >> 11) * 0x1p-53 * 1000.0;
      return r & 2 ? std::nextafter((std::round(v * 1000.0) + 0.5) / 1000.0, sign * 1e9) : v;
    }
  }
}

constexpr int kValues = 1000000;

TEST(SameOnEveryPlatform, FloatText) {
  testing::SplitMix64 rng(1);
  testing::Digest digest;
  for (int i = 0; i < kValues; ++i) {
    double v = drawValue(rng, i);
    std::string text = floatText(v);
#ifdef __GLIBC__
    std::string expected = printf16g(v);
    if (expected.find_first_not_of("-0123456789") == std::string::npos) expected += ".0";
    ASSERT_EQ(text, expected) << std::hexfloat << v;
#endif
    digest.add(text);
  }
  EXPECT_EQ(digest.value(), 0xb7d811cb7afe35b9u) << std::hex << digest.value();
}

TEST(SameOnEveryPlatform, RoundTo3) {
  testing::SplitMix64 rng(2);
  testing::Digest digest;
  for (int i = 0; i < kValues; ++i) {
    double v = drawValue(rng, i);
    double rounded = roundTo3(v);
#ifdef __GLIBC__
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    double expected = std::strtod(buf, nullptr);
    ASSERT_EQ(std::signbit(rounded), std::signbit(expected)) << std::hexfloat << v;
    ASSERT_EQ(rounded, expected) << std::hexfloat << v;
#endif
    digest.add(rounded);
  }
  EXPECT_EQ(digest.value(), 0xa21ca5277252fb89u) << std::hex << digest.value();
}

// Decimal texts as instruments and recordings hold them, long ones, and the
// exact midpoints between two doubles (ties) with their near neighbours.
std::string drawDecimal(testing::SplitMix64& rng, int i, bool withExponent) {
  std::string s = i % 3 == 0 ? "-" : i % 3 == 1 ? "+" : "";
  if (withExponent && s == "+") s.clear();  // JSON has no plus sign
  auto digits = [&](size_t n) {
    std::string d;
    for (size_t k = 0; k < n; ++k) d += static_cast<char>('0' + rng.below(10));
    return d;
  };
  if (i % 4 == 0) {
    // (2m + 1) * 2^-(j+1) with an integer part in [2^(52-j), 2^(53-j)):
    // exactly halfway between two neighbouring doubles.
    unsigned j = static_cast<unsigned>(rng.below(18));
    uint64_t whole = (1ull << (52 - j)) + rng.below(1ull << (52 - j));
    uint64_t odd = 2 * rng.below(1ull << j) + 1, scale = 1;
    for (unsigned k = 0; k <= j; ++k) scale *= 5;
    std::string fraction = std::to_string(odd * scale);
    s += std::to_string(whole) + "." + std::string(j + 1 - fraction.size(), '0') + fraction;
    if (rng.below(3) == 0) s += "000000000000000000001";
    if (rng.below(3) == 0) s.back() = static_cast<char>(s.back() - 1);
  } else {
    s += digits(1 + rng.below(i % 4 == 1 ? 40 : 20));
    if (rng.below(4)) s += "." + digits(1 + rng.below(i % 4 == 1 ? 40 : 20));
  }
  if (withExponent && rng.below(2)) s += "e" + std::to_string(static_cast<int>(rng.below(601)) - 300);
  return s;
}

#ifdef TLQ_HAVE_MPFR
double mpfrParse(const std::string& text) {
  mpfr_t v;
  mpfr_init2(v, 53);
  mpfr_strtofr(v, text.c_str(), nullptr, 10, MPFR_RNDN);
  double result = mpfr_get_d(v, MPFR_RNDN);
  mpfr_clear(v);
  return result;
}
#endif

TEST(SameOnEveryPlatform, ParseDecimal) {
  testing::SplitMix64 rng(3);
  testing::Digest digest;
  for (int i = 0; i < kValues; ++i) {
    std::string text = drawDecimal(rng, i, false);
    double v = parseDecimal(text);
#ifdef TLQ_HAVE_MPFR
    ASSERT_EQ(v, mpfrParse(text)) << text;
#endif
    digest.add(v);
  }
  EXPECT_EQ(digest.value(), 0x2112817108c0e188u) << std::hex << digest.value();
}

// The recording reader takes every non-integer JSON number through
// std::from_chars; the values that overflow or underflow a double are out of
// its range and keep the JSON parser's own value, so they are left out here.
TEST(SameOnEveryPlatform, JsonNumbers) {
  testing::SplitMix64 rng(4);
  testing::Digest digest;
  for (int i = 0; i < kValues; ++i) {
    std::string text = drawDecimal(rng, i, true);
    double v = 0;
    if (std::from_chars(text.data(), text.data() + text.size(), v).ec != std::errc()) continue;
#ifdef TLQ_HAVE_MPFR
    ASSERT_EQ(v, mpfrParse(text)) << text;
#endif
    digest.add(text);
    digest.add(v);
  }
  EXPECT_EQ(digest.value(), 0x1d51344bc4df4ac3u) << std::hex << digest.value();
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

namespace tlq {
namespace {

// Against a plain search: every start and length over texts that mix the
// bytes looked for with bytes just beside them and bytes with the high bit
// set, where a word-at-a-time search goes wrong if it is wrong at all.
TEST(FindAnyOf, FindsTheFirstOfTheBytes) {
  const char alphabet[] = {'a',    '"',  '#',    '!',    ';',    ':',    '\\', ']',
                           '\r',   '\n', '\x0c', '\0',   '\x7f', '\x80', '\xa2', '\xff'};
  std::mt19937 random(20261208);
  for (int round = 0; round < 2000; ++round) {
    std::string text(40, 'a');
    for (char& c : text) c = alphabet[random() % sizeof alphabet];
    for (size_t from = 0; from <= 8; ++from) {
      for (size_t to = from; to <= text.size(); ++to) {
        const char* p = text.data() + from;
        const char* end = text.data() + to;
        const char* two = p;
        while (two != end && *two != '"' && *two != '\\') ++two;
        ASSERT_EQ(findAnyOf(p, end, '"', '\\'), two) << text << " " << from << " " << to;
        const char* four = p;
        while (four != end && *four != ';' && *four != '\x80' && *four != '\r' && *four != '\n') ++four;
        ASSERT_EQ(findAnyOf(p, end, ';', '\x80', '\r', '\n'), four) << text << " " << from << " " << to;
      }
    }
  }
}

}  // namespace
}  // namespace tlq
