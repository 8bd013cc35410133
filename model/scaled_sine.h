// A faster, bit-identical evaluation of the model's scaled sine.
#ifndef RESPMAT_MODEL_SCALED_SINE_H
#define RESPMAT_MODEL_SCALED_SINE_H

#include <array>
#include <cmath>

namespace respmat {

// Computes (double)(sinl(u) x amplitude), the product formed in extended precision,
// returning exactly what that expression returns, in a fraction of the time.
//
// The sine is first approximated in extended precision from a table: u is reduced
// by multiples of pi/2 to |rest| <= pi/4, the rest is split into a table point x and
// a small h, and sin(x + h) is formed from sin x, cos x and short series for sin h
// and cos h. That approximation is within a few units in the last place of the true
// sine. The product with the amplitude then lies within a known relative distance of
// the exact expression's product; when every number within that distance rounds to
// the same double, that double is the answer. Otherwise (about one case in a
// hundred, when the product is close to a rounding boundary of doubles), and for
// arguments the reduction does not cover, the exact expression is evaluated.
class ScaledSine {
 public:
  explicit ScaledSine(double amplitude);

  [[nodiscard]] double operator()(long double u) const;

  // The exact expression; what operator() always equals.
  [[nodiscard]] double exact(long double u) const;

  // The approximation alone, without the rounding test (for measuring its error).
  [[nodiscard]] long double approximate_sine(long double u) const { return approximate(u).sine; }

 private:
  struct Approximation {
    long double sine;
    long double rest;  // the argument reduced to |rest| <= pi/4 (a little more near halves)
  };
  [[nodiscard]] Approximation approximate(long double u) const;

  // sin and cos at a table point, each as a sum of two doubles.
  struct Point {
    double sin_high, sin_low, cos_high, cos_low;
  };
  static constexpr int kStepsPerRadian = 128;
  static constexpr int kHalfSpan = 101;  // ceil(pi/4 x kStepsPerRadian)

  long double amplitude_;
  std::array<Point, 2 * kHalfSpan + 1> table_{};
};

namespace detail {

// pi/2 in three pieces. The first two have 33 and 31 significant bits, so they are
// doubles and their products with a quadrant count below 2^20 are exact in extended
// precision; the third carries the next 64 bits.
inline constexpr double kHalfPi1 = 0x1.921fb544p+0;
inline constexpr double kHalfPi2 = 0x4.2d18469p-36;
inline constexpr long double kHalfPi3 = 0x8.98cc51701b839a2p-68L;
inline constexpr double kTwoOverPi = 0x0.a2f9836e4e441529p+0;

// Arguments beyond this are rare in practice and left to sinl.
inline constexpr long double kMaxReducedArgument = 0x1p20L;

// The approximation is within 2^-62 of sinl's result, relative (measured over
// hundreds of millions of arguments; the tests hold it below 2^-61), and each of the
// two products adds at most 2^-64: a margin of 2^-60 leaves twice the room needed.
inline constexpr long double kRelativeMargin = 0x1p-60L;

// Below this the reduction's relative error is no longer bounded; use sinl. This
// also keeps the sign of a zero argument.
inline constexpr long double kTinyRest = 0x1p-30L;

inline constexpr double kStep = 1.0 / 128;

// Series for sin h - h and cos h - 1 with |h| <= 1/256 (a little more when a point is
// chosen one off): the omitted terms are below 2^-70.
inline constexpr double kS3 = -1.0 / 6;
inline constexpr double kS5 = 1.0 / 120;
inline constexpr double kS7 = -1.0 / 5040;
inline constexpr double kC2 = -1.0 / 2;
inline constexpr double kC4 = 1.0 / 24;
inline constexpr double kC6 = -1.0 / 720;

// Rounds to the nearest integer for |x| < 2^62, in extended precision: past 1.5 x 2^63
// the spacing of long doubles is 1.
inline long double nearest_integer_extended(long double x) {
  constexpr long double kShift = 0x1.8p63L;
  return (x + kShift) - kShift;
}

// The combined index of approximate(): the quadrant times kIndexSpan plus the table
// point plus kIndexBias, which keeps the point's part from 0 to kIndexSpan - 1.
inline constexpr int kIndexShift = 8;
inline constexpr int kIndexSpan = 1 << kIndexShift;
inline constexpr int kIndexBias = kIndexSpan / 2;

}  // namespace detail

// Defined here so that the loops that evaluate millions of entries inline it. It stays
// in extended precision throughout: every move between the x87 unit and the SSE
// registers goes through memory and costs more than the arithmetic, so the only one
// is the combined integer index of the quadrant and the table point.
inline ScaledSine::Approximation ScaledSine::approximate(long double u) const {
  using namespace detail;
  const long double q = nearest_integer_extended(u * static_cast<long double>(kTwoOverPi));
  const long double rest = ((u - q * kHalfPi1) - q * kHalfPi2) - q * kHalfPi3;
  const long double point = nearest_integer_extended(rest * kStepsPerRadian);
  // Off the table only where long double arithmetic is not extended (under an
  // emulator, or with the x87 precision lowered): a rest of 0 sends the caller to sinl.
  if (!(fabsl(point) <= kHalfSpan)) return {0.0L, 0.0L};
  const long double h = rest - point * static_cast<long double>(kStep);
  const long double h2 = h * h;
  const long double sin_tail = h * h2 * (kS3 + h2 * (kS5 + h2 * kS7));
  const long double cos_minus_1 = h2 * (kC2 + h2 * (kC4 + h2 * kC6));
  const long double sin_h = h + sin_tail;

  // One conversion for both integers: the index is exact in a double.
  const int index = static_cast<int>(static_cast<double>(q * kIndexSpan + (point + kIndexBias)));
  const int quadrant_bits = (index >> kIndexShift) & 3;
  const Point &p = table_[static_cast<std::size_t>((index & (kIndexSpan - 1)) - kIndexBias + kHalfSpan)];
  const long double s = static_cast<long double>(p.sin_high) + p.sin_low;
  const long double c = static_cast<long double>(p.cos_high) + p.cos_low;
  // sin u is +-sin(rest) or +-cos(rest), by quadrant.
  const long double value = (quadrant_bits & 1) != 0 ? c + (c * cos_minus_1 - s * sin_h)
                                                      : s + (s * cos_minus_1 + c * sin_h);
  return {(quadrant_bits & 2) != 0 ? -value : value, rest};
}

inline double ScaledSine::operator()(long double u) const {
  using namespace detail;
  if (!(fabsl(u) < kMaxReducedArgument)) return exact(u);
  const Approximation a = approximate(u);
  if (fabsl(a.rest) < kTinyRest) return exact(u);
  const long double product = a.sine * amplitude_;
  const long double margin = fabsl(product) * kRelativeMargin;
  const double low = static_cast<double>(product - margin);
  const double high = static_cast<double>(product + margin);
  return low == high ? low : exact(u);
}

}  // namespace respmat

#endif
