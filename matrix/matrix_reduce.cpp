// Reductions of a whole matrix to one value. Elements are visited from the last row
// and column to the first; totals are carried in long double.
#include <cmath>
#include <cstdint>
#include <limits>

#include "respmat/matrix.h"

namespace {

// Calls `visit(e)` for every element in the reference order.
template <typename Visit>
void for_each_element(const Matrix M, Visit visit) {
  const std::int32_t cols = matrix_cols(M);
  for (std::int32_t r = matrix_rows(M); r-- > 0;) {
    const double *row = M[r];
    for (std::int32_t c = cols; c-- > 0;) visit(row[c]);
  }
}

[[nodiscard]] bool is_empty(const Matrix M) { return matrix_rows(M) < 1 || matrix_cols(M) < 1; }

// The element count as an unsigned 32-bit product, as the averages divide by it.
[[nodiscard]] std::uint32_t element_count(const Matrix M) {
  return static_cast<std::uint32_t>(matrix_rows(M)) * static_cast<std::uint32_t>(matrix_cols(M));
}

// Seeds with f(M[0][0]) and lets each visited f(e) replace the running value unless
// keep(running, f(e)) holds; a failed comparison (a NaN on either side) replaces it.
template <typename Map, typename Keep>
[[nodiscard]] double running_extreme(const Matrix M, Map f, Keep keep) {
  if (is_empty(M)) return std::numeric_limits<double>::quiet_NaN();
  double m = f(M[0][0]);
  for_each_element(M, [&](double e) {
    const double v = f(e);
    if (!keep(m, v)) m = v;
  });
  return m;
}

[[nodiscard]] long double total(const Matrix M) {
  long double sum = 0;
  for_each_element(M, [&](double e) { sum += e; });
  return sum;
}

[[nodiscard]] long double total_sq(const Matrix M) {
  long double sum = 0;
  for_each_element(M, [&](double e) { sum += static_cast<long double>(e) * e; });
  return sum;
}

}  // namespace

extern "C" double matrix_dmax2(double a, double b) { return a >= b ? a : b; }

extern "C" double matrix_max(const Matrix M) {
  return running_extreme(M, [](double e) { return e; }, [](double m, double e) { return m >= e; });
}

extern "C" double matrix_min(const Matrix M) {
  return running_extreme(M, [](double e) { return e; }, [](double m, double e) { return e >= m; });
}

extern "C" double matrix_max_abs(const Matrix M) {
  return running_extreme(M, [](double e) { return std::fabs(e); },
                         [](double m, double e) { return m >= e; });
}

extern "C" double matrix_sum(const Matrix M) { return static_cast<double>(total(M)); }

extern "C" double matrix_mean(const Matrix M) {
  return static_cast<double>(total(M) / element_count(M));
}

extern "C" double matrix_sum_sq(const Matrix M) { return static_cast<double>(total_sq(M)); }

extern "C" double matrix_norm(const Matrix M) {
  return static_cast<double>(std::sqrt(total_sq(M)));
}

extern "C" double matrix_rms(const Matrix M) {
  return static_cast<double>(std::sqrt(total_sq(M) / element_count(M)));
}
