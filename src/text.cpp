#include "text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
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

// The eight decimal digits of v < 10^8 as bytes 0 to 9, the first digit in
// the lowest byte: v is split into halves of four digits, each half into
// pairs and each pair into digits, every lane at once, dividing by
// multiplying with a rounded-up reciprocal (exact for these ranges).
uint64_t decimalBytes8(uint32_t v) {
  uint64_t x = v;
  uint64_t high = (x * 109951163) >> 40;  // x / 10^4
  uint64_t lanes = high | (x - high * 10000) << 32;
  uint64_t hundreds = ((lanes * 10486) >> 20) & 0x0000007F0000007F;  // each lane / 100
  lanes = hundreds | (lanes - hundreds * 100) << 16;
  uint64_t tens = ((lanes * 103) >> 10) & 0x000F000F000F000F;  // each lane / 10
  return tens | (lanes - tens * 10) << 8;
}

// The sixteen decimal digits of 10^15 <= n < 10^16 as text in one number,
// the first digit in its lowest byte (as it lies in memory on a
// little-endian machine), and in `count` how many are left without the
// trailing zeros. Kept in registers: text stored and read back at another
// offset would wait for the store.
uint128 digitText16(uint64_t n, int& count) {
  uint64_t high = decimalBytes8(static_cast<uint32_t>(n / 100000000));
  uint64_t low = decimalBytes8(static_cast<uint32_t>(n % 100000000));
  count = low ? 16 - std::countl_zero(low) / 8 : 8 - std::countl_zero(high) / 8;
  constexpr uint64_t zeros = 0x3030303030303030;
  return uint128{low | zeros} << 64 | (high | zeros);
}

// Where the values of one binade (one power of two) fall among the powers of
// ten: value = m / 2^shift with m from 2^52 to 2^53, and its decimal
// exponent floor(log10(value)) is `exponent`, or one more from
// m >= `nextFrom` on.
struct Binade {
  int exponent;
  uint64_t nextFrom;
};

// For shift 0 to 69, all that "%.16g" below needs; exact integer arithmetic
// at compile time.
constexpr std::array<Binade, 70> kBinades = [] {
  std::array<Binade, 70> table{};
  for (int shift = 0; shift < 70; ++shift) {
    // The largest e with 10^e <= 2^52 / 2^shift, the binade's least value.
    int e = 15;
    auto atMost = [shift](int e10) {  // 10^e10 <= 2^(52 - shift)
      uint128 ten = 1;
      for (int i = 0; i < (e10 < 0 ? -e10 : e10); ++i) ten *= 10;
      return e10 >= 0 ? (ten << shift) <= (uint128{1} << 52) : (uint128{1} << shift) <= (ten << 52);
    };
    while (!atMost(e)) --e;
    // The least m with m / 2^shift >= 10^(e + 1).
    uint128 next;
    if (e + 1 >= 0) {
      next = uint128{kPow10[e + 1]} << shift;
    } else {
      uint64_t ten = kPow10[-(e + 1)];
      next = ((uint128{1} << shift) + ten - 1) / ten;
    }
    table[shift] = {e, next >= (uint128{1} << 53) ? ~uint64_t{0} : static_cast<uint64_t>(next)};
  }
  return table;
}();

// "%.16g" of a value with 1e-5 <= |value| < 1e15 (the numbers a recording
// holds), then ".0" where that reads as an integer, in exact integer
// arithmetic; 0 for other values. The value is m * 2^-shift exactly, so its
// 16 significant digits are m * 10^p / 2^shift rounded to nearest, ties to
// even, as printf rounds; m * 10^p stays below 2^124.
size_t format16g(char* buf, double value) {
  if constexpr (std::endian::native != std::endian::little) return 0;  // the digits' text assumes it
  double magnitude = std::fabs(value);
  if (!(magnitude >= 1e-5 && magnitude < 1e15)) return 0;
  char* out = buf;
  if (value < 0) *out++ = '-';
  if (double whole = static_cast<double>(static_cast<int64_t>(value)); whole == value) {
    // An integer below 1e15 has at most 15 digits: printed as they are.
    out = std::to_chars(out, buf + 24, static_cast<int64_t>(magnitude)).ptr;
    out = std::copy_n(".0", 2, out);
    return static_cast<size_t>(out - buf);
  }
  uint64_t bits = std::bit_cast<uint64_t>(value);
  uint64_t m = (bits & ((uint64_t{1} << 52) - 1)) | uint64_t{1} << 52;
  int shift = 1075 - static_cast<int>(bits >> 52 & 0x7FF);  // 3 to 69 in this range
  const Binade& binade = kBinades[static_cast<size_t>(shift)];
  int e10 = binade.exponent + (m >= binade.nextFrom);
  int p = 15 - e10;  // 1 to 20
  uint128 scaled = p <= 19 ? uint128{m} * kPow10[p] : uint128{m} * kPow10[19] * 10;
  uint64_t digits = static_cast<uint64_t>(scaled >> shift);
  uint128 rest = scaled & ((uint128{1} << shift) - 1), half = uint128{1} << (shift - 1);
  if (rest > half || (rest == half && (digits & 1))) ++digits;
  if (digits == kPow10[16]) {
    digits = kPow10[15];
    ++e10;
  }
  int count = 0;
  uint128 d = digitText16(digits, count);
  auto put16 = [](char* to, uint128 text) { std::memcpy(to, &text, 16); };  // the room allows it

  if (e10 < -4) {  // d.ddde-05
    out[0] = static_cast<char>(d);
    out[1] = '.';
    put16(out + 2, d >> 8);
    out += count > 1 ? count + 1 : 1;
    std::memcpy(out, "e-05", 4);
    out += 4;
  } else if (e10 < 0) {  // 0.000ddd
    std::memcpy(out, "0.000000", 8);
    out += 1 - e10;
    put16(out, d);
    out += count;
  } else {  // ddd.ddd, or ddd.0 where rounding left no fraction
    int whole = e10 + 1;  // digits before the point, 1 to 15
    uint128 before = d & ((uint128{1} << (8 * whole)) - 1), after = d >> (8 * whole);
    put16(out, before | uint128{'.'} << (8 * whole) | (whole < 15 ? after << (8 * whole + 8) : 0));
    out[16] = static_cast<char>(d >> 120);  // the last digit, pushed out of the sixteen bytes
    if (count <= whole) out[whole + 1] = '0';
    out += std::max(count, whole + 1) + 1;
  }
  return static_cast<size_t>(out - buf);
}
#else
size_t format16g(char*, double) { return 0; }
#endif

}  // namespace

