#include "sensors/tilt.h"

#include <array>
#include <atomic>
#include <bit>
#include <cmath>
#include <limits>

namespace tlq {
namespace {

// Double-double arithmetic: a value is the unevaluated sum hi + lo with
// |lo| <= ulp(hi) / 2, about 106 bits. Built from the classic error-free
// transformations (Knuth's two-sum, Dekker's product), which need exact IEEE
// rounding of +, - and * and must not be contracted into fused
// multiply-adds: the build passes -ffp-contract=off.
struct DD {
  double hi;
  double lo;
};

DD twoSum(double a, double b) {
  double s = a + b;
  double bb = s - a;
  return {s, (a - (s - bb)) + (b - bb)};
}

DD fastTwoSum(double a, double b) {  // |a| >= |b| or a == 0
  double s = a + b;
  return {s, b - (s - a)};
}

DD twoProd(double a, double b) {
  constexpr double kSplitter = 134217729.0;  // 2^27 + 1: halves of 26 bits
  double p = a * b;
  double ta = kSplitter * a, ah = ta - (ta - a), al = a - ah;
  double tb = kSplitter * b, bh = tb - (tb - b), bl = b - bh;
  return {p, ((ah * bh - p) + ah * bl + al * bh) + al * bl};
}

DD add(DD a, DD b) {
  DD s = twoSum(a.hi, b.hi);
  DD t = twoSum(a.lo, b.lo);
  s = fastTwoSum(s.hi, s.lo + t.hi);
  return fastTwoSum(s.hi, s.lo + t.lo);
}

DD mul(DD a, DD b) {
  DD p = twoProd(a.hi, b.hi);
  return fastTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

DD div(DD a, double b) {
  double q1 = a.hi / b;
  DD p = twoProd(q1, b);
  DD r = add(a, {-p.hi, -p.lo});
  double q2 = r.hi / b;
  p = twoProd(q2, b);
  r = add(r, {-p.hi, -p.lo});
  return add(fastTwoSum(q1, q2), {r.hi / b, 0.0});
}

// sin t = t (c0 + c1 t^2 + c2 t^4 + ...) with ck = (-1)^k / (2k+1)!. For
// |t| <= pi/2 the first term left out, t^39 / 39!, is below 2^-130.
constexpr int kSineTerms = 19;

std::array<DD, kSineTerms> sineCoefficients() {
  std::array<DD, kSineTerms> c{};
  DD term{1.0, 0.0};
  for (int k = 0; k < kSineTerms; ++k) {
    if (k > 0) term = div(div(term, 2.0 * k), 2.0 * k + 1);
    c[k] = k % 2 ? DD{-term.hi, -term.lo} : term;
  }
  return c;
}

DD sine(DD t) {
  static const std::array<DD, kSineTerms> c = sineCoefficients();
  DD u = mul(t, t);
  DD s = c[kSineTerms - 1];
  for (int k = kSineTerms - 2; k >= 0; --k) s = add(mul(s, u), c[k]);
  return mul(s, t);
}

// The sign of sin(y + h) - a, for the midpoint y + h between two doubles.
// It is never zero: a nonzero rational's arcsine is irrational.
bool sineBelow(double y, double h, double a) { return add(sine({y, h}), {-a, 0.0}).hi < 0; }

constexpr double kHalfPi = 1.5707963267948966;  // pi / 2 correctly rounded

}  // namespace

double asinCorrectlyRounded(double x) {
  if (!(std::fabs(x) <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
  if (x == 0.0) return x;
  // asin is odd, and rounding to nearest is symmetric: work on |x|.
  double a = std::fabs(x);
  double y = kHalfPi;
  if (a < 1.0) {
    // The library's value is within an ulp or two of the answer. Since sin
    // increases on [0, pi/2], y is the correctly rounded arcsine exactly when
    // sin(lower midpoint) < a < sin(upper midpoint); else step towards it.
    // Each step moves the same way, so any first guess ends at the answer.
    y = std::asin(a);
    for (;;) {
      uint64_t bits = std::bit_cast<uint64_t>(y);
      double up = std::bit_cast<double>(bits + 1);
      double down = std::bit_cast<double>(bits - 1);
      if (sineBelow(y, (up - y) / 2, a)) {
        y = up;
      } else if (!sineBelow(y, (down - y) / 2, a)) {
        y = down;
      } else {
        break;
      }
    }
  }
  return x < 0 ? -y : y;
}

double tiltDegrees(int16_t acc) {
  // Bit patterns of the results; zero marks a value not yet computed (no
  // result but acc = 0's is +0.0, and that one needs no table).
  static std::atomic<uint64_t> known[65536];
  if (acc == 0) return 0.0;
  std::atomic<uint64_t>& slot = known[static_cast<uint16_t>(acc)];
  if (uint64_t bits = slot.load(std::memory_order_relaxed)) return std::bit_cast<double>(bits);
  double degrees = asinCorrectlyRounded(acc * 0.000030517578125) / 3.141592653589793 * 180.0;
  slot.store(std::bit_cast<uint64_t>(degrees), std::memory_order_relaxed);
  return degrees;
}

}  // namespace tlq
