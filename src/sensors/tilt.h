// Tilt angles of the rk inclinometers, the same to the last bit on every
// platform.
//
// A C library's asin is only nearly correct, and each library errs on other
// inputs, so the same frame would give other digits under Windows than under
// Linux. These functions use the library only for a first guess and settle
// the last bit themselves, with nothing but IEEE-754 additions,
// multiplications and divisions, which every conforming platform rounds alike.
#pragma once

#include <cstdint>

namespace tlq {

// The double nearest to the arcsine of `x` (ties cannot occur): the correctly
// rounded result, for -1 <= x <= 1. Not-a-number outside that range. Checked
// against MPFR for every x = n / 32768, n in -32768 .. 32767.
double asinCorrectlyRounded(double x);

// asin(acc / 32768) / pi * 180 in degrees, evaluated in double precision in
// that order, the arcsine correctly rounded: -90.0 for -32768, 0.0 for 0,
// 30.000000000000004 for 16384. Results are kept after their first use, so a
// recording pays for each acceleration value once; safe from any thread.
double tiltDegrees(int16_t acc);

}  // namespace tlq
