#include "analysis/quadrupole_response.h"

#include <cblas.h>
#include <lapacke.h>

#include <vector>

namespace respmat::analysis {

std::optional<PerturbedResponse> perturbed_response(const QuadrupolePlane &plane, std::span<const double> errors) {
  const std::int32_t m = plane.mq.rows, n = plane.qq.rows, c = plane.qc.cols;
  std::vector<double> d(errors.size());
  for (std::size_t q = 0; q < d.size(); ++q) d[q] = plane.sign * errors[q];

  // A = I + G_qq D, and [M | N] = A^-1 [G_qc | G_qq] from one factorisation.
  Dense a(n, n), solved(n, c + n);
  for (std::int32_t i = 0; i < n; ++i) {
    for (std::int32_t j = 0; j < n; ++j) {
      a.at(i, j) = (i == j ? 1.0 : 0.0) + plane.qq.at(i, j) * d[static_cast<std::size_t>(j)];
      solved.at(i, c + j) = plane.qq.at(i, j);
    }
    for (std::int32_t j = 0; j < c; ++j) solved.at(i, j) = plane.qc.at(i, j);
  }
  std::vector<lapack_int> pivots(static_cast<std::size_t>(n));
  if (n > 0 && (LAPACKE_dgetrf(LAPACK_ROW_MAJOR, n, n, a.values.data(), n, pivots.data()) != 0 ||
                LAPACKE_dgetrs(LAPACK_ROW_MAJOR, 'N', n, c + n, a.values.data(), n, pivots.data(),
                               solved.values.data(), c + n) != 0))
    return std::nullopt;

  // G_mq D, then R = K (G_mc - G_mq D M) and L = G_mq - G_mq D N.
  Dense scaled = Dense::unset(m, n);
  for (std::int32_t i = 0; i < m; ++i)
    for (std::int32_t q = 0; q < n; ++q) scaled.at(i, q) = plane.mq.at(i, q) * d[static_cast<std::size_t>(q)];
  PerturbedResponse result{plane.mc, plane.mq, Dense::unset(n, c)};
  if (n > 0) {
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, c, n, -1.0, scaled.values.data(), n,
                solved.values.data(), c + n, 1.0, result.response.values.data(), c);
    cblas_dgemm(CblasRowMajor, CblasNoTrans, CblasNoTrans, m, n, n, -1.0, scaled.values.data(), n,
                solved.values.data() + c, c + n, 1.0, result.left.values.data(), n);
  }
  for (double &v : result.response.values) v *= plane.scale;
  for (std::int32_t i = 0; i < n; ++i)
    for (std::int32_t j = 0; j < c; ++j) result.right.at(i, j) = solved.at(i, j);
  return result;
}

}  // namespace respmat::analysis
