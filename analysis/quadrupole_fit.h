// Gradient errors of thin quadrupoles fitted to measured response matrices of one or
// both planes, with one error per quadrupole shared by the planes, and optionally a
// gain per monitor and a strength per corrector in each plane (measured ≈ g_i c_j
// R_ij(dK), the gauge of each plane fixed by sum log g_i = 0). Levenberg–Marquardt
// by Ceres Solver with the exact Jacobian, from dK = 0, g = c = 1, in the directions
// the singular-value cut of the starting Jacobian keeps, optionally regularised
// towards 0.
#ifndef RESPMAT_ANALYSIS_QUADRUPOLE_FIT_H
#define RESPMAT_ANALYSIS_QUADRUPOLE_FIT_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"
#include "analysis/quadrupole_response.h"

namespace respmat::analysis {

struct QuadrupoleMeasurement {
  QuadrupolePlane model;
  Dense measured;               // monitors x correctors, per unit corrector change
  std::vector<double> weights;  // per entry: 1/sigma (1 without), 0 where not used
};

struct QuadrupoleFitSettings {
  bool calibrations = false;
  bool weighted = false;  // the weights are 1/sigma: errors are not scaled by the reduced chi-square
  std::optional<std::int32_t> singular_values;  // keep this many directions
  std::optional<double> rcond;                  // keep s_k > rcond s_1 (default max(rows, cols) eps s_1)
  double tikhonov = 0.0;                        // alpha of the residuals alpha dK_q
};

struct PlaneCalibrations {
  std::vector<double> gains, gain_errors;
  std::vector<double> strengths, strength_errors;
};

struct QuadrupoleFit {
  std::vector<std::int32_t> fitted;        // the quadrupoles fitted, in order
  std::vector<std::int32_t> unobservable;  // those no measured entry depends on
  std::vector<double> errors, error_errors;  // per fitted quadrupole
  std::vector<PlaneCalibrations> calibrations;  // per plane, with calibrations
  // Of every fitted parameter: the fitted quadrupoles, then per plane its gains and
  // its strengths.
  Dense covariance;
  std::vector<Dense> models;  // the fitted model of each plane
  double chi2_reduced = 0.0;
  double rms_before = 0.0;  // of measured - model, over the entries used
  double rms_after = 0.0;   // of measured - fitted model
  std::size_t points = 0;
  int iterations = 0;
  std::int32_t kept = 0;  // directions kept by the cut
};

// Fails, saying why, on too few points, no observable quadrupole, no kept direction,
// a singular problem or no convergence.
[[nodiscard]] std::optional<QuadrupoleFit> fit_quadrupoles(const std::vector<QuadrupoleMeasurement> &planes,
                                                           const QuadrupoleFitSettings &settings,
                                                           std::string &reason);

}  // namespace respmat::analysis

#endif
