#include "commands/response_fit.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/calibration_fit.h"
#include "analysis/comparison.h"
#include "analysis/linear_fit.h"
#include "analysis/parallel_blocks.h"
#include "base/stop_request.h"
#include "model/phase_model.h"
#include "model/optics_model.h"

namespace respmat {
namespace {

using analysis::Dense;

// Entries of a monitor's row per block of the linear fit: a block's points stay in
// the caches while LAPACK reduces them, and its small calls run on the calling thread.
constexpr std::size_t kColumnsPerBlock = 2048;

// The model's amplitude factor and phase advance (radians) at an entry: what the
// calibrations fit works with. A ring's model has no phase advance for an offset to
// shift: there the factor is the whole model (for a scale of 1), at a quarter turn.
struct PhaseAdvance {
  double factor;
  double angle;
};

// The sine and cosine of a phase (radians), in extended precision, and the root of
// the beta function there (1 for a phase model).
struct Phase {
  long double sin, cos;
  double root;
};

// The basis of the linear fit at an entry: values whose combination with the fitted
// constants is the model there. The sine and cosine of a phase advance come from
// those of its two ends by the angle-difference formulas in extended precision: as
// accurate as one double rounding of the advance, for a few multiplications.
class PointBasis {
 public:
  explicit PointBasis(const MeasuredResponse &response)
      : response_(response), optics_(dynamic_cast<const OpticsModel *>(response.inputs.model.get())),
        ring_(optics_ != nullptr && optics_->lattice() == Lattice::ring) {
    if (ring_) return;
    if (optics_ == nullptr) {
      for (const double phase : response.inputs.phases)
        monitor_phases_.push_back(phase_of(static_cast<long double>(phase) * static_cast<long double>(kFullTurn), 1.0));
      return;
    }
    const auto of_element = [](const OpticsElement &e) {
      return phase_of(2 * std::numbers::pi_v<long double> * e.mu, std::sqrt(e.beta));
    };
    for (const OpticsElement &e : optics_->monitors()) monitor_phases_.push_back(of_element(e));
    for (const OpticsElement &e : optics_->correctors()) corrector_phases_.push_back(of_element(e));
  }

  [[nodiscard]] bool optics() const { return optics_ != nullptr; }
  [[nodiscard]] bool has_phase_advances() const { return !ring_; }
  [[nodiscard]] std::int32_t width() const { return ring_ ? 1 : 2; }

  [[nodiscard]] PhaseAdvance phase_advance(std::size_t i, std::size_t column) const {
    if (ring_) {
      double whole = 0.0;
      values(i, column, &whole);
      return {whole, std::numbers::pi / 2};
    }
    if (optics_ == nullptr) {
      // The phase advance as the model forms it, rounded once.
      const auto angle =
          static_cast<double>((static_cast<long double>(response_.inputs.phases[i]) - response_.inputs.phases[column]) *
                              static_cast<long double>(kFullTurn));
      return {1.0, angle};
    }
    const OpticsElement &mon = optics_->monitors()[i];
    const OpticsElement &cor = optics_->correctors()[column];
    const double turns = mon.mu - cor.mu - std::nearbyint(mon.mu - cor.mu);
    return {std::sqrt(mon.beta) * std::sqrt(cor.beta), 2.0 * std::numbers::pi * turns};
  }

  // width() values at the monitor i and the model's column `column`.
  void values(std::size_t i, std::size_t column, double *out) const {
    if (ring_) {
      const OpticsElement &mon = optics_->monitors()[i];
      const OpticsElement &cor = optics_->correctors()[column];
      const double q = optics_->tune();
      out[0] = std::sqrt(mon.beta) * std::sqrt(cor.beta) / (2.0 * std::sin(std::numbers::pi * q)) *
               std::cos(std::numbers::pi * (2.0 * std::fabs(mon.mu - cor.mu) - q));
      // At a fixed RF frequency, less eta_i eta_j / (alpha_c C), in double as the model's.
      if (const auto &rf = optics_->fixed_rf())
        out[0] -= mon.dispersion / (rf->momentum_compaction * rf->circumference) * cor.dispersion;
      return;
    }
    const Phase &m = monitor_phases_[i];
    const Phase &k = (optics_ == nullptr ? monitor_phases_ : corrector_phases_)[column];
    const double factor = m.root * k.root;
    out[0] = factor * static_cast<double>(m.sin * k.cos - m.cos * k.sin);
    out[1] = factor * static_cast<double>(m.cos * k.cos + m.sin * k.sin);
  }

 private:
  static Phase phase_of(long double angle, double root) { return {sinl(angle), cosl(angle), root}; }

