// Sine and cosine of one angle together, within an ulp of the true values.
// Every revolute joint needs both per pass, and the C library's call was a
// fifth of an arm's inverse dynamics.
//   x = n pi/2 + y,  y = y0 + y1 in [-pi/4, pi/4]  (pi/2 in three parts, each
//   next part only when the previous one cancelled most of x)
//   sin y = y + y^3 P(y^2),  cos y = 1 - y^2/2 + y^4 Q(y^2)  (minimax)
//   the quadrant n & 3 swaps and negates the pair.
#pragma once

#include <cmath>

#include "types/lanes.hpp"

namespace kavrel {

struct SinCos {
  double sin;
  double cos;
};

namespace detail {

// Sine in lane 0, cosine in lane 1: both polynomials in one pass.
[[gnu::always_inline]] inline SinCos quarter_period(double y0, double y1, int n) {
  constexpr double s1 = -0x1.5555555555549p-3;
  constexpr Lanes k0 = {0x1.111111110f8a6p-7, 0x1.555555555554cp-5},
                  k1 = {-0x1.a01a019c161d5p-13, -0x1.6c16c16c15177p-10},
                  k2 = {0x1.71de357b1fe7dp-19, 0x1.a01a019cb159p-16},
                  k3 = {-0x1.ae5e68a2b9cebp-26, -0x1.27e4f809c52adp-22},
                  k4 = {0x1.5d93a5acfd57cp-33, 0x1.1ee9ebdb4b1c4p-29}, k5 = {0.0, -0x1.8fae9be8838d4p-37};
  const double z = y0 * y0;
  const Lanes zz = {z, z}, z2 = zz * zz;
  const Lanes p = (k0 + zz * k1) + z2 * ((k2 + zz * k3) + z2 * (k4 + zz * k5));
  // The tail y1 enters to first order; the large terms are added last.
  const double cube = z * y0;
  const double s = y0 - ((z * (0.5 * y1 - cube * p[0]) - y1) - cube * s1);
  const double half = 0.5 * z, w = 1.0 - half;
  const double c = w + (((1.0 - w) - half) + (z * (z * p[1]) - y0 * y1));
  const double quadrants[4] = {s, c, -s, -c};
  return {quadrants[n & 3], quadrants[(n + 1) & 3]};
}

}  // namespace detail

[[gnu::always_inline]] inline SinCos sin_cos(double x) {
  const double size = std::fabs(x);
  // Joint angles are mostly within a quarter turn: no reduction.
  if (size <= 0x1.921fb54442d18p-1) return detail::quarter_period(x, 0.0, 0);
  // Beyond 2^20 the three parts of pi/2 no longer suffice; NaN and infinities too.
  if (!(size < 0x1p20)) return {std::sin(x), std::cos(x)};
  constexpr double inverse = 0x1.45f306dc9c883p-1, round = 0x1.8p52;
  constexpr double part1 = 0x1.921fb54400000p+0, tail1 = 0x1.0b4611a626331p-34;
  constexpr double part2 = 0x1.0b4611a600000p-34, tail2 = 0x1.3198a2e037073p-69;
  constexpr double part3 = 0x1.3198a2e000000p-69, tail3 = 0x1.b839a252049c1p-104;
  // n * part_k is exact: each part has 33 bits and |n| < 2^20.
  const double n = (x * inverse + round) - round;
  double r = x - n * part1, w = n * tail1, y0 = r - w;
  if (std::fabs(y0) < size * 0x1p-15) [[unlikely]] {
    double t = r;
    w = n * part2, r = t - w, w = n * tail2 - ((t - r) - w), y0 = r - w;
    if (std::fabs(y0) < size * 0x1p-48) {
      t = r;
      w = n * part3, r = t - w, w = n * tail3 - ((t - r) - w), y0 = r - w;
    }
  }
  return detail::quarter_period(y0, (r - y0) - w, int(n));
}

}  // namespace kavrel
