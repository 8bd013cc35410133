// The response of a thin-lens line or ring with gradient errors at its quadrupoles,
// in one plane, exactly: with G_ab the unperturbed response at a to a unit kick at b
// (m monitors, c correctors, q quadrupoles), K the correctors' scale and
// D = diag(s dK), s = +1 in x and -1 in y,
//   R(dK) = K [G_mc - G_mq D (I + G_qq D)^-1 G_qc].
// Its derivative follows from that of the inverse: with A = I + G_qq D,
//   dR/dK_q = -s K L[:, q] M[q, :],   L = G_mq (I + D G_qq)^-1,   M = A^-1 G_qc,
// and, since (I + D G_qq)^-1 = I - D A^-1 G_qq, one factorisation of A gives both.
//
// A ring's x plane at a fixed RF frequency takes for every G the response at a fixed
// path length, G - eta eta^T / (alpha_c C). A gradient error acts on the orbit only
// through its kick -dK x_q, and the path length held fixed constrains that kick as it
// does a corrector's, so the same formula is then exact, nothing of it first order.
// Written out it is R = K [G'_mc - eta'_m eta'_c^T / P'], with the dispersion and
// alpha_c C of the lattice with errors (eta the design's, P = alpha_c C):
//   eta'_q = (I + G_qq D)^-1 eta_q,   eta'_a = eta_a - G_aq D eta'_q,
//   P' = P - sum_q dK_q eta_q eta'_q,   dP'/dK_q = -eta'_q^2,
// and its derivative keeps the form above, L and M being those of the fixed-length G.
#ifndef RESPMAT_ANALYSIS_QUADRUPOLE_RESPONSE_H
#define RESPMAT_ANALYSIS_QUADRUPOLE_RESPONSE_H

#include <optional>
#include <span>

#include "analysis/dense.h"

namespace respmat::analysis {

struct QuadrupolePlane {
  Dense mc, mq, qq, qc;  // unperturbed responses, unscaled
  double sign = 1.0;     // s: +1 in x, -1 in y
  double scale = 1.0;    // K
};

struct PerturbedResponse {
  Dense response;  // R, monitors x correctors
  Dense left;      // L, monitors x quadrupoles
  Dense right;     // M, quadrupoles x correctors
};

// R at the errors `errors` (one per quadrupole) and the factors of its derivative.
// Nothing when I + G_qq D is singular: errors that close the orbit on itself.
[[nodiscard]] std::optional<PerturbedResponse> perturbed_response(const QuadrupolePlane &plane,
                                                                  std::span<const double> errors);

}  // namespace respmat::analysis

#endif