  const MeasuredResponse &response_;
  const OpticsModel *optics_;
  bool ring_;
  // At every phase of a phase model (monitors and correctors alike), or at the
  // monitors and the correctors of a line.
  std::vector<Phase> monitor_phases_, corrector_phases_;
};

double weight(const MeasuredResponse &response, std::size_t entry) {
  return 1.0 / (response.sigma->values[entry] * response.sigma->values[entry]);
}

// The passes of fit, flag and refit that --exclude-outliers may take before its set
// of outliers must have settled: a set that still changes after them is left as the
// last pass found it, and the caller is told.
constexpr int kMostOutlierPasses = 10;

// The entries of the fit whose residual against its model is no outlier: those the
// model reaches, but a left-out corrector's, which have no model to be judged against.
std::vector<unsigned char> without_outliers(const MeasuredResponse &response, ResponseFit &fit, double outlier_k) {
  Dense residual = Dense::unset(response.measured.rows, response.measured.cols);
  for (std::size_t k = 0; k < residual.values.size(); ++k)
    residual.values[k] = response.measured.values[k] - fit.fitted.values[k];
  std::vector<unsigned char> judged = response.reachable;
  const auto cols = static_cast<std::size_t>(response.measured.cols);
  for (const std::int32_t j : fit.left_out_columns)
    for (std::size_t k = static_cast<std::size_t>(j); k < judged.size(); k += cols) judged[k] = 0;
  std::vector<unsigned char> used = response.reachable;
  const analysis::OutlierSearch search =
      analysis::find_outliers(residual, judged, response.sigma ? &*response.sigma : nullptr, outlier_k);
  fit.outlier_spread = search.spread;
  fit.outlier_sigma = search.sigma;
  for (const analysis::Outlier &o : search.outliers)
    used[static_cast<std::size_t>(o.monitor) * static_cast<std::size_t>(response.measured.cols) +
         static_cast<std::size_t>(o.corrector)] = 0;
  return used;
}

// The constants, their errors and their covariance, carried from the linear
// coefficients' to first order.
void linear_parameters(const analysis::LinearFit &fit, bool optics, ResponseFit &result) {
  if (fit.coefficients.size() == 1) {
    result.parameters = {{"scale", fit.coefficients[0], std::sqrt(fit.covariance.at(0, 0)), {}}};
    result.covariance = fit.covariance;
    return;
  }
  const double a = fit.coefficients[0], b = fit.coefficients[1];
  const double amplitude = std::hypot(a, b), offset = std::atan2(b, a);
  const double caa = fit.covariance.at(0, 0), cbb = fit.covariance.at(1, 1), cab = fit.covariance.at(0, 1);
  const double var_amplitude = (a * a * caa + 2 * a * b * cab + b * b * cbb) / (amplitude * amplitude);
  const double var_offset = (b * b * caa - 2 * a * b * cab + a * a * cbb) / std::pow(amplitude, 4);
  // (a/A, b/A) C (-b/A², a/A²)ᵀ
  const double both = (a * b * (cbb - caa) + (a * a - b * b) * cab) / std::pow(amplitude, 3);
  result.parameters = {{optics ? "scale" : "amplitude", amplitude, std::sqrt(var_amplitude), {}},
                       {"offset", offset, std::sqrt(var_offset), {}}};
  result.covariance = analysis::Dense(2, 2);
  result.covariance.at(0, 0) = var_amplitude;
  result.covariance.at(1, 1) = var_offset;
  result.covariance.at(0, 1) = result.covariance.at(1, 0) = both;
}

// The amplitude-offset fit (scale and offset of a line, scale of a ring), by linear
// least squares over blocks of each monitor's row.
std::optional<analysis::LinearFit> fit_constants(const MeasuredResponse &response, const PointBasis &basis,
                                                 const unsigned char *used, std::string &reason) {
  const auto cols = static_cast<std::size_t>(response.measured.cols);
  const std::size_t blocks_per_row = analysis::detail::block_count(cols, kColumnsPerBlock);
  const auto fill = [&](std::size_t block, std::vector<double> &rows) {
    const std::size_t i = block / blocks_per_row, begin = block % blocks_per_row * kColumnsPerBlock;
    rows.clear();
    double values[2];
    for (std::size_t j = begin; j < std::min(cols, begin + kColumnsPerBlock); ++j) {
      const std::size_t k = i * cols + j;
      if (!used[k]) continue;
      basis.values(i, static_cast<std::size_t>(response.corrector_columns[j]), values);
      const double root = response.sigma ? std::sqrt(weight(response, k)) : 1.0;
      for (std::int32_t col = 0; col < basis.width(); ++col) rows.push_back(values[col] * root);
      rows.push_back(response.measured.values[k] * root);
    }
  };
  return analysis::fit_linear(static_cast<std::size_t>(response.measured.rows) * blocks_per_row, basis.width(), fill,
                              response.sigma.has_value(), reason);
}

// Replaces the amplitude-offset fit's parameters by the calibrations, started from
// its amplitude (a ring's scale) and offset. A ring's correctors have no offset.
std::optional<analysis::CalibrationFit> fit_calibrations(const MeasuredResponse &response, const PointBasis &basis,
                                                         const unsigned char *used, ResponseFit &fit,
                                                         FitFailure &failure) {
  const bool offsets = basis.has_phase_advances();
  std::vector<analysis::CalibrationPoint> points;
  const auto rows = static_cast<std::size_t>(response.measured.rows),
             cols = static_cast<std::size_t>(response.measured.cols);
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t j = 0; j < cols; ++j) {
      const std::size_t k = i * cols + j;
      if (!used[k]) continue;
      const PhaseAdvance advance = basis.phase_advance(i, static_cast<std::size_t>(response.corrector_columns[j]));
      points.push_back({static_cast<std::int32_t>(i), static_cast<std::int32_t>(j), response.measured.values[k],
                        response.sigma ? weight(response, k) : 1.0, advance.factor, advance.angle});
    }
  std::optional<analysis::CalibrationFit> calibrations =
      analysis::fit_calibrations(points, response.measured.rows, response.measured.cols, fit.parameters[0].value,
                                 offsets ? fit.parameters[1].value : 0.0, offsets, response.sigma.has_value(),
                                 failure.reason);
  if (!calibrations) return std::nullopt;
  fit.parameters.clear();
  for (std::size_t i = 0; i < rows; ++i)
    fit.parameters.push_back(
        {"monitor_gain", calibrations->gains[i], calibrations->gain_errors[i], response.monitor_names[i]});
  std::vector<bool> fitted(cols, true);
  fit.left_out_columns = calibrations->left_out;
  for (const std::int32_t j : calibrations->left_out) {
    fitted[static_cast<std::size_t>(j)] = false;
    fit.left_out.push_back(response.corrector_names[static_cast<std::size_t>(j)]);
  }
  for (std::size_t j = 0; j < cols; ++j)
    fit.parameters.push_back({"corrector_strength", calibrations->strengths[j], calibrations->strength_errors[j],
                              response.corrector_names[j], fitted[j]});
  for (std::size_t j = 0; j < cols && offsets; ++j)
    fit.parameters.push_back({"corrector_offset", calibrations->offsets[j], calibrations->offset_errors[j],
                              response.corrector_names[j], fitted[j]});
  for (const std::int32_t i : calibrations->inverted)
    fit.warnings.push_back("monitor " + response.monitor_names[static_cast<std::size_t>(i)] +
                           ": its gain is negative (an inverted monitor?); fitted with its sign");
  fit.covariance = std::move(calibrations->covariance);
  fit.chi2_reduced = calibrations->chi2_reduced;
  fit.iterations = calibrations->iterations;
  return calibrations;
}

// The fitted model at every reachable entry, kept when asked for, and the rms of the
// measurement against the model before and after, over the points used. Each
// monitor's sums run along its row and are added in monitor order.
template <typename FittedValue>
void compare_fitted(const MeasuredResponse &response, const unsigned char *used, FittedValue fitted_value, bool keep,
                    ResponseFit &fit) {
  const auto rows = static_cast<std::size_t>(response.measured.rows),
             cols = static_cast<std::size_t>(response.measured.cols);
  if (keep) fit.fitted = Dense::unset(response.measured.rows, response.measured.cols);
  std::vector<double> before(rows), after(rows);
  analysis::detail::for_each_block(rows, analysis::detail::kRowsPerBlock,
                                   [&](std::size_t, std::size_t begin, std::size_t end) {
                                     for (std::size_t i = begin; i < end; ++i)
                                       for (std::size_t j = 0; j < cols; ++j) {
                                         const std::size_t k = i * cols + j;
                                         const double value = response.reachable[k] ? fitted_value(i, j) : 0.0;
                                         if (keep) fit.fitted.values[k] = value;
                                         if (!used[k]) continue;
                                         const double m = response.measured.values[k];
                                         before[i] += (m - response.model.values[k]) * (m - response.model.values[k]);
                                         after[i] += (m - value) * (m - value);
                                       }
                                   });
  double before_sum = 0.0, after_sum = 0.0;
  for (std::size_t i = 0; i < rows; ++i) {
    before_sum += before[i];
    after_sum += after[i];
  }
  const double count = static_cast<double>(fit.points);
  fit.rms_before = std::sqrt(before_sum / count);
  fit.rms_after = std::sqrt(after_sum / count);
}

// The fit over the entries `used`.
std::optional<ResponseFit> fit_entries(const MeasuredResponse &response, const PointBasis &basis,
                                       const unsigned char *used, FitKind kind, bool keep_fitted, FitFailure &failure) {
  failure = {};
  const std::optional<analysis::LinearFit> linear = fit_constants(response, basis, used, failure.reason);
  if (!linear) return std::nullopt;

  ResponseFit fit;
  linear_parameters(*linear, basis.optics(), fit);
  fit.chi2_reduced = linear->chi2_reduced;
  fit.points = linear->points;
  const std::vector<std::int32_t> &columns = response.corrector_columns;
  if (kind == FitKind::calibrations) {
    const std::optional<analysis::CalibrationFit> calibrations = fit_calibrations(response, basis, used, fit, failure);
    if (!calibrations) return std::nullopt;
    // The rms and the points are those of the entries fitted: a corrector left out
    // has no model to be measured against.
    std::vector<unsigned char> fitted(used, used + response.measured.values.size());
    const auto cols = static_cast<std::size_t>(response.measured.cols);
    for (const std::int32_t j : calibrations->left_out)
      for (std::size_t k = static_cast<std::size_t>(j); k < fitted.size(); k += cols) fitted[k] = 0;
    fit.points = calibrations->points;
    compare_fitted(
        response, fitted.data(),
        [&](std::size_t i, std::size_t j) {
          if (std::isnan(calibrations->strengths[j])) return 0.0;
          const PhaseAdvance advance = basis.phase_advance(i, static_cast<std::size_t>(columns[j]));
          return calibrations->gains[i] * calibrations->strengths[j] * advance.factor *
                 std::sin(advance.angle + calibrations->offsets[j]);
        },
        keep_fitted, fit);
    return fit;
  }
  compare_fitted(
      response, used,
      [&](std::size_t i, std::size_t j) {
        double values[2];
        basis.values(i, static_cast<std::size_t>(columns[j]), values);
        double value = 0.0;
        for (std::int32_t col = 0; col < basis.width(); ++col)
          value += values[col] * linear->coefficients[static_cast<std::size_t>(col)];
        return value;
      },
      keep_fitted, fit);
  return fit;
}

}  // namespace

