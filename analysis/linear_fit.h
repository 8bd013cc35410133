// Weighted linear least squares: target ≈ basis · coefficients, with the
// coefficients' covariance.
#ifndef RESPMAT_ANALYSIS_LINEAR_FIT_H
#define RESPMAT_ANALYSIS_LINEAR_FIT_H

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

// `basis` has a row per point and a column per coefficient; `weights` (one per point,
// 1/sigma²) are inverse variances when given. Fails, saying why, when there are too
// few points or the basis is singular (its columns dependent, e.g. every phase
// advance equal).
[[nodiscard]] std::optional<LinearFit> fit_linear(const Dense &basis, const std::vector<double> &target,
                                                  const std::vector<double> *weights, std::string &reason);

}  // namespace respmat::analysis

#endif
