// The constants that make the model agree with a measured response matrix: the
// amplitude and offset of the phase model (the scale and offset of an optics line,
// the scale of a ring) by weighted linear least squares, or a gain per monitor and a
// strength and phase offset per corrector by Ceres Solver, started from that. The
// tool and the Python module both fit here, so their numbers agree bit for bit.
#ifndef RESPMAT_COMMANDS_RESPONSE_FIT_H
#define RESPMAT_COMMANDS_RESPONSE_FIT_H

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "analysis/comparison.h"
#include "analysis/dense.h"
#include "commands/measured_response.h"

namespace respmat {

enum class FitKind { amplitude_offset, calibrations, quadrupoles };

[[nodiscard]] const char *fit_kind_name(FitKind kind);  // "amplitude-offset", "calibrations", "quadrupoles"
// The kind a name gives; nothing for any other text.
[[nodiscard]] std::optional<FitKind> parse_fit_kind(std::string_view name);

struct FitSettings {
  FitKind kind = FitKind::amplitude_offset;
  bool exclude_outliers = false;  // leave out the outliers of the fitted model, refitting until they settle
  double outlier_k = 5.0;         // past how many sigma an entry is one
  bool keep_fitted = true;        // keep the fitted model, not only its rms
};

struct FitParameter {
  // amplitude, scale or offset; monitor_gain, corrector_strength or corrector_offset
  std::string kind;
  double value = 0.0;
  double error = 0.0;  // its standard error
  std::string name;    // the monitor or corrector it belongs to; empty for the whole model's
  bool fitted = true;  // false for a corrector the calibrations leave out: value and error NaN
};

struct ResponseFit {
  std::vector<FitParameter> parameters;
  // The covariance the errors come from: of the parameters fitted (a left-out
  // corrector's are not), in their order.
  analysis::Dense covariance;
  // The model with the fitted constants, monitors x correctors; 0 where it does not
  // reach. Empty unless kept.
  analysis::Dense fitted;
  double chi2_reduced = 0.0;
  double rms_before = 0.0;  // of measured - model, over the points of the fit (not a left-out corrector's)
  double rms_after = 0.0;   // of measured - fitted, likewise
  std::size_t points = 0;
  int iterations = 1;                 // the solver's, for calibrations
  std::vector<std::string> left_out;  // correctors the calibrations leave out: too few monitors see them
  std::vector<std::int32_t> left_out_columns;  // the same, by their measured column
  std::vector<std::string> warnings;  // results the caller should hear of (a monitor fitted inverted)
  // With outliers excluded: the passes of fit, flag and refit taken, and the entries
  // (monitor, corrector) the last fit left out.
  int outlier_passes = 0;
  std::vector<std::pair<std::string, std::string>> outliers_left_out;
  analysis::OutlierSpread outlier_spread = analysis::OutlierSpread::uncertainties;  // the last pass's
  double outlier_sigma = 0.0;  // its robust spread; NaN with uncertainties
};

// Too few points, a singular problem or no convergence: `reason` says which.
struct FitFailure {
  std::string reason;  // to follow the measured matrix's name: "has 2 points ..."
};

// Fits a response that place_model() has completed; on failure says why in `failure`.
[[nodiscard]] std::optional<ResponseFit> fit_response(const MeasuredResponse &response, const FitSettings &settings,
                                                      FitFailure &failure);

}  // namespace respmat

#endif
