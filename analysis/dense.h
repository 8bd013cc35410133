// Matrices held whole, row-major, for the analysis: comparisons, fits and
// corrections of response matrices, with LAPACK doing the linear algebra.
#ifndef RESPMAT_ANALYSIS_DENSE_H
#define RESPMAT_ANALYSIS_DENSE_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "base/unset_allocator.h"

namespace respmat::analysis {

// Matrices of the analysis are large and mostly filled right after they are made, by
// several threads: their storage can be left unset until written.
using Values = std::vector<double, respmat::detail::UnsetAllocator<double>>;

struct Dense {
  std::int32_t rows = 0;
  std::int32_t cols = 0;
  Values values;  // rows x cols, row after row

  Dense() = default;
  // Every entry 0.
  Dense(std::int32_t r, std::int32_t c) : rows(r), cols(c), values(size(r, c), 0.0) {}
  // Entries unset, for the caller to fill every one.
  [[nodiscard]] static Dense unset(std::int32_t r, std::int32_t c) {
    Dense a;
    a.rows = r;
    a.cols = c;
    a.values = Values(size(r, c));
    return a;
  }

  [[nodiscard]] double &at(std::int32_t i, std::int32_t j) {
    return values[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j)];
  }
  [[nodiscard]] double at(std::int32_t i, std::int32_t j) const {
    return values[static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j)];
  }

 private:
  static std::size_t size(std::int32_t r, std::int32_t c) {
    return static_cast<std::size_t>(r) * static_cast<std::size_t>(c);
  }
};

// Aᵀ: a row per column of `a`.
[[nodiscard]] Dense transposed(const Dense &a);
// `a` becomes Aᵀ; a square one in its own storage.
void transpose(Dense &a);

// The thin singular value decomposition A = U diag(s) Vt, as LAPACK's dgesdd gives
// it: U rows x k, s k values largest first, Vt k x cols, k = min(rows, cols).
struct Svd {
  Dense u;
  std::vector<double> s;
  Dense vt;
};

// Fails (returns false) only when LAPACK does not converge or memory runs out.
[[nodiscard]] bool singular_value_decomposition(const Dense &a, Svd &svd);
// The same, using `a`'s storage as LAPACK's working copy (its values are lost): one
// matrix less in memory for large problems.
[[nodiscard]] bool singular_value_decomposition(Dense &&a, Svd &svd);

// The minimum-norm least-squares solution of A x = b, with singular values s_k ≤
// rcond·s₁ taken as zero, by LAPACK's dgelsd: the pseudo-inverse's answer without
// the singular vectors, in little more memory than A. `a_columns` holds A column by
// column (Aᵀ row by row, rows x cols of A given) and is overwritten. False when LAPACK
// does not converge.
struct MinimumNormSolution {
  std::vector<double> x;  // cols values
  std::vector<double> s;  // the singular values of A, largest first
  std::int32_t rank = 0;  // how many of them are above the cut
};
[[nodiscard]] bool minimum_norm_solution(std::int32_t rows, std::int32_t cols, std::vector<double> &&a_columns,
                                         const std::vector<double> &b, double rcond, MinimumNormSolution &solution);

}  // namespace respmat::analysis

#endif
