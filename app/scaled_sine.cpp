#include "app/scaled_sine.h"

#include <cmath>

namespace respmat {
namespace {

// pi/2 in three pieces. The first two have 33 and 31 significant bits, so they are
// doubles and their products with a quadrant count below 2^20 are exact in extended
// precision; the third carries the next 64 bits.
constexpr double kHalfPi1 = 0x1.921fb544p+0;
constexpr double kHalfPi2 = 0x4.2d18469p-36;
constexpr long double kHalfPi3 = 0x8.98cc51701b839a2p-68L;
constexpr double kTwoOverPi = 0x0.a2f9836e4e441529p+0;

// Arguments beyond this are rare in practice and left to sinl.
constexpr long double kMaxReducedArgument = 0x1p20L;

// The approximation is within about 2^-62 of the true sine, relative, and sinl within
// about one unit in the last place; a margin of 2^-59 covers both with room.
constexpr long double kRelativeMargin = 0x1p-59L;

// Below this the reduction's relative error is no longer bounded; use sinl. This
// also keeps the sign of a zero argument.
constexpr long double kTinyRest = 0x1p-30L;

constexpr double kStep = 1.0 / 128;  // spacing of the table points

// Series for sin h - h and cos h - 1 with |h| <= 1/256 (a little more when a point is
// chosen one off): the omitted terms are below 2^-70, and these small corrections are
// accurate enough in double precision.
constexpr double kS3 = -1.0 / 6;
constexpr double kS5 = 1.0 / 120;
constexpr double kS7 = -1.0 / 5040;
constexpr double kC2 = -1.0 / 2;
constexpr double kC4 = 1.0 / 24;
constexpr double kC6 = -1.0 / 720;

// Rounds to the nearest integer for |x| < 2^51. The library's nearbyint functions
// save and restore the floating-point environment, which costs more than a whole
// evaluation here. A quadrant or table point chosen one off near a half is harmless:
// the rest then lies just past pi/4 or 1/256, which the table and series still cover.
double nearest_integer(double x) {
  constexpr double kShift = 0x1.8p52;
  return (x + kShift) - kShift;
}

}  // namespace

ScaledSine::ScaledSine(double amplitude) : amplitude_(amplitude) {
  for (int k = -kHalfSpan; k <= kHalfSpan; ++k) {
    const long double x = static_cast<long double>(k) * kStep;
    const long double s = sinl(x);
    const long double c = cosl(x);
    const double s_high = static_cast<double>(s);
    const double c_high = static_cast<double>(c);
    table_[k + kHalfSpan] = {s_high, static_cast<double>(s - s_high), c_high,
                             static_cast<double>(c - c_high)};
  }
}

double ScaledSine::reference(long double u) const {
  return static_cast<double>(sinl(u) * amplitude_);
}

ScaledSine::Approximation ScaledSine::approximate(long double u) const {
  const double quadrant = nearest_integer(static_cast<double>(u) * kTwoOverPi);
  const long double q = quadrant;
  const long double rest = ((u - q * kHalfPi1) - q * kHalfPi2) - q * kHalfPi3;

  const double point = nearest_integer(static_cast<double>(rest) * 128);
  const long double h = rest - point * kStep;
  const double hd = static_cast<double>(h);
  const double h2 = hd * hd;
  const double sin_tail = hd * h2 * (kS3 + h2 * (kS5 + h2 * kS7));
  const double cos_minus_1 = h2 * (kC2 + h2 * (kC4 + h2 * kC6));
  const long double sin_h = h + sin_tail;

  const Point &p = table_[static_cast<int>(point) + kHalfSpan];
  const long double s = static_cast<long double>(p.sin_high) + p.sin_low;
  const long double c = static_cast<long double>(p.cos_high) + p.cos_low;
  // sin u is +-sin(rest) or +-cos(rest), by quadrant.
  const int quadrant_bits = static_cast<int>(static_cast<long long>(quadrant) & 3);
  const long double value = (quadrant_bits & 1) != 0 ? c + (c * cos_minus_1 - s * sin_h)
                                                      : s + (s * cos_minus_1 + c * sin_h);
  return {(quadrant_bits & 2) != 0 ? -value : value, rest};
}

long double ScaledSine::approximate_sine(long double u) const { return approximate(u).sine; }

double ScaledSine::operator()(long double u) const {
  if (!(fabsl(u) < kMaxReducedArgument)) return reference(u);
  const Approximation a = approximate(u);
  if (fabsl(a.rest) < kTinyRest) return reference(u);
  const long double product = a.sine * amplitude_;
  const long double margin = fabsl(product) * kRelativeMargin;
  const double low = static_cast<double>(product - margin);
  const double high = static_cast<double>(product + margin);
  return low == high ? low : reference(u);
}

}  // namespace respmat
