#include "text.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tlq {

namespace {

#ifdef __SIZEOF_INT128__
using uint128 = unsigned __int128;

// 10^0 to 10^19, all that fit in 64 bits.
constexpr uint64_t kPow10[20] = {1u,
                                 10u,
                                 100u,
                                 1000u,
                                 10000u,
                                 100000u,
                                 1000000u,
                                 10000000u,
                                 100000000u,
                                 1000000000u,
                                 10000000000u,
                                 100000000000u,
                                 1000000000000u,
                                 10000000000000u,
                                 100000000000000u,
                                 1000000000000000u,
                                 10000000000000000u,
                                 100000000000000000u,
                                 1000000000000000000u,
                                 10000000000000000000u};

// The sixteen decimal digits of n < 10^16, in four independent groups of
// four, two digits at a time.
void writeDigits16(char* out, uint64_t n) {
  static constexpr char kPairs[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  auto high = static_cast<uint32_t>(n / 100000000), low = static_cast<uint32_t>(n % 100000000);
  uint32_t groups[4] = {high / 10000, high % 10000, low / 10000, low % 10000};
  for (int g = 0; g < 4; ++g) {
    std::copy_n(kPairs + 2 * (groups[g] / 100), 2, out + 4 * g);
    std::copy_n(kPairs + 2 * (groups[g] % 100), 2, out + 4 * g + 2);
  }
}

// "%.16g" of a value with 1e-5 <= |value| < 1e15 (the numbers a recording
// holds), in exact integer arithmetic; 0 for other values. The value is
// m * 2^q exactly, so its 16 significant digits are m * 10^p / 2^-q rounded
// to nearest, ties to even, as printf rounds; m * 10^p stays below 2^124.
size_t format16g(char* buf, double value) {
  uint64_t bits = std::bit_cast<uint64_t>(value);
  int biased = static_cast<int>(bits >> 52 & 0x7FF);
  double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-5 && magnitude < 1e15)) return 0;
  if (double whole = static_cast<double>(static_cast<int64_t>(value)); whole == value) {
    // An integer below 1e15 has at most 15 digits: printed as they are.
    auto n = static_cast<int64_t>(value);
    return static_cast<size_t>(std::to_chars(buf, buf + 24, n).ptr - buf);
  }
  uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
  int shift = 1075 - biased;  // value = m / 2^shift, shift from 3 to 69
  // The decimal exponent: estimated from the binary one, then corrected.
  int e10 = ((52 - shift) * 78913 >> 18);  // floor(log10(2) * (52 - shift)), near enough
  uint128 digits = 0;
  for (;;) {
    int p = 15 - e10;  // 0 to 21
    uint128 scaled = p <= 19 ? uint128{m} * kPow10[p] : uint128{m} * kPow10[19] * kPow10[p - 19];
    digits = scaled >> shift;
    if (digits < kPow10[15]) {
      --e10;
      continue;
    }
    if (digits >= kPow10[16]) {
      ++e10;
      continue;
    }
    uint128 rest = scaled & ((uint128{1} << shift) - 1), half = uint128{1} << (shift - 1);
    if (rest > half || (rest == half && (digits & 1))) ++digits;
    if (digits == kPow10[16]) {
      digits = kPow10[15];
      ++e10;
    }
    break;
  }
  char d[16];
  writeDigits16(d, static_cast<uint64_t>(digits));
  int last = 15;  // the last significant digit
  while (last > 0 && d[last] == '0') --last;

  char* out = buf;
  if (value < 0) *out++ = '-';
  if (e10 < -4) {  // d.ddde-05
    *out++ = d[0];
    if (last > 0) {
      *out++ = '.';
      out = std::copy(d + 1, d + last + 1, out);
    }
    out = std::copy_n("e-05", 4, out);
  } else if (e10 < 0) {  // 0.000ddd
    *out++ = '0';
    *out++ = '.';
    out = std::fill_n(out, -e10 - 1, '0');
    out = std::copy(d, d + last + 1, out);
  } else {  // ddd.ddd
    out = std::copy(d, d + e10 + 1, out);
    if (last > e10) {
      *out++ = '.';
      out = std::copy(d + e10 + 1, d + last + 1, out);
    }
  }
  return static_cast<size_t>(out - buf);
}
#else
size_t format16g(char*, double) { return 0; }
#endif

}  // namespace

size_t formatFloat(char (&buf)[32], double value) { return formatFloatInto(buf, value); }

size_t formatFloatInto(char* buf, double value) {
  if (std::isnan(value)) {
    std::copy_n("nan", 3, buf);
    return 3;
  }
  size_t size = format16g(buf, value);
  // Elsewhere the general format with 16 significant digits is "%.16g".
  if (size == 0) size = static_cast<size_t>(std::to_chars(buf, buf + 29, value, std::chars_format::general, 16).ptr - buf);
  bool integral = std::all_of(buf, buf + size, [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!integral) return size;
  std::copy_n(".0", 2, buf + size);
  return size + 2;
}

void appendFloat(std::string& out, double value) {
  char buf[32];
  out.append(buf, formatFloat(buf, value));
}

double roundTo3(double value) {
  if (!std::isfinite(value)) return value;
  // Fast path, exact: below 1e6 the product is within 1e-7 of value * 1000,
  // so away from a tie it rounds to the same integer k, and k / 1000 is the
  // double nearest to the decimal text "%.3f" gives.
  if (std::fabs(value) < 1e6) {
    double scaled = value * 1000.0;
    double whole = std::round(scaled);
    if (std::fabs(std::fabs(scaled - whole) - 0.5) > 1e-6) return whole / 1000.0;
  }
  char buf[400];  // fixed notation of the largest double needs 309 digits
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
  double rounded = value;
  std::from_chars(buf, res.ptr, rounded);
  return rounded;
}

double parseDecimal(std::string_view text) {
  const char* first = text.data();
  const char* last = first + text.size();
  bool negative = false;
  if (first != last && (*first == '+' || *first == '-')) {
    negative = *first == '-';
    ++first;
  }
  double value = std::numeric_limits<double>::quiet_NaN();
  auto res = std::from_chars(first, last, value);
  // Plain decimals cannot underflow, so out of range means too large;
  // from_chars leaves the value alone where an ordinary parser saturates.
  if (res.ec == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
  return negative ? -value : value;
}

std::string csvPathFor(std::string_view path) {
  for (size_t i = path.size(); i-- > 1;) {
    char c = path[i];
    if (c == '.') return std::string(path.substr(0, i + 1)) + "csv";
    if (c == '/' || c == '\\') break;
  }
  return std::string(path) + ".csv";
}

}  // namespace tlq
