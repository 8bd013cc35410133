// The response of a thin-lens line or ring between any two sets of its elements: the
// orbit at each element a per unit kick at each element b, before any error, from
// their beta functions and phase advances in one plane. What the response with
// quadrupole errors is made of: monitors to correctors, monitors to quadrupoles,
// quadrupoles to quadrupoles and quadrupoles to correctors.
//   line: sqrt(beta_a beta_b) sin(2 pi (mu_a - mu_b)) when a is downstream of b
//         (greater S), else 0;
//   ring: sqrt(beta_a beta_b) cos(2 pi |mu_a - mu_b| - pi Q) / (2 sin(pi Q)),
//         at a fixed RF frequency less eta_a eta_b / (alpha_c C): the orbit at a fixed
//         path length, which a gradient error's kick moves as any other kick does.
// Unscaled: the corrector's scale multiplies the whole response afterwards.
#ifndef RESPMAT_MODEL_UNPERTURBED_RESPONSE_H
#define RESPMAT_MODEL_UNPERTURBED_RESPONSE_H

#include <optional>
#include <vector>

#include "model/optics_model.h"

namespace respmat {

// at.size() x from.size() values, row after row. `tune` and `fixed_rf` are read for
// a ring only; with `fixed_rf`, the elements' dispersion too.
[[nodiscard]] std::vector<double> unperturbed_response(const std::vector<OpticsElement> &at,
                                                       const std::vector<OpticsElement> &from, Lattice lattice,
                                                       double tune, const std::optional<FixedRf> &fixed_rf = std::nullopt);

// The first-order relative change of the beta function at each of `at` that thin
// gradient errors `errors` (integrated, focusing in this plane when positive) at
// `quadrupoles` cause in a ring: -sum_q dK_q beta_q cos(4 pi |mu_i - mu_q| - 2 pi Q)
// / (2 sin 2 pi Q).
[[nodiscard]] std::vector<double> beta_beating(const std::vector<OpticsElement> &at,
                                               const std::vector<OpticsElement> &quadrupoles,
                                               const std::vector<double> &errors, double tune);

}  // namespace respmat

#endif
