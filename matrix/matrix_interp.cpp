// Bilinear interpolation on the integer grid of a matrix, and its clamps.
#include <cstdint>
#include <limits>

#include "respmat/matrix.h"

extern "C" int32_t matrix_imin2(int32_t a, int32_t b) { return a <= b ? a : b; }

extern "C" int32_t matrix_iclamp0(int32_t a) { return a >= 0 ? a : 0; }

extern "C" double matrix_dclamp0(double x) { return x >= 0 ? x : 0.0; }

extern "C" double matrix_interp(const Matrix M, double a, double b) {
  const std::int32_t last_row = matrix_rows(M) - 1;
  const std::int32_t last_col = matrix_cols(M) - 1;
  if (last_row < 0 || last_col < 0) return std::numeric_limits<double>::quiet_NaN();
  // A position past the last row or column stands for it exactly. Kept as given, its
  // fraction would grow with the distance and cancel away the last row's digits (and
  // from 2^31 on, +infinity included, its integer part would not fit an index).
  if (a > last_row) a = last_row;
  if (b > last_col) b = last_col;

  const std::int32_t i0 = matrix_imin2(static_cast<std::int32_t>(matrix_dclamp0(a)), last_row);
  const std::int32_t j0 = matrix_imin2(static_cast<std::int32_t>(matrix_dclamp0(b)), last_col);
  const std::int32_t i1 = matrix_imin2(i0 + 1, last_row);
  const std::int32_t j1 = matrix_imin2(j0 + 1, last_col);
  // The fractions come from the unclamped positions, so positions below 0 extrapolate.
  const long double fa = static_cast<long double>(a) - i0;
  const long double fb = static_cast<long double>(b) - j0;

  const long double s1 = M[i1][j1] * fb + M[i1][j0] * (1 - fb);
  const long double s0 = fb * M[i0][j1] + (1 - fb) * M[i0][j0];
  return static_cast<double>(s1 * fa + s0 * (1 - fa));
}
