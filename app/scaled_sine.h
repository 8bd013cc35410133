// A faster, bit-identical evaluation of the model's scaled sine.
#ifndef RESPMAT_APP_SCALED_SINE_H
#define RESPMAT_APP_SCALED_SINE_H

#include <array>

namespace respmat {

// Computes (double)(sinl(u) x amplitude), the product formed in extended precision,
// returning exactly what that expression returns, in a fraction of the time.
//
// The sine is first approximated in extended precision from a table: u is reduced
// by multiples of pi/2 to |r| <= pi/4, r is split into a table point x and a small
// rest h, and sin(x + h) is formed from sin x, cos x and short series for sin h and
// cos h. That approximation is within a few units in the last place of the true
// sine. The product with the amplitude then lies within a known distance of the
// exact expression's product; when every number within that distance rounds to the
// same double, that double is the answer. Otherwise (a few cases in a hundred, when
// the product is close to a rounding boundary of doubles), and for arguments the
// reduction does not cover, the exact expression is evaluated with sinl.
class ScaledSine {
 public:
  explicit ScaledSine(double amplitude);

  [[nodiscard]] double operator()(long double u) const;

  // The exact expression; what operator() must always equal.
  [[nodiscard]] double reference(long double u) const;

  // The approximation alone, without the rounding test (for measuring its error).
  [[nodiscard]] long double approximate_sine(long double u) const;

 private:
  static constexpr int kSteps = 128;  // table points per radian
  static constexpr int kHalfSpan = 101;  // ceil(pi/4 x kSteps)
  struct Approximation {
    long double sine;
    long double rest;  // the argument reduced to |rest| <= pi/4
  };
  [[nodiscard]] Approximation approximate(long double u) const;

  // sin and cos at a table point, each as a sum of two doubles.
  struct Point {
    double sin_high, sin_low, cos_high, cos_low;
  };
  long double amplitude_;
  std::array<Point, 2 * kHalfSpan + 1> table_{};
};

}  // namespace respmat

#endif
