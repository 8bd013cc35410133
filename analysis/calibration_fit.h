// The calibrations a control room fits: a gain per monitor, a strength and a phase
// offset per corrector, so that measured ≈ g_i c_j f_ij sin(theta_ij + delta_j), with
// f the model's amplitude factor and theta its phase advance (in radians) for the
// pair. Solved by Ceres Solver with analytic derivatives and a sparse Jacobian; the
// gauge (every gain times a number, every strength divided by it) is fixed by
// sum log |g_i| = 0. A gain's sign is that of its monitor's agreement with the
// starting model, so an inverted monitor gets a negative gain.
#ifndef RESPMAT_ANALYSIS_CALIBRATION_FIT_H
#define RESPMAT_ANALYSIS_CALIBRATION_FIT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"

namespace respmat::analysis {

struct CalibrationPoint {
  std::int32_t monitor = 0;
  std::int32_t corrector = 0;
  double value = 0.0;
  double weight = 1.0;  // 1/sigma² when uncertainties are known
  double factor = 1.0;  // f_ij
  double angle = 0.0;   // theta_ij
};

struct CalibrationFit {
  std::vector<double> gains, gain_errors;          // per monitor
  std::vector<double> strengths, strength_errors;  // per corrector (NaN for one left out)
  std::vector<double> offsets, offset_errors;      // per corrector (NaN for one left out)
  // The covariance the errors come from, in the gauge: the gains, then the strengths
  // and (with offsets) the offsets of the correctors fitted, each in their order.
  Dense covariance;
  std::vector<std::int32_t> left_out;              // correctors with too few monitors to fit
  std::vector<std::int32_t> inverted;              // monitors whose gain is negative
  double chi2_reduced = 0.0;
  double rms_after = 0.0;
  std::size_t points = 0;
  int iterations = 0;
  bool converged = false;
};

// `weighted` says whether the weights are inverse variances (the errors are then not
// scaled by the reduced chi-square). Starts from gains 1 and every corrector at
// `amplitude`, `offset`. Without offsets (a model with no phase advance to shift, as
// a ring's: its points carry the whole model in `factor`, at angle π/2) every offset
// stays at `offset`, with error 0, and a corrector needs a single monitor. Fails, saying why, when the problem does not converge, is
// singular or has too few points.
[[nodiscard]] std::optional<CalibrationFit> fit_calibrations(const std::vector<CalibrationPoint> &points,
                                                             std::int32_t monitors, std::int32_t correctors,
                                                             double amplitude, double offset, bool with_offsets,
                                                             bool weighted, std::string &reason);

}  // namespace respmat::analysis

#endif