const char *fit_kind_name(FitKind kind) {
  if (kind == FitKind::quadrupoles) return "quadrupoles";
  return kind == FitKind::amplitude_offset ? "amplitude-offset" : "calibrations";
}

std::optional<FitKind> parse_fit_kind(std::string_view name) {
  for (const FitKind kind : {FitKind::amplitude_offset, FitKind::calibrations, FitKind::quadrupoles})
    if (name == fit_kind_name(kind)) return kind;
  return std::nullopt;
}

std::optional<ResponseFit> fit_response(const MeasuredResponse &response, const FitSettings &settings,
                                        FitFailure &failure) {
  const PointBasis basis(response);
  if (!settings.exclude_outliers)
    return fit_entries(response, basis, response.reachable.data(), settings.kind, settings.keep_fitted, failure);
  // Outliers are judged against the fitted model, not the starting one: fit, flag,
  // refit without them, until the flagged set no longer changes.
  std::vector<unsigned char> used = response.reachable;
  for (int pass = 1;; ++pass) {
    stop_if_requested();
    std::optional<ResponseFit> fit = fit_entries(response, basis, used.data(), settings.kind, true, failure);
    if (!fit) return fit;
    std::vector<unsigned char> next = without_outliers(response, *fit, settings.outlier_k);
    const bool settled = next == used;
    if (!settled && pass < kMostOutlierPasses) {
      used = std::move(next);
      continue;
    }
    fit->outlier_passes = pass;
    const auto cols = static_cast<std::size_t>(response.measured.cols);
    for (std::size_t k = 0; k < used.size(); ++k)
      if (response.reachable[k] && !used[k])
        fit->outliers_left_out.push_back({response.monitor_names[k / cols], response.corrector_names[k % cols]});
    if (!settled)
      fit->warnings.push_back("the outliers left out still changed after " + std::to_string(pass) +
                              " passes of fit and refit; the last pass's set is left out");
    if (!settings.keep_fitted) fit->fitted = Dense();
    return fit;
  }
}

}  // namespace respmat
