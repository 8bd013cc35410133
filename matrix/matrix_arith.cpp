// In-place element-wise arithmetic. Each new value is formed in long double and
// rounded to double once, when it is stored.
#include <cstdint>

#include "respmat/matrix.h"

namespace {

// Applies `step(a, b)` to every element of A and the matching element of B, from
// the last row and column to the first. Only A's header is read.
template <typename Step>
void for_each_pair(Matrix A, const Matrix B, Step step) {
  const std::int32_t cols = matrix_cols(A);
  for (std::int32_t r = matrix_rows(A); r-- > 0;) {
    double *a = A[r];
    const double *b = B[r];
    for (std::int32_t c = cols; c-- > 0;) a[c] = static_cast<double>(step(a[c], b[c]));
  }
}

}  // namespace

extern "C" void matrix_scale(Matrix A, double x) {
  const std::int32_t cols = matrix_cols(A);
  for (std::int32_t r = matrix_rows(A); r-- > 0;) {
    double *a = A[r];
    for (std::int32_t c = cols; c-- > 0;)
      a[c] = static_cast<double>(static_cast<long double>(a[c]) * x);
  }
}

extern "C" void matrix_add(Matrix A, const Matrix B) {
  for_each_pair(A, B, [](long double a, long double b) { return a + b; });
}

extern "C" void matrix_sub(Matrix A, const Matrix B) {
  for_each_pair(A, B, [](long double a, long double b) { return a - b; });
}

extern "C" void matrix_add_scaled(Matrix A, double x, const Matrix B) {
  const long double scale = x;
  for_each_pair(A, B, [scale](long double a, long double b) { return scale * b + a; });
}

extern "C" void matrix_mul_elem(Matrix A, const Matrix B) {
  for_each_pair(A, B, [](long double a, long double b) { return a * b; });
}
