// Showing a matrix on standard output: a numeric dump and a one-character map.
#include <cmath>
#include <cstdint>
#include <cstdio>

#include "respmat/matrix.h"
#include "base/number_conventions.h"

namespace {

// The map character of `v` against the threshold `x`. The "*" product stays in long
// double: 10 times the double nearest 0.1 exceeds 1 only before rounding.
[[nodiscard]] char map_char(double v, double x) {
  const double magnitude = std::fabs(v);
  if (x > magnitude) return '.';
  if (static_cast<long double>(magnitude) * x > 1) return '*';
  if (v > 0) return '+';
  if (v < 0) return '-';
  return '#';
}

}  // namespace

extern "C" void matrix_print(const Matrix M, const char *fmt) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  const respmat::detail::CNumberConventions conventions;
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < cols; ++c) std::printf(fmt, M[r][c]);
    std::putchar('\n');
  }
  std::putchar('\n');
}

extern "C" void matrix_print_map(const Matrix M, double x) {
  const std::int32_t rows = matrix_rows(M);
  const std::int32_t cols = matrix_cols(M);
  // The long double product that picks "*" rounds to nearest, whatever the caller set.
  const respmat::detail::RoundToNearest nearest;
  for (std::int32_t r = 0; r < rows; ++r) {
    for (std::int32_t c = 0; c < cols; ++c) std::putchar(map_char(M[r][c], x));
    std::putchar('\n');
  }
  std::putchar('\n');
}
