#include "text.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <system_error>

namespace tlq {

size_t formatFloat(char (&buf)[32], double value) {
  if (std::isnan(value)) {
    std::copy_n("nan", 3, buf);
    return 3;
  }
  // General format with 16 significant digits is exactly "%.16g".
  auto res = std::to_chars(buf, buf + 29, value, std::chars_format::general, 16);
  size_t size = static_cast<size_t>(res.ptr - buf);
  bool integral = std::all_of(buf, res.ptr, [](char c) { return c == '-' || (c >= '0' && c <= '9'); });
  if (!integral) return size;
  std::copy_n(".0", 2, res.ptr);
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