size_t formatFloat(char (&buf)[kFloatTextRoom], double value) { return formatFloatInto(buf, value); }

size_t formatFloatInto(char* buf, double value) {
  if (std::isnan(value)) {
    std::copy_n("nan", 3, buf);
    return 3;
  }
  if (size_t size = format16g(buf, value)) return size;
  // Elsewhere the general format with 16 significant digits is "%.16g".
  size_t size = static_cast<size_t>(std::to_chars(buf, buf + 29, value, std::chars_format::general, 16).ptr - buf);
  bool integral = std::all_of(buf, buf + size, [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!integral) return size;
  std::copy_n(".0", 2, buf + size);
  return size + 2;
}

void appendFloat(std::string& out, double value) {
  char buf[kFloatTextRoom];
  out.append(buf, formatFloat(buf, value));
}

double roundTo3(double value) {
  if (!std::isfinite(value)) return value;
  // Fast path, exact: below 1e6 the product is within 1e-7 of value * 1000,
  // so away from a tie it rounds to the same integer k, and k / 1000 is the
  // double nearest to the decimal text "%.3f" gives.
  if (std::fabs(value) < 1e6) {
    double scaled = value * 1000.0;
    // std::round without the call (a library function under Windows): the
    // truncation is exact below 2^63 and so is the fraction left; a value
    // that truncates to zero keeps its sign.
    double whole = std::copysign(static_cast<double>(static_cast<int64_t>(scaled)), scaled);
    if (double fraction = scaled - whole; fraction >= 0.5)
      whole += 1.0;
    else if (fraction <= -0.5)
      whole -= 1.0;
    if (std::fabs(std::fabs(scaled - whole) - 0.5) > 1e-6) return whole / 1000.0;
  }
  char buf[400];  // fixed notation of the largest double needs 309 digits
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, 3);
  double rounded = value;
  std::from_chars(buf, res.ptr, rounded);
  return rounded;
}

bool parseShortDecimal(std::string_view text, double& value) {
  // 10^0 to 10^22, each exact as a double.
  static constexpr double kExact[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                        1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  auto isDigit = [](char c) { return static_cast<unsigned char>(c - '0') < 10; };
  const char* p = text.data();
  const char* const start = p;
  const char* const end = p + text.size();
  while (p != end && *p == '0') ++p;  // leading zeros
  uint64_t mantissa = 0;  // wraps only where more than 15 digits count, which is refused below
  const char* first = p;
  for (; p != end && isDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
  ptrdiff_t significant = p - first, decimals = 0;
  bool digits = p != start;
  if (p != end && *p == '.') {
    const char* fraction = ++p;
    if (mantissa == 0)
      while (p != end && *p == '0') ++p;  // still leading zeros
    const char* counted = p;
    for (; p != end && isDigit(*p); ++p) mantissa = mantissa * 10 + static_cast<uint64_t>(*p - '0');
    significant += p - counted;
    decimals = p - fraction;
    digits = digits || p != fraction;
  }
  if (p != end || !digits || significant > 15 || decimals > 22) return false;
  value = static_cast<double>(mantissa) / kExact[decimals];
  return true;
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
  if (parseShortDecimal({first, static_cast<size_t>(last - first)}, value)) return negative ? -value : value;
  auto res = std::from_chars(first, last, value);
  // Plain decimals cannot underflow, so out of range means too large;
  // from_chars leaves the value alone where an ordinary parser saturates.
  if (res.ec == std::errc::result_out_of_range) value = std::numeric_limits<double>::infinity();
  return negative ? -value : value;
}

std::optional<uint64_t> parseCount(std::string_view text) {
  uint64_t n = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), n);  // no sign taken
  if (text.empty() || ec != std::errc() || end != text.data() + text.size() || n == 0) return std::nullopt;
  return n;
}

std::string tablePathFor(std::string_view path, std::string_view extension) {
  for (size_t i = path.size(); i-- > 1;) {
    char c = path[i];
    if (c == '.') return std::string(path.substr(0, i + 1)) + std::string(extension);
    if (c == '/' || c == '\\') break;
  }
  return std::string(path) + "." + std::string(extension);
}

std::string utf8Text(std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    size_t n = utf8Length(text.data() + i, text.data() + text.size());
    if (n == 0) {
      out += std::string("\\x") + kHex[static_cast<unsigned char>(text[i]) >> 4] +
             kHex[static_cast<unsigned char>(text[i]) & 15];
      ++i;
    } else {
      out.append(text.substr(i, n));
      i += n;
    }
  }
  return out;
}

}  // namespace tlq
