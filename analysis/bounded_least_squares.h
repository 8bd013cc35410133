// Linear least squares with bounds on the unknowns, for the corrections whose
// correctors have limits: min ‖A θ + b‖² + α²‖θ‖² subject to lower ≤ θ ≤ upper.
#ifndef RESPMAT_ANALYSIS_BOUNDED_LEAST_SQUARES_H
#define RESPMAT_ANALYSIS_BOUNDED_LEAST_SQUARES_H

#include <vector>

#include "analysis/correction.h"
#include "analysis/dense.h"

namespace respmat::analysis::detail {

// L-BFGS-B finds which unknowns sit at a bound; the least-squares problem on the
// others is then solved exactly with LAPACK (a solve that would leave the box stops
// at the first bound it meets, which then holds), and that answer is kept once every
// bound it leans on pushes outward, the optimality conditions: the result is the
// optimum to rounding. Otherwise L-BFGS-B goes on from there. `start` (clamped into
// the box) is where the search begins. Throws std::runtime_error when L-BFGS-B
// rejects the problem or the optimum is not reached in a bounded number of rounds.
[[nodiscard]] std::vector<double> bounded_least_squares(Dense a, const std::vector<double> &b, double alpha,
                                                        std::vector<double> start,
                                                        const std::vector<ChangeLimits> &limits);

}  // namespace respmat::analysis::detail

#endif
