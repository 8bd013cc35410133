#include "analysis/dense.h"

#include <lapacke.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "analysis/parallel_blocks.h"

namespace respmat::analysis {

namespace {

// Tiles that fit the first-level cache: a row-by-row copy would read or write a whole
// cache line for every entry of a large matrix.
constexpr std::int32_t kTile = 32;

}  // namespace

Dense transposed(const Dense &a) {
  Dense t = Dense::unset(a.cols, a.rows);
  // Each band of rows fills its own columns of the copy.
  detail::for_each_block(static_cast<std::size_t>(a.rows), kTile, [&](std::size_t, std::size_t begin, std::size_t end) {
    const auto i0 = static_cast<std::int32_t>(begin), i1 = static_cast<std::int32_t>(end);
    for (std::int32_t j0 = 0; j0 < a.cols; j0 += kTile)
      for (std::int32_t i = i0; i < i1; ++i)
        for (std::int32_t j = j0; j < std::min(j0 + kTile, a.cols); ++j) t.at(j, i) = a.at(i, j);
  });
  return t;
}

void transpose(Dense &a) {
  if (a.rows != a.cols) {
    a = transposed(a);
    return;
  }
  // Tile by tile at and above the diagonal, each entry swapped with its mirror once; a
  // band of tile rows touches no entry another band does.
  const std::int32_t n = a.rows;
  detail::for_each_block(static_cast<std::size_t>(n), kTile, [&](std::size_t, std::size_t begin, std::size_t end) {
    const auto i0 = static_cast<std::int32_t>(begin), i1 = static_cast<std::int32_t>(end);
    for (std::int32_t j0 = i0; j0 < n; j0 += kTile)
      for (std::int32_t i = i0; i < i1; ++i)
        for (std::int32_t j = j0 == i0 ? i + 1 : j0; j < std::min(j0 + kTile, n); ++j) std::swap(a.at(i, j), a.at(j, i));
  });
}

bool singular_value_decomposition(const Dense &a, Svd &svd) { return singular_value_decomposition(Dense(a), svd); }

bool singular_value_decomposition(Dense &&a, Svd &svd) {
  const lapack_int m = a.rows, n = a.cols, k = std::min(m, n);
  svd.u = Dense(m, k);
  svd.vt = Dense(k, n);
  svd.s.assign(static_cast<std::size_t>(k), 0.0);
  if (k == 0) return true;
  // A row-major A is the column-major Aᵀ = V Σ Uᵀ: LAPACK's left vectors of Aᵀ are Vt
  // row-major and its right vectors U, so no transposed copies are made.
  const lapack_int info = LAPACKE_dgesdd(LAPACK_COL_MAJOR, 'S', n, m, a.values.data(), n, svd.s.data(),
                                         svd.vt.values.data(), n, svd.u.values.data(), k);
  return info == 0;
}

bool minimum_norm_solution(std::int32_t rows, std::int32_t cols, std::vector<double> &&a_columns,
                           const std::vector<double> &b, double rcond, MinimumNormSolution &solution) {
  const lapack_int m = rows, n = cols;
  // b holds the solution on return, so it needs room for max(m, n) values.
  std::vector<double> right_side(b);
  right_side.resize(static_cast<std::size_t>(std::max(m, n)), 0.0);
  solution.s.assign(static_cast<std::size_t>(std::min(m, n)), 0.0);
  lapack_int rank = 0;
  const lapack_int info = LAPACKE_dgelsd(LAPACK_COL_MAJOR, m, n, 1, a_columns.data(), std::max(m, 1), right_side.data(),
                                         std::max({m, n, 1}), solution.s.data(), rcond, &rank);
  if (info != 0) return false;
  right_side.resize(static_cast<std::size_t>(n));
  solution.x = std::move(right_side);
  solution.rank = static_cast<std::int32_t>(rank);
  return true;
}

}  // namespace respmat::analysis
