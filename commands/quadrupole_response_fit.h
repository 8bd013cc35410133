// Gradient errors of an optics table's quadrupoles fitted to the measured response
// of one plane or both (analysis/quadrupole_fit.h), with the names, kinds and
// relative errors the outputs give them. The tool and the Python module both fit
// here, so their numbers agree bit for bit.
#ifndef RESPMAT_COMMANDS_QUADRUPOLE_RESPONSE_FIT_H
#define RESPMAT_COMMANDS_QUADRUPOLE_RESPONSE_FIT_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "analysis/dense.h"
#include "commands/measured_response.h"
#include "commands/response_fit.h"
#include "input/optics_table_rows.h"
#include "model/optics_model.h"

namespace respmat {

struct QuadrupoleSettings {
  bool calibrations = false;  // a gain per monitor and a strength per corrector in each plane
  std::optional<std::int32_t> singular_values;
  std::optional<double> rcond;
  double tikhonov = 0.0;
};

// What --fit quadrupoles adds to the fit's options.
struct QuadrupoleFitOptions {
  bool both_planes = false;                 // x from the measured file, y from measured_y
  std::optional<std::string> measured_y;    // the y plane's measured matrix, laid out as the x plane's
  std::optional<std::string> sigma_y;       // its uncertainties
  std::optional<std::string> match;         // quadrupoles: NAME matches, instead of KEYWORD QUADRUPOLE
  QuadrupoleSettings settings;
  std::optional<std::string> beta_beating;  // CSV name,s,beta_beating_x,beta_beating_y at the monitors (rings)
};

// A measured response of one plane beside its optics model.
struct PlaneResponse {
  Plane plane = Plane::x;
  const MeasuredResponse *response = nullptr;
};

struct QuadrupoleResponseFit {
  // quadrupole_gradient per fitted quadrupole, then with calibrations monitor_gain
  // and corrector_strength of each plane in turn (names NAME:x, NAME:y with both);
  // chi2, rms, points, iterations, covariance. `fitted` is empty: see `models`.
  ResponseFit fit;
  std::vector<analysis::Dense> models;  // the fitted model of each plane
  std::int32_t kept = 0;                // directions kept by the cut
  std::vector<std::string> unobservable;
  std::vector<std::optional<double>> relative;  // dK / K1L of each quadrupole_gradient, where K1L is known, not 0
  std::vector<double> errors;                   // dK of every quadrupole, 0 for the unobservable
};

// `scale` is the correctors' (--scale). Fails, saying why, as the analysis does.
[[nodiscard]] std::optional<QuadrupoleResponseFit> fit_quadrupole_response(const std::vector<PlaneResponse> &planes,
                                                                           const OpticsRows &quadrupoles, double scale,
                                                                           const QuadrupoleSettings &settings,
                                                                           std::string &reason);

}  // namespace respmat

#endif
