#include "analysis/linear_fit.h"

#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <mutex>
#include <new>

#include "analysis/parallel_blocks.h"

namespace respmat::analysis {
namespace {

// Blocks reduced per task: enough work to pay for handing it out.
constexpr std::size_t kBlocksPerTask = 8;

// The triangle R of A = Q R for `rows` (row-major, `width` values each), by LAPACK's
// dgeqrf: width x width, row-major; fewer rows than `width` stand for themselves.
// Q is never formed: the rows' least-squares problem is R's.
std::vector<double> triangle_of(const std::vector<double> &rows, std::size_t width) {
  const std::size_t count = rows.size() / width;
  if (count < width) return rows;
  std::vector<double> columns(rows.size());
  for (std::size_t i = 0; i < count; ++i)
    for (std::size_t j = 0; j < width; ++j) columns[j * count + i] = rows[i * width + j];
  std::vector<double> tau(width);
  const auto m = static_cast<lapack_int>(count), n = static_cast<lapack_int>(width);
  const lapack_int info = LAPACKE_dgeqrf(LAPACK_COL_MAJOR, m, n, columns.data(), m, tau.data());
  if (info == LAPACK_WORK_MEMORY_ERROR) throw std::bad_alloc();
  std::vector<double> triangle(width * width, 0.0);
  for (std::size_t j = 0; j < width; ++j)
    for (std::size_t i = 0; i <= j; ++i) triangle[i * width + j] = columns[j * count + i];
  return triangle;
}

}  // namespace

std::optional<LinearFit> fit_linear(std::size_t blocks, std::int32_t unknowns, const PointBlock &fill,
                                    bool inverse_variances, std::string &reason) {
  // Each block is reduced to the triangle of its QR decomposition, and the triangles,
  // stacked in block order, once more: the triangle of the whole problem, whose
  // corner holds the norm of the residuals. Every step is an orthogonal
  // transformation, as stable as one decomposition of all the points.
  const auto width = static_cast<std::size_t>(unknowns) + 1;
  const std::size_t tasks = detail::block_count(blocks, kBlocksPerTask);
  std::vector<std::vector<double>> triangles(tasks);
  std::vector<std::size_t> points_of_task(tasks);
  detail::for_each_block(blocks, kBlocksPerTask, [&](std::size_t task, std::size_t begin, std::size_t end) {
    std::vector<double> rows, stacked;
    for (std::size_t b = begin; b < end; ++b) {
      fill(b, rows);
      points_of_task[task] += rows.size() / width;
      const std::vector<double> triangle = triangle_of(rows, width);
      stacked.insert(stacked.end(), triangle.begin(), triangle.end());
    }
    triangles[task] = triangle_of(stacked, width);
  });
  std::vector<double> stacked;
  std::size_t points = 0;
  for (std::size_t t = 0; t < tasks; ++t) {
    stacked.insert(stacked.end(), triangles[t].begin(), triangles[t].end());
    points += points_of_task[t];
  }
  if (points <= static_cast<std::size_t>(unknowns)) {
    reason = "has " + std::to_string(points) + " points the model reaches, too few to fit " + std::to_string(unknowns) +
             " parameters";
    return std::nullopt;
  }
  const std::vector<double> r = triangle_of(stacked, width);
  const auto r_at = [&](std::int32_t i, std::int32_t j) {
    return r[static_cast<std::size_t>(i) * width + static_cast<std::size_t>(j)];
  };

  // The basis's part of R by its singular values: a vanishing one is a singular problem.
  Dense basis_part(unknowns, unknowns);
  for (std::int32_t i = 0; i < unknowns; ++i)
    for (std::int32_t j = i; j < unknowns; ++j) basis_part.at(i, j) = r_at(i, j);
  Svd svd;
  if (!singular_value_decomposition(std::move(basis_part), svd)) {
    reason = "gives a problem LAPACK could not decompose";
    return std::nullopt;
  }
  const double tolerance = static_cast<double>(std::max<std::size_t>(points, width - 1)) *
                           std::numeric_limits<double>::epsilon() * svd.s.front();
  for (const double s : svd.s)
    if (!(s > tolerance)) {
      reason = "gives a singular problem: the points do not tell the parameters apart";
      return std::nullopt;
    }
  LinearFit fit;
  fit.points = points;
  fit.coefficients.assign(width - 1, 0.0);
  fit.covariance = Dense(unknowns, unknowns);
  for (std::int32_t k = 0; k < unknowns; ++k) {
    double projection = 0.0;  // the k-th left vector against Qᵀ target, R's last column
    for (std::int32_t i = 0; i < unknowns; ++i) projection += svd.u.at(i, k) * r_at(i, unknowns);
    const double s = svd.s[static_cast<std::size_t>(k)];
    for (std::int32_t j = 0; j < unknowns; ++j)
      fit.coefficients[static_cast<std::size_t>(j)] += svd.vt.at(k, j) * projection / s;
    for (std::int32_t p = 0; p < unknowns; ++p)
      for (std::int32_t q = 0; q < unknowns; ++q)
        fit.covariance.at(p, q) += svd.vt.at(k, p) * svd.vt.at(k, q) / (s * s);
  }
  const double residual_norm = r_at(unknowns, unknowns);
  fit.chi2_reduced = residual_norm * residual_norm / static_cast<double>(points - static_cast<std::size_t>(unknowns));
  if (!inverse_variances)
    for (double &c : fit.covariance.values) c *= fit.chi2_reduced;
  return fit;
}

}  // namespace respmat::analysis
