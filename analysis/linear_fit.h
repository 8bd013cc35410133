// Weighted linear least squares: target ≈ basis · coefficients, with the
// coefficients' covariance, for problems of millions of points handed over in blocks.
#ifndef RESPMAT_ANALYSIS_LINEAR_FIT_H
#define RESPMAT_ANALYSIS_LINEAR_FIT_H

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"

namespace respmat::analysis {

struct LinearFit {
  std::vector<double> coefficients;
  // Their covariance: (Bᵀ W B)⁻¹, scaled by the reduced chi-square when the weights
  // are not inverse variances (no uncertainties given).
  Dense covariance;
  double chi2_reduced = 0.0;  // weighted sum of squared residuals over (points - coefficients)
  std::size_t points = 0;
};

// Sets `rows` to the rows of one block of points, one after another: each the
// point's basis values (one per coefficient) and then its target, all multiplied by
// the square root of the point's weight (1 without weights).
using PointBlock = std::function<void(std::size_t block, std::vector<double> &rows)>;

// Fits `unknowns` coefficients to the points of `blocks` blocks, which `fill` gives;
// it is called from several threads at once, once per block. The result depends on
// the blocks alone, not on the number of threads. `inverse_variances`: the weights
// are 1/sigma². Fails, saying why, when there are too few points or the basis is
// singular (its columns dependent, e.g. every phase advance equal).
[[nodiscard]] std::optional<LinearFit> fit_linear(std::size_t blocks, std::int32_t unknowns, const PointBlock &fill,
                                                  bool inverse_variances, std::string &reason);

}  // namespace respmat::analysis

#endif
