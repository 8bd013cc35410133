#include "analysis/linear_fit.h"

#include <cmath>

namespace respmat::analysis {

std::optional<LinearFit> fit_linear(const Dense &basis, const std::vector<double> &target,
                                    const std::vector<double> *weights, std::string &reason) {
  const std::int32_t points = basis.rows, unknowns = basis.cols;
  if (points <= unknowns) {
    reason = "has " + std::to_string(points) + " points the model reaches, too few to fit " +
             std::to_string(unknowns) + " parameters";
    return std::nullopt;
  }
  LeastSquares solution;
  bool solved = false;
  if (weights == nullptr) {
    solved = least_squares(basis, target, solution);
  } else {
    // Each row scaled by the square root of its weight: ordinary least squares then.
    Dense scaled = basis;
    std::vector<double> scaled_target = target;
    for (std::int32_t i = 0; i < points; ++i) {
      const double root = std::sqrt((*weights)[static_cast<std::size_t>(i)]);
      for (std::int32_t j = 0; j < unknowns; ++j) scaled.at(i, j) *= root;
      scaled_target[static_cast<std::size_t>(i)] *= root;
    }
    solved = least_squares(scaled, scaled_target, solution);
  }
  if (!solved) {
    reason = "gives a singular problem: the points do not tell the parameters apart";
    return std::nullopt;
  }
  LinearFit fit;
  fit.points = static_cast<std::size_t>(points);
  fit.coefficients = solution.x;
  fit.chi2_reduced = solution.residual_sum_of_squares / static_cast<double>(points - unknowns);
  fit.covariance = solution.inverse_normal;
  if (weights == nullptr)
    for (double &c : fit.covariance.values) c *= fit.chi2_reduced;
  return fit;
}

}  // namespace respmat::analysis
